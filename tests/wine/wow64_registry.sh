#!/usr/bin/env bash
# The Windows program on 64-bit Windows, in a 64-bit Wine prefix, and the
# registry view it sees. A 32-bit program runs under WoW64: its
# HKLM\SOFTWARE is the 32-bit view (HKLM\SOFTWARE\WOW6432Node as 64-bit
# programs see it). A 64-bit program sees the 64-bit view, and nothing of
# it goes to WOW6432Node. The registry is seeded and read with Wine's
# reg.exe, naming the view with /reg:32 or /reg:64.
#
# Usage: wow64_registry.sh CASE QUORVEX_EXE PREFIX WORK_DIR BITS
#   BITS is the program's width, 32 or 64: its own view. The cases:
#   prefix    creates the 64-bit prefix (CTest fixture setup)
#   uninstall_registration_in_<BITS>bit_view
#             a registration in the program's own view gives the install
#             directory
#   version_record_in_<BITS>bit_view
#             the version record is written to and read from the own view
#             only
#   registration_only_in_<other>bit_view
#             a registration only in the other view is not found (exit 5);
#             /p still installs
#   calls_per_file
#             the copy's calls into kernel32, kernelbase and ntdll per file,
#             fresh and on a rerun (which writes nothing), each copy created
#             new and renamed relative to its held folder, no stream
#             copied, the folder lock's rights, and both programs' DLL
#             search set to System32 before anything else
#   link_in_install_folder
#             a folder link in the install folder is opened as itself, its
#             owner and DACL read through the handle, and refused; names
#             planted at a temporary name and a held folder swapped for a
#             link get nothing written through them
#   unreadable_program_folder
#             a program folder that can be entered but not listed (what an
#             elevated program sees of a drive mapped in the user's session)
#             ends the run with 6, installing and recording nothing
#   stop      stops the prefix's wineserver (CTest fixture cleanup)
# Every Wine call is bounded by a timeout, and its output goes to files.
set -uo pipefail
case_name=$1 exe=$2 prefix=$3 work=$4 bits=${5:-32}
case $bits in
  32) own=32 other=64 ;;
  64) own=64 other=32 ;;
  *) echo "BITS is 32 or 64, not '$bits'"; exit 2 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
wine_run="$here/../../scripts/wine-run"
. "$here/relay_trace.sh"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }
finish() {
  [ "$failures" -eq 0 ] && echo "$case_name: all checks passed" || echo "$case_name: $failures checks failed"
  exit $((failures > 0))
}

# wine64 ARGS...: runs in the 64-bit prefix; output in $work/$case_name/last.{out,err}.
wine64() {
  timeout 300 "$wine_run" --arch win64 "$prefix" "$@" >"$dir/last.out" 2>"$dir/last.err" </dev/null
}

case $case_name in
  prefix)
    dir="$work/prefix"
    mkdir -p "$dir"
    if [ ! -x /usr/lib/wine/wine64 ] && ! command -v wine64 >/dev/null 2>&1; then
      echo "FAIL: Wine's 64-bit loader is missing (Debian package wine64)"
      exit 1
    fi
    start=$(date +%s)
    wine64 cmd /c exit 0 || fail "cmd in the 64-bit prefix: exit code $? ($(cat "$dir/last.err"))"
    head -n 8 "$prefix/system.reg" 2>/dev/null | grep -qx '#arch=win64' &&
      ok "$prefix is a 64-bit prefix" || fail "$prefix is not a 64-bit prefix"
    [ -d "$prefix/drive_c/windows/syswow64" ] &&
      ok "it has the 32-bit system folder (syswow64)" || fail "no drive_c/windows/syswow64 in $prefix"
    echo "prefix ready in $(($(date +%s) - start)) s"
    finish
    ;;
  stop)
    WINEPREFIX="$prefix" timeout 60 wineserver -k >/dev/null 2>&1 </dev/null
    exit 0
    ;;
esac

dir="$work/$case_name"
rm -rf "$dir"
mkdir -p "$dir"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# A product of its own for this run, removed from both views at the end.
guid="{5E1C7A20-6464-4000-8000-$(printf '%06d%06d' $((RANDOM % 1000000)) $(($$ % 1000000)))}"
product="Wow64Test$$$RANDOM"
uninstall_key="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$guid"
record_key="HKLM\\SOFTWARE\\Veltrane\\$product\\Manual\\$guid"
cleanup() {
  for view in 32 64; do
    wine64 reg delete "$uninstall_key" /f "/reg:$view"
    wine64 reg delete "HKLM\\SOFTWARE\\Veltrane\\$product" /f "/reg:$view"
  done
}
trap cleanup EXIT

# The kit: the program, its settings (silent) and SRC with one page.
kit="$dir/kit" install="$dir/install"
mkdir -p "$kit/SRC" "$install"
cp "$exe" "$kit/Quorvex.exe"
settings() {
  printf '[Product]\r\nProductGUID=%s\r\nLanguage=en\r\nManualVersion=%s\r\nMessageDisplay=0\r\nProduct=%s\r\n' \
    "$guid" "$1" "$product" >"$kit/Quorvex.ini"
  printf 'manual %s\r\n' "$1" >"$kit/SRC/index.html"
}

