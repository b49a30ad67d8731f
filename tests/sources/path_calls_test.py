#!/usr/bin/env python3
"""No file call of the Windows programs takes a path in the install tree,
the lists' folder or the log: every one there goes relative to a held
folder (platform/held_folder.h, platform/held_path.h). A call that takes a
path is allowed only where the path is one no other account can swap or is
the kit's own: each place below, with the reason. The stand-in
(src/platform/posix) implements the calls and is not scanned.

Usage: path_calls_test.py SRC_DIR"""
import pathlib
import re
import sys

PATH_CALLS = re.compile(
    r"\b(CreateFile[AW]|CreateDirectory[AW]|CreateDirectoryEx[AW]|GetFileAttributes[AW]|"
    r"GetFileAttributesEx[AW]|SetFileAttributes[AW]|DeleteFile[AW]|RemoveDirectory[AW]|"
    r"MoveFile[AW]|MoveFileEx[AW]|CopyFile[AW]|CopyFileEx[AW]|ReplaceFile[AW]|"
    r"FindFirstFile[AW]|FindFirstFileEx[AW]|GetDiskFreeSpace[AW]|GetDiskFreeSpaceEx[AW]|"
    r"GetNamedSecurityInfo[AW]|SetNamedSecurityInfo[AW]|CreateHardLink[AW]|"
    r"CreateSymbolicLink[AW]|GetShortPathName[AW]|GetLongPathName[AW]|"
    r"GetCompressedFileSize[AW]|RmRegisterResources)\s*\(")

# (file under src/, call): why its path is not the install tree's, the lists' or the log's.
ALLOWED = {
    ("copy/copy_walk.cpp", "GetFileAttributesA"): "the kit: whether a folder of SRC is there",
    ("copy/overwrite_policy.cpp", "CreateFileA"): "the kit: the source file of a decision",
    ("platform/win32/replace_file.cpp", "CreateFileA"): "the kit: the source file of a copy",
    ("platform/win32/identical_copy.cpp", "CreateFileA"): "the kit: the source file compared",
    ("platform/temporary_name.cpp", "GetFileAttributesA"): "the kit: whether SRC has a name",
    ("platform/afx/file_find.cpp", "FindFirstFileA"): "the kit: the listing of SRC",
    ("kit/main.cpp", "GetFileAttributesA"): "the kit folder QuorvexKit is given",
    ("kit/check/settings_check.cpp", "CreateFileA"): "the kit: its settings file",
    ("kit/check/settings_check.cpp", "GetFileAttributesA"): "the kit: its settings file",
    ("kit/check/source_check.cpp", "CreateFileA"): "the kit: its files",
    ("kit/check/source_check.cpp", "GetFileAttributesA"): "the kit: its files",
    ("platform/win32/link_target.cpp", "CreateFileA"): "the kit: links in SRC, for check",
    ("platform/win32/name_text.cpp", "FindFirstFileW"): "the kit: names of SRC, for check",
    ("paths/paths.cpp", "GetFileAttributesA"): "the program's own folder",
    ("paths/paths.cpp", "FindFirstFileA"): "the program's own folder",
    ("platform/win32/held_folder.cpp", "GetFileAttributesA"):
        "Wine's second link signal: it can only add refusals",
    ("platform/win32/plain_file.cpp", "GetFileAttributesA"):
        "Wine's second link signal: it can only add refusals",
    ("platform/win32/held_folder.cpp", "CreateFileA"):
        "the top of a walk: a volume's or a share's root, or a folder named whole by the caller",
    ("platform/win32/durable_writes.cpp", "CreateFileA"):
        "a volume (\\\\?\\Volume{...}), named from a held folder's handle",
    ("platform/win32/file_holders.cpp", "RmRegisterResources"):
        "names the programs that hold a file; nothing is done to the file",
    ("platform/kill_points.cpp", "CreateFileA"): "the test-only build's hold points",
    ("platform/kill_points.cpp", "GetFileAttributesA"): "the test-only build's hold points",
    ("kit/facts/file_facts.cpp", "CreateFileA"):
        "QuorvexKit's previews (plan, verify), which read and never write",
    ("kit/facts/file_facts.cpp", "GetFileAttributesA"):
        "QuorvexKit's previews (plan, verify), which read and never write",
}


def code_only(text):
    """The text with comments and string literals blanked, lines kept."""
    return re.sub(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"',
                  lambda m: re.sub(r"[^\n]", " ", m.group(0)), text, flags=re.S)


def main(src):
    root = pathlib.Path(src)
    found, used = [], set()
    for path in sorted(root.rglob("*")):
        if path.suffix not in (".cpp", ".h") or "posix" in path.relative_to(root).parts:
            continue
        name = path.relative_to(root).as_posix()
        for number, line in enumerate(code_only(path.read_text(errors="replace")).split("\n"), 1):
            for call in PATH_CALLS.findall(line):
                if (name, call) in ALLOWED:
                    used.add((name, call))
                else:
                    found.append(f"{name}:{number}: {call} takes a path")
    for entry in sorted(set(ALLOWED) - used):
        found.append(f"{entry[0]}: {entry[1]} is allowed but no longer called: drop it from the list")
    for line in found:
        print("FAIL: " + line)
    print(f"{len(used)} allowed places of path calls, {len(found)} failed")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