# run_installer ARGS...: runs the kit's program; sets rc and output.
run_installer() {
  wine64 "$kit/Quorvex.exe" "$@"
  rc=$?
  output=$(tr -d '\r' <"$dir/last.out")
  cp "$dir/last.out" "$dir/run-$((++runs)).out"
  cp "$dir/last.err" "$dir/run-$runs.err"
}
runs=0

# reg_value KEY NAME VIEW: prints the REG_SZ value; fails when it is not there.
reg_value() {
  wine64 reg query "$1" /v "$2" "/reg:$3" || return 1
  tr -d '\r' <"$dir/last.out" | sed -nE "s/^ +$2 +REG_SZ +(.*)\$/\\1/p" | head -n1
}
reg_set() { wine64 reg add "$1" /v "$2" /t REG_SZ /d "$3" /f "/reg:$4" || fail "reg add $1 /v $2 /reg:$4"; }
key_exists() { wine64 reg query "$1" "/reg:$2"; }

expect_value() {  # KEY NAME VIEW EXPECTED WHAT
  local got
  if got=$(reg_value "$1" "$2" "$3"); then
    [ "$got" = "$4" ] && ok "$5: $2=$got under /reg:$3" || fail "$5: $2=$got under /reg:$3, expected $4"
  else
    fail "$5: no value $2 of $1 under /reg:$3"
  fi
}
expect_no_key() {  # KEY VIEW WHAT
  key_exists "$1" "$2" && fail "$3: $1 exists under /reg:$2" || ok "$3: $1 absent under /reg:$2"
}
expect_run() {  # EXIT_CODE OUTPUT WHAT
  [ "$rc" = "$1" ] && ok "$3: exit code $rc" || fail "$3: exit code $rc, expected $1 (output '$output', errors: $(head -c 500 "$dir/last.err"))"
  [ "$output" = "$2" ] || fail "$3: output '$output', expected '$2'"
}
expect_page() {  # CONTENT WHAT
  if [ -f "$install/index.html" ]; then
    local got
    got=$(tr -d '\r' <"$install/index.html")
    [ "$got" = "$1" ] && ok "$2: installed page '$got'" || fail "$2: installed page '$got', expected '$1'"
  else
    [ -z "$1" ] && ok "$2: nothing installed" || fail "$2: no installed page, expected '$1'"
  fi
}

# Each key as a 64-bit program names the 32-bit view's copy of it.
wow_key() { printf '%s' "$1" | sed 's/^HKLM\\SOFTWARE\\/HKLM\\SOFTWARE\\WOW6432Node\\/'; }
start=$(date +%s)
case $case_name in
  "uninstall_registration_in_${own}bit_view")
    # The registration a product of the program's own width writes.
    reg_set "$uninstall_key" InstallPath0 "$(winpath "$install")" "$own"
    if [ "$own" = 32 ]; then
      expect_value "$(wow_key "$uninstall_key")" InstallPath0 64 "$(winpath "$install")" "the 32-bit view is WOW6432Node"
    else
      expect_no_key "$(wow_key "$uninstall_key")" 64 "not in WOW6432Node"
    fi
    expect_no_key "$uninstall_key" "$other" "not in the ${other}-bit view"
    settings 2.0
    run_installer
    expect_run 0 "" "install without /p"
    expect_page "manual 2.0" "install without /p"
    expect_value "$record_key" en "$own" 2.0 "the version record"
    ;;

  "version_record_in_${own}bit_view")
    settings 2.0
    run_installer "/p$(winpath "$install")"
    expect_run 0 "" "first install"
    expect_page "manual 2.0" "first install"
    expect_value "$record_key" en "$own" 2.0 "written to the ${own}-bit view"
    if [ "$own" = 32 ]; then
      expect_value "$(wow_key "$record_key")" en 64 2.0 "that is WOW6432Node"
    else
      expect_no_key "$(wow_key "$record_key")" 64 "nothing written to WOW6432Node"
    fi
    expect_no_key "$record_key" "$other" "not written to the ${other}-bit view"

    # A later version recorded in the own view refuses the install.
    reg_set "$record_key" en 9.0 "$own"
    settings 3.0
    run_installer "/p$(winpath "$install")"
    expect_run 0 "" "refused silently"
    expect_page "manual 2.0" "refused by the ${own}-bit record"
    expect_value "$record_key" en "$own" 9.0 "the ${own}-bit record stays"

    # A later version recorded only in the other view is not seen.
    wine64 reg delete "HKLM\\SOFTWARE\\Veltrane\\$product" /f "/reg:$own" || fail "reg delete /reg:$own"
    reg_set "$record_key" en 99.0 "$other"
    run_installer "/p$(winpath "$install")"
    expect_run 0 "" "install beside a ${other}-bit record"
    expect_page "manual 3.0" "the ${other}-bit record is not read"
    expect_value "$record_key" en "$own" 3.0 "recorded in the ${own}-bit view"
    expect_value "$record_key" en "$other" 99.0 "the ${other}-bit record untouched"
    ;;

  "registration_only_in_${other}bit_view")
    # The registration of a product of the other width.
    reg_set "$uninstall_key" InstallPath0 "$(winpath "$install")" "$other"
    expect_no_key "$uninstall_key" "$own" "not in the ${own}-bit view"
    settings 2.0
    run_installer
    expect_run 5 "Can not get the install directory!" "install without /p"
    expect_page "" "install without /p"
    expect_no_key "$record_key" 32 "no record"
    expect_no_key "$record_key" 64 "no record"

    run_installer "/p$(winpath "$install")"
    expect_run 0 "" "install with /p"
    expect_page "manual 2.0" "install with /p"
    expect_value "$record_key" en "$own" 2.0 "the version record"
    ;;

  unreadable_program_folder)
    command -v setpriv >/dev/null || { echo "SKIPPED: no setpriv (util-linux)"; exit 77; }
    settings 2.0
    # Root obeys the folder's bits (write and enter, no read) once it has
    # dropped the capabilities that pass over them.
    chmod 0311 "$kit"
    setpriv --bounding-set=-dac_override,-dac_read_search -- \
      timeout 300 "$wine_run" --arch win64 "$prefix" "$kit/Quorvex.exe" "/p$(winpath "$install")" \
      >"$dir/last.out" 2>"$dir/last.err" </dev/null
    rc=$?
    chmod 0755 "$kit"
    output=$(tr -d '\r' <"$dir/last.out")
    expect_run 6 "Can not get the work directory!" "a program folder that cannot be listed"
    expect_page "" "a program folder that cannot be listed"
    expect_no_key "$record_key" "$own" "no record"
    ;;

  calls_per_file)
    # The copy's own calls into kernel32, kernelbase and ntdll (so that a
    # call moved into ntdll still counts), from a relay trace of a 200-file
    # kit: calls made by the program's code (their return address is in its
    # image), from its start to the start of the flush. The per-file flush
    # is left out: it is made only where the volume cannot be flushed, which
    # under Wine is always.
    settings 2.0
    for folder in a b c d; do
      mkdir -p "$kit/SRC/$folder"
      for n in $(seq 1 50); do
        [ "$folder$n" = d50 ] || printf 'page %s %s\r\n' "$folder" "$n" >"$kit/SRC/$folder/page$n.html"
      done
    done
    files=$(find "$kit/SRC" -type f | wc -l)
    # program_calls EXE TRACE: "CALL ARGUMENTS" lines of the system calls
    # that EXE's own code made, in the process that ran it.
    program_calls() {
      relay_program_lines "$1" "$2" own >"$dir/own.lines" ||
        { fail "cannot read the image base and size of $1"; return; }
      awk '/^[0-9a-f]+:Call (KERNEL32|KERNELBASE|ntdll)\./ {
             call = $0
             sub(/^[0-9a-f]+:Call (KERNEL32|KERNELBASE|ntdll)\./, "", call)
             sub(/ ret=[0-9a-f]+$/, "", call)
             name = call; sub(/\(.*/, "", name)
             print name, substr(call, length(name) + 1)
           }' "$dir/own.lines"
    }
    # up_to_flush ALL: the calls up to the start of the install's flush,
    # which opens a volume or a file for writing first, after the walk's
    # last FindClose. (The note of what was there before, written while the
    # walk goes, is flushed the same way.)
    up_to_flush() {
      awk 'NR == FNR { if ($1 == "FindClose") last = FNR; next }
           FNR > last && /^CreateFileA \([0-9a-f]+ "[^"]*",[0-9a-f]*[4c]0000000,/ { exit }
           { print }' "$1" "$1"
    }
    # traced_run NAME: a run into $install; its trace in $dir/NAME.trace,
    # the program's own calls in $dir/NAME.calls.
    traced_run() {
      WINEDEBUG=+pid,+relay timeout 600 "$wine_run" --arch win64 "$prefix" "$kit/Quorvex.exe" \
        "/p$(winpath "$install")" >"$dir/$1.out" 2>"$dir/$1.trace" </dev/null
      rc=$?
      runs=$((runs + 1))
      program_calls "$exe" "$dir/$1.trace" >"$dir/$1.all"
      up_to_flush "$dir/$1.all" >"$dir/$1.calls"
    }
    # first_calls_harden NAME CALLS: DLLs come from System32 only
    # (LOAD_LIBRARY_SEARCH_SYSTEM32), set among the program's first calls,
    # before it reads its command line; then Redirection Guard. (The first
    # calls count ntdll's too: a 32-bit runtime makes a few of its own.)
    first_calls_harden() {
      local at guard command
      at=$(grep -n -m1 -E '^SetDefaultDllDirectories \(00000800\)' "$2" | cut -d: -f1)
      command=$(grep -n -m1 '^GetCommandLineA ' "$2" | cut -d: -f1)
      guard=$(grep -n -m1 -E '^SetProcessMitigationPolicy \(00000010,' "$2" | cut -d: -f1)
      if [ -n "$at" ] && [ "$at" -le 16 ] && { [ -z "$command" ] || [ "$at" -lt "$command" ]; }; then
        ok "$1: SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) is call $at of its own"
      else
        fail "$1: no SetDefaultDllDirectories(0x800) among its first calls: $(head -n 16 "$2" | cut -d' ' -f1 | tr '\n' ' ')"
      fi
      # Redirection Guard (ProcessRedirectionTrustPolicy, 16); Wine only accepts the call.
      [ -n "$guard" ] && [ "$guard" -le 16 ] && { [ -z "$command" ] || [ "$guard" -lt "$command" ]; } &&
        ok "$1: Redirection Guard asked for" || fail "$1: no SetProcessMitigationPolicy(16, ...) among its first calls"
    }
    count() { grep -c -E "^($2) " "$dir/$1.calls"; }
    per_file() {  # NAME GOAL WHAT [EXCLUDED]: the calls per file against the goal
      local calls
      calls=$(grep -v -c -E "^(${4:-none}) " "$dir/$1.calls")
      if awk -v c="$calls" -v f="$files" -v g="$2" 'BEGIN {exit !(c / f <= g)}'; then
        ok "$3: $calls calls for $files files, $(awk -v c="$calls" -v f="$files" 'BEGIN {printf "%.2f", c / f}') per file (goal $2)"
      else
        fail "$3: $calls calls for $files files, more than $2 per file: $(cut -d' ' -f1 "$dir/$1.calls" | sort | uniq -c | sort -rn | head -n 12 | tr -s ' \n' ' ')"
      fi
    }
    same_tree() { diff -r "$kit/SRC" "$install" >/dev/null && ok "$1: the install equals SRC" || fail "$1: the install differs from SRC"; }

    traced_run fresh
    [ "$rc" = 0 ] && ok "fresh install: exit code 0" || fail "fresh install: exit code $rc"
    first_calls_harden Quorvex.exe "$dir/fresh.calls"
    kit_exe="$(dirname "$exe")/QuorvexKit.exe"
    # QUORVEX_CALLS_WITHOUT_KIT=1 leaves QuorvexKit out: under emulation a
    # console program's relay trace (its console host's too) outlasts the
    # time limit. Its first calls are the installer's code.
    if [ "${QUORVEX_CALLS_WITHOUT_KIT:-}" = 1 ]; then
      echo "not run: QuorvexKit.exe's first calls (QUORVEX_CALLS_WITHOUT_KIT=1)"
    elif [ -f "$kit_exe" ]; then
      WINEDEBUG=+pid,+relay timeout 300 "$wine_run" --arch win64 "$prefix" "$kit_exe" --help \
        >"$dir/kit.out" 2>"$dir/kit.trace" </dev/null
      program_calls "$kit_exe" "$dir/kit.trace" >"$dir/kit.calls"
      first_calls_harden QuorvexKit.exe "$dir/kit.calls"
    fi
    same_tree "fresh install"
    # (9.8 before the note of what was there before, the list, and the
    # listing of each folder once more for the identities the list keeps;
    # 10.5 before the look at the disk's space before the first write: SRC
    # listed once more and each volume asked once. A rerun that writes
    # nothing makes no such look.)
    per_file fresh 12 "fresh install"
    # Each file is created new relative to its held folder (FILE_CREATE,
    # FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT |
    # FILE_OPEN_REPARSE_POINT), then renamed through its handle
    # (FileRenameInformation, 10); nothing goes by path.
    created=$(grep -c -E '^NtCreateFile \([0-9a-f]+,[0-9a-f]*40110000,([0-9a-f]+,){4}[0-9a-f]*00000001,[0-9a-f]*00000002,[0-9a-f]*00200160,' "$dir/fresh.calls")
    renamed=$(grep -c -E '^NtSetInformationFile \(([0-9a-f]+,){4}[0-9a-f]*0000000a\)' "$dir/fresh.calls")
    # (One more rename: the note of what was there before, in its folder.)
    [ "$created" = "$files" ] && [ "$renamed" = $((files + 1)) ] &&
      ok "every file created new in its held folder and renamed through its handle" ||
      fail "fresh install: $created copies created relative (FILE_CREATE) and $renamed renamed, for $files files and the note"
    # No open that asks for data or delete access waits for another
    # program's oplock: each passes FILE_COMPLETE_IF_OPLOCKED (0x100).
    waiting=0
    while IFS=, read -r _ access _ _ _ _ _ _ options _; do
      (( (0x$access & ~0x00120180) != 0 && (0x$options & 0x100) == 0 )) && waiting=$((waiting + 1))
    done < <(sed -nE 's/^NtCreateFile \((.*)\)$/\1/p' "$dir/fresh.calls" | tr -d ' ')
    [ "$waiting" = 0 ] && ok "every data or delete open passes FILE_COMPLETE_IF_OPLOCKED" ||
      fail "$waiting NtCreateFile calls with data or delete access wait for oplocks: $(grep '^NtCreateFile' "$dir/fresh.calls" | head -n 2)"
    # The lists' folder is made by path, with permissions of its own: under
    # Wine, which shows it as the running user's, by every run.
    grep -v 'ProgramData' "$dir/fresh.calls" >"$dir/fresh.tree"
    bypath=$(grep -c -E '^(CopyFileA|CopyFileExA|MoveFileExA|CreateDirectoryA|SetFileAttributesA|DeleteFileA) ' "$dir/fresh.tree")
    [ "$bypath" = 0 ] && ok "fresh install: no copy, move, folder or attribute call by path" ||
      fail "fresh install: $bypath calls by path: $(grep -E '^(CopyFileA|CopyFileExA|MoveFileExA|CreateDirectoryA|SetFileAttributesA|DeleteFileA) ' "$dir/fresh.tree" | head -n 3)"
    grep -q 'Zone\.Identifier' "$dir/fresh.calls" &&
      fail "a Zone.Identifier stream named: only data is copied, no stream to remove" ||
      ok "no Zone.Identifier stream made or removed: only the data is copied"
    # The folder lock opens to the accounts that run installers, with the
    # rights to wait on it, let it go and read its owner (READ_CONTROL |
    # SYNCHRONIZE | MUTEX_MODIFY_STATE), and is waited on for 30 s at most.
    locks=$(grep -c -E '^CreateMutexExA \([0-9a-f]+,[0-9a-f]+ "Global\\\\Quorvex-[0-9a-f]{16}",00000000,00120001\)' "$dir/fresh.calls")
    [ "$locks" = 5 ] && ok "one folder lock per folder written, opened for READ_CONTROL | SYNCHRONIZE | MUTEX_MODIFY_STATE" ||
      fail "$locks folder locks opened as CreateMutexExA(security, \"Global\\Quorvex-...\", 0, 0x00120001), expected 5"
    waits=$(grep -c -E '^WaitForSingleObject \([0-9a-f]+,[0-9a-f]*00007530\)' "$dir/fresh.calls")
    [ "$waits" = 5 ] && ok "each lock waited on for 30 s at most" ||
      fail "$waits waits of 30 s (0x7530) for 5 locks: $(grep '^WaitForSingleObject' "$dir/fresh.calls" | head -n 2)"

    # The flush: the volume that the folders' handles name
    # (GetFinalPathNameByHandleA, VOLUME_NAME_GUID), opened for writing;
    # Wine cannot flush it, so each file written and each folder made is
    # flushed through a handle of its own.
    # Counted from there to the write of the list of installed files.
    from=$(($(wc -l <"$dir/fresh.calls") + 1))
    to=$(tail -n +"$from" "$dir/fresh.all" |
      grep -n -m1 -E '^NtCreateFile \(([0-9a-f]+,){7}[0-9a-f]*00000005,' | cut -d: -f1)
    tail -n +"$from" "$dir/fresh.all" | head -n $((${to:-1000000} - 1)) >"$dir/fresh.flush"
    volumes=$(grep '^CreateFileA ' "$dir/fresh.flush" | grep -c -F 'Volume{')
    flushes=$(grep -c '^FlushFileBuffers ' "$dir/fresh.flush")
    [ "$volumes" = 1 ] && [ "$flushes" = $((files + 5)) ] &&
      ok "flush: the folders' one volume, then, as Wine cannot flush it, $files files and 4 new folders" ||
      fail "flush: $volumes volume opens, $flushes FlushFileBuffers (expected 1, then $((files + 5)))"

    traced_run rerun
    [ "$rc" = 0 ] && ok "rerun: exit code 0" || fail "rerun: exit code $rc"
    same_tree "rerun"
    # (10 per file before each identical file lost its Zone.Identifier too;
    # 11 before the shipped program, which trusts no folder under Wine and
    # so no list, noted what is there before its first write, listing the
    # tree once more, and listed each folder for the list's identities. On
    # Windows the list lets such a rerun pass over every file: below.)
    per_file rerun 13 "rerun of the same kit, not counting ReadFile" ReadFile
    # Each identical file loses its Zone.Identifier stream, as a copy lacks
    # one: an open of the stream for DELETE relative to the held folder
    # (FILE_OPEN, FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT |
    # FILE_OPEN_REPARSE_POINT). Wine has no streams: the open finds nothing.
    marks=$(grep -c -E '^NtCreateFile \([0-9a-f]+,[0-9a-f]*00110000,([0-9a-f]+,){4}[0-9a-f]*00000007,[0-9a-f]*00000001,[0-9a-f]*00200160,' "$dir/rerun.calls")
    [ "$marks" = "$files" ] && ok "rerun: each identical file's Zone.Identifier stream opened for removal" ||
      fail "rerun: $marks Zone.Identifier removals for $files identical files"
    # Nothing written in the install; the note of what was there before is
    # one write and one rename in the lists' folder.
    writes='CopyFileExA|MoveFileExA|WriteFile|SetFileAttributesA|SetFileInformationByHandle|DeleteFileA|SetFileTime|CreateDirectoryA|NtSetInformationFile'
    grep -v 'ProgramData' "$dir/rerun.calls" >"$dir/rerun.tree"
    written=$(grep -c -E "^($writes) " "$dir/rerun.tree")
    # (The shipped program, which trusts no lists' folder under Wine, makes
    # one anew, relative to the program-data folder: the one folder made.)
    created=$(grep -E '^NtCreateFile \(([0-9a-f]+,){7}[0-9a-f]*00000002,' "$dir/rerun.calls" |
      grep -c -v -E '^NtCreateFile \(([0-9a-f]+,){8}[0-9a-f]*00200121,')
    folders=$(grep -c -E '^NtCreateFile \(([0-9a-f]+,){7}[0-9a-f]*00000002,[0-9a-f]*00200121,' "$dir/rerun.calls")
    [ "$written" = 2 ] && [ "$created" = 0 ] && [ "$folders" -le 1 ] &&
      ok "rerun: nothing written or created but the note" ||
      fail "rerun: $written writes (2: the note), $created creates: $(grep -E "^($writes) " "$dir/rerun.tree" | head -n 3)"

    # The list of installed files lets a rerun pass over every file
    # unopened. Wine shows every folder as the running user's, which the
    # shipped program does not trust: the test build, told to trust that
    # account, shows what Windows does. Its first run writes the list; the
    # identical rerun lists each folder in bulk through its held handle
    # (FileIdBothDirectoryRestartInfo, then FileIdBothDirectoryInfo) and
    # opens no file of the install. Counted from the walk's first listing
    # of SRC to the flush (which the list's write makes).
    test_build="$(dirname "$exe")/QuorvexKillPoints.exe"
    if [ ! -f "$test_build" ]; then
      echo "not run: the listed rerun (no test build beside $exe)"
      finish
    fi
    cp "$test_build" "$kit/QuorvexKillPoints.exe"
    QUORVEX_TRUST_RUNNING_USER=1 wine64 "$kit/QuorvexKillPoints.exe" "/p$(winpath "$install")" ||
      fail "the test build's run that writes the list: exit code $?"
    QUORVEX_TRUST_RUNNING_USER=1 WINEDEBUG=+pid,+relay timeout 600 "$wine_run" --arch win64 "$prefix" \
      "$kit/QuorvexKillPoints.exe" "/p$(winpath "$install")" "/log=$(winpath "$dir/listed.log")" \
      >"$dir/listed.out" 2>"$dir/listed.trace" </dev/null
    rc=$?
    program_calls "$test_build" "$dir/listed.trace" >"$dir/listed.all"
    up_to_flush "$dir/listed.all" |
      awk '/^FindFirstFileA .*SRC\\\\\*\.\*"/ {walk = 1} walk' >"$dir/listed.calls"
    [ "$rc" = 0 ] && grep -q "passed over (as the last install left them) $files\$" "$dir/listed.log" &&
      ok "listed rerun: exit code 0, all $files files passed over" ||
      fail "listed rerun: exit code $rc, $(grep '^copy:' "$dir/listed.log")"
    same_tree "listed rerun"
    per_file listed 1.5 "listed rerun, from the walk's first listing"
    bulk=$(grep -c -E '^GetFileInformationByHandleEx \([0-9a-f]+,0000000b,' "$dir/listed.calls")
    opened=$(grep -c -E '^NtCreateFile \([0-9a-f]+,[0-9a-f]*80100000,' "$dir/listed.calls")
    [ "$bulk" = 5 ] && [ "$opened" = 0 ] &&
      ok "listed rerun: each of the 5 folders with pages listed in bulk, no page opened" ||
      fail "listed rerun: $bulk bulk listings (expected 5), $opened pages opened for reading"
    ;;

  link_in_install_folder)
    # Wine shows a Unix symbolic link as a reparse point, so the walk's
    # look at a folder it enters can be seen: the folder opened as itself
    # (FILE_FLAG_OPEN_REPARSE_POINT) with rights that take part in sharing,
    # held without delete sharing, its owner and DACL read through the
    # handle. Wine names the running account as every file's owner, and an
    # elevated run trusts only Administrators, SYSTEM and TrustedInstaller:
    # the link is refused on its owner, and nothing lands where it leads.
    # The DACL clauses are tested as a table of descriptors
    # (FoldersAlong.LinksAreFollowedOnlyWhereNoOtherAccountCanChangeThem);
    # an administrator's link that is followed, natively.
    settings 2.0
    mkdir -p "$kit/SRC/docs" "$dir/elsewhere"
    printf 'guide\r\n' >"$kit/SRC/docs/guide.cfg"
    ln -s "$dir/elsewhere" "$install/docs"
    WINEDEBUG=+pid,+relay timeout 300 "$wine_run" --arch win64 "$prefix" "$kit/Quorvex.exe" \
      "/p$(winpath "$install")" "/log=$(winpath "$dir/link.log")" >"$dir/link.out" 2>"$dir/link.trace" </dev/null
    rc=$?
    runs=$((runs + 1))
    # The folder entered relative to its parent's held handle, as itself:
    # READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY |
    # FILE_TRAVERSE | SYNCHRONIZE, read and write sharing, FILE_OPEN,
    # FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_COMPLETE_IF_OPLOCKED |
    # FILE_OPEN_REPARSE_POINT; then its owner and DACL read through a handle.
    # (A 64-bit trace may show a DWORD argument with stray upper bits.)
    relay_program_lines "$exe" "$dir/link.trace" own >"$dir/link.own" ||
      fail "cannot read the image base and size of $exe"
    if grep -a -q -E ':Call ntdll\.NtCreateFile\([0-9a-f]+,[0-9a-f]*001200a1,([0-9a-f]+,){4}[0-9a-f]*00000003,[0-9a-f]*00000001,[0-9a-f]*00200121,' "$dir/link.own"; then
      ok "the linked folder opened as itself relative to its held parent, without delete sharing"
      grep -a -q -E ":Call advapi32\.GetSecurityInfo\([0-9a-f]+,00000001,00000005," "$dir/link.own" &&
        ok "its owner and DACL read through a handle (GetSecurityInfo)" ||
        fail "no GetSecurityInfo(owner | DACL) on a handle"
    else
      fail "the linked folder was not opened relative with 0x1200a1 and FILE_OPEN_REPARSE_POINT"
    fi
    [ "$rc" = 4 ] && [ -z "$(ls -A "$dir/elsewhere")" ] &&
      ok "owned, as Wine says, by the running account: refused (exit 4), nothing written through it" ||
      fail "exit code $rc; elsewhere holds: $(ls "$dir/elsewhere")"
    # (Wine cannot read a Unix link's target as a reparse point: the log may not name it.)
    grep -q "docs: a link.* whose owner is not Administrators, SYSTEM or TrustedInstaller" "$dir/link.log" &&
      ok "the log names the link and the clause" || fail "the log says: $(grep failure "$dir/link.log")"
    # A log whose folder is reached through that link is not written: the
    # run goes on without it, with the same exit code, and says so.
    timeout 300 "$wine_run" --arch win64 "$prefix" "$exe" "/p$(winpath "$install")" \
      "/log=$(winpath "$install/docs/through.log")" >"$dir/through.out" 2>"$dir/through.err" </dev/null
    rc=$?
    runs=$((runs + 1))
    [ ! -e "$dir/elsewhere/through.log" ] &&
      grep -q "the log file .*through.log is not written: .*docs is a link" "$dir/through.err" &&
      ok "a log through that link: not written (the run went on, exit $rc), said on standard error" ||
      fail "a log through the link: exit $rc; elsewhere holds '$(ls -A "$dir/elsewhere")'; $(cat "$dir/through.err")"

    # The temporary name of a page, learnt from a run of the test-only build
    # killed once its copy is written, with something planted under it
    # before the next run: a link to nothing, a second name of a file.
    # Neither is written through; the page is installed. (A link to a file
    # Wine cannot show: it presents a Unix file link as the file it leads
    # to, by name and through a handle opened as the link itself. Natively:
    # FileReplace.TakesOverWhatAKilledRunLeft.)
    kill_points="$(dirname "$exe")/QuorvexKillPoints.exe"
    if [ -f "$kill_points" ]; then
      rm -f "$install/docs"
      mkdir -p "$kit/SRC/planted" "$install/planted"
      printf 'victim\r\n' >"$dir/victim.txt"
      cp "$kill_points" "$kit/QuorvexKillPoints.exe"
      planted=0
      for how in first dangling hardlink; do
        printf 'page %s\r\n' "$how" >"$kit/SRC/planted/page.html"
        touch -d "+$((planted + 1)) minutes" "$kit/SRC/planted/page.html"
        if [ "$how" = first ]; then
          QUORVEX_FAULT_KILL=copy-written:page.html timeout 300 "$wine_run" --arch win64 "$prefix" \
            "$kit/QuorvexKillPoints.exe" "/p$(winpath "$install")" >"$dir/kill.out" 2>&1 </dev/null
          temporary=$(cd "$install/planted" && ls -A | grep '^~q' | head -n 1)
          [ -n "$temporary" ] || { fail "no temporary file left by a run killed at copy-written"; break; }
          rm -f "$install/planted/$temporary"
        else
          case $how in
            dangling) rm -f "$install/planted/$temporary"; ln -s "$dir/nowhere.txt" "$install/planted/$temporary" ;;
            hardlink) rm -f "$install/planted/$temporary"; ln "$dir/victim.txt" "$install/planted/$temporary" ;;
          esac
          timeout 300 "$wine_run" --arch win64 "$prefix" "$kit/Quorvex.exe" "/p$(winpath "$install")" \
            >"$dir/planted.out" 2>&1 </dev/null
          rc=$?
          [ "$rc" = 0 ] && [ "$(tr -d '\r' <"$install/planted/page.html")" = "page $how" ] &&
            [ "$(tr -d '\r' <"$dir/victim.txt")" = victim ] && [ ! -e "$dir/nowhere.txt" ] &&
            [ -n "$(stat -c %A "$dir/victim.txt" | grep w)" ] &&
            ok "a $how planted at the temporary name: not written through, the page installed" ||
            fail "a $how planted at the temporary name: exit code $rc, page '$(cat "$install/planted/page.html")', victim '$(cat "$dir/victim.txt")'$([ -e "$dir/nowhere.txt" ] && echo ', nowhere.txt made')"
        fi
        runs=$((runs + 1))
        planted=$((planted + 1))
      done
      rm -rf "$install/planted"

      # A held folder moved away on the Unix side at a hold point, and a
      # link to elsewhere put in its place: the run, let go, writes nothing
      # through the link. Wine finds no folder for a handle whose folder
      # moved (its next file fails, "invalid handle": exit 4); Windows does
      # not let the held folder move at all, since it is held without
      # delete sharing, which Wine does not enforce on the Unix side.
      mkdir -p "$kit/SRC/swap"
      printf 'a\r\n' >"$kit/SRC/swap/a.html"
      printf 'b\r\n' >"$kit/SRC/swap/b.html"
      rm -rf "$install/swap" "$install/swap.moved" "$dir/release" "$dir/release.held" "$dir/elsewhere"/*
      QUORVEX_FAULT_HOLD="moved:a.html:$(winpath "$dir/release")" timeout 300 "$wine_run" --arch win64 \
        "$prefix" "$kit/QuorvexKillPoints.exe" "/p$(winpath "$install")" "/log=$(winpath "$dir/swap.log")" \
        >"$dir/swap.out" 2>&1 </dev/null &
      swapped=$!
      for _ in $(seq 1 600); do [ -e "$dir/release.held" ] && break; sleep 0.1; done
      if [ -e "$dir/release.held" ]; then
        mv "$install/swap" "$install/swap.moved"
        ln -s "$dir/elsewhere" "$install/swap"
        : >"$dir/release"
        wait "$swapped"
        rc=$?
        [ -z "$(ls -A "$dir/elsewhere")" ] &&
          { [ "$rc" = 4 ] || { [ "$rc" = 0 ] && [ -f "$install/swap.moved/b.html" ]; }; } &&
          ok "a held folder swapped for a link at a hold point: exit $rc, nothing written through the link" ||
          fail "a held folder swapped for a link: exit $rc; elsewhere holds '$(ls -A "$dir/elsewhere")', the moved folder '$(ls -A "$install/swap.moved")'; $(grep failure "$dir/swap.log")"
      else
        kill "$swapped" 2>/dev/null
        fail "the run never reached its hold point after a.html"
      fi
      runs=$((runs + 1))
      rm -rf "$install/swap" "$install/swap.moved" "$kit/SRC/swap"
    fi

    # A folder that is there but cannot be opened (mode 000, with root's
    # capabilities that pass over it dropped, for the program and the
    # prefix's server) is refused too, never walked through by name.
    if command -v setpriv >/dev/null; then
      rm "$install/docs"
      mkdir -p "$kit/SRC/locked" "$install/locked"
      printf 'page\r\n' >"$kit/SRC/locked/page.html"
      chmod 000 "$install/locked"
      # Files are opened by the prefix's server: one started without them.
      WINEPREFIX="$prefix" timeout 60 wineserver -k >/dev/null 2>&1 </dev/null
      setpriv --bounding-set=-dac_override,-dac_read_search -- \
        timeout 300 "$wine_run" --arch win64 "$prefix" "$kit/Quorvex.exe" "/p$(winpath "$install")" \
        "/log=$(winpath "$dir/locked.log")" >"$dir/locked.out" 2>"$dir/locked.err" </dev/null
      rc=$?
      runs=$((runs + 1))
      WINEPREFIX="$prefix" timeout 60 wineserver -k >/dev/null 2>&1 </dev/null
      chmod 755 "$install/locked"
      [ "$rc" = 4 ] && [ ! -e "$install/locked/page.html" ] &&
        grep -q "locked: a link.* that cannot be opened" "$dir/locked.log" &&
        ok "a folder that cannot be opened: refused (exit 4), nothing written into it" ||
        fail "a folder that cannot be opened: exit code $rc; the log says: $(grep failure "$dir/locked.log")"
    fi
    ;;

  *)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
echo "$case_name: $runs runs of the program in $(($(date +%s) - start)) s"
finish
