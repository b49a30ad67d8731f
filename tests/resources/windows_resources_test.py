#!/usr/bin/env python3
"""Checks the resources of a built Windows program of Quorvex.

Reads the executable with pefile (Debian: python3-pefile) and checks:
  - the image: PE32 for i386 or PE32+ for amd64, the console subsystem,
    imports only from DLLs that Windows itself has, none of the calls that
    the programs look up at run time or must not make, and no variable of
    the test-only builds (QUORVEX_FAULT_*, QUORVEX_TRUST_RUNNING_USER);
  - its resource types are exactly the expected ones: the manifest, the
    version and, when --string-ids is given, the string table;
  - the manifest is resource 1 and the only one, well-formed XML, naming the
    image's processor architecture, with the expected requestedExecutionLevel (trustInfo of urn:schemas-microsoft-com:asm.v3),
    uiAccess false, the supportedOS ids of Windows Vista to 10/11, the
    Common Controls 6 dependency and per-monitor DPI awareness;
  - the version resource: its fixed file and product versions and the
    FileVersion and ProductVersion texts are the project version, and
    FileDescription, ProductName, InternalName, OriginalFilename (and
    CompanyName when given) are the expected texts;
  - the string table holds exactly the given ids, in each given language.

Usage (one program; QuorvexKit.exe is checked the same way with its own values):
  windows_resources_test.py --exe build/win32/Quorvex.exe --level requireAdministrator \
      --original-filename Quorvex.exe --version 1.0.0 --machine i386 [--description TEXT] \
      [--product-name Quorvex] [--internal-name Quorvex] [--company-name TEXT] \
      [--string-ids 103-106 [--string-languages 0409,0411]]
Exit code 0 when every check passes, 1 otherwise (each failure is printed).
"""
import argparse
import struct
import sys
import xml.etree.ElementTree as ET

try:
    import pefile
except ImportError:
    print("FAIL: %s has no module pefile (Debian package python3-pefile)" % sys.executable)
    sys.exit(1)

RT_STRING = 6
RT_VERSION = 16
RT_MANIFEST = 24
TYPE_NAMES = {1: "RT_CURSOR", 2: "RT_BITMAP", 3: "RT_ICON", 4: "RT_MENU", 5: "RT_DIALOG",
              RT_STRING: "RT_STRING", 7: "RT_FONTDIR", 8: "RT_FONT", 9: "RT_ACCELERATOR",
              10: "RT_RCDATA", 11: "RT_MESSAGETABLE", 12: "RT_GROUP_CURSOR", 14: "RT_GROUP_ICON",
              RT_VERSION: "RT_VERSION", 17: "RT_DLGINCLUDE", 19: "RT_PLUGPLAY", 20: "RT_VXD",
              21: "RT_ANICURSOR", 22: "RT_ANIICON", 23: "RT_HTML", RT_MANIFEST: "RT_MANIFEST"}

ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPATIBILITY_V1 = "urn:schemas-microsoft-com:compatibility.v1"
SETTINGS_2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
SETTINGS_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Windows Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}


class Checks:
    def __init__(self):
        self.failures = 0

    def check(self, condition, message):
        if condition:
            print("ok: " + message)
        else:
            print("FAIL: " + message)
            self.failures += 1
        return condition

    def equal(self, got, expected, what):
        return self.check(got == expected, "%s is %r (expected %r)" % (what, got, expected))


def type_name(entry):
    if entry.id is not None:
        return TYPE_NAMES.get(entry.id, str(entry.id))
    return str(entry.name)


def resources(pe):
    """{type id or name: {resource id or name: {language id: bytes}}}"""
    found = {}
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is None:
        return found
    for type_entry in root.entries:
        kind = type_entry.id if type_entry.id is not None else str(type_entry.name)
        for id_entry in type_entry.directory.entries:
            rid = id_entry.id if id_entry.id is not None else str(id_entry.name)
            for language_entry in id_entry.directory.entries:
                data = language_entry.data.struct
                found.setdefault(kind, {}).setdefault(rid, {})[language_entry.id] = \
                    pe.get_data(data.OffsetToData, data.Size)
    return found


def parse_ids(text):
    ids = set()
    for part in text.split(","):
        if "-" in part:
            first, last = part.split("-")
            ids.update(range(int(first), int(last) + 1))
        elif part:
            ids.add(int(part))
    return ids


def string_table(bundles):
    """{language: {string id: text}} from the RT_STRING bundles of 16 strings."""
    tables = {}
    for bundle, languages in bundles.items():
        for language, data in languages.items():
            offset = 0
            for index in range(16):
                (length,) = struct.unpack_from("<H", data, offset)
                offset += 2
                text = data[offset:offset + 2 * length].decode("utf-16-le")
                offset += 2 * length
                if length:
                    tables.setdefault(language, {})[(bundle - 1) * 16 + index] = text
    return tables


def check_manifest(checks, manifests, level, architecture):
    checks.equal(sorted(manifests), [1], "the manifest resource ids")
    if 1 not in manifests:
        return
    checks.equal(len(manifests[1]), 1, "the number of languages of manifest 1")
    data = next(iter(manifests[1].values()))
    try:
        root = ET.fromstring(data)
    except ET.ParseError as error:
        checks.check(False, "the manifest is well-formed XML (%s)" % error)
        return
    checks.check(True, "the manifest is well-formed XML (%d bytes)" % len(data))
    checks.equal(root.tag, "{%s}assembly" % ASM_V1, "the manifest's root element")
    checks.equal(root.get("manifestVersion"), "1.0", "manifestVersion")
    identities = root.findall("{%s}assemblyIdentity" % ASM_V1)
    if checks.equal(len(identities), 1, "the number of the program's assemblyIdentity elements"):
        checks.equal(identities[0].get("processorArchitecture"), architecture,
                     "the program's processorArchitecture")

    v3 = "{%s}" % ASM_V3
    levels = root.findall("%strustInfo/%ssecurity/%srequestedPrivileges/%srequestedExecutionLevel"
                          % (v3, v3, v3, v3))
    if checks.equal(len(levels), 1, "the number of requestedExecutionLevel elements in asm.v3 "
                    "trustInfo/security/requestedPrivileges"):
        checks.equal(levels[0].get("level"), level, "the requested execution level")
        checks.equal(levels[0].get("uiAccess"), "false", "uiAccess")
    checks.equal(len(list(root.iter(v3 + "requestedExecutionLevel"))), 1,
                 "the number of requestedExecutionLevel elements anywhere")

    compat = "{%s}" % COMPATIBILITY_V1
    ids = [element.get("Id", "").lower() for element in
           root.findall("%scompatibility/%sapplication/%ssupportedOS" % (compat, compat, compat))]
    for guid, name in SUPPORTED_OS.items():
        checks.check(guid in ids, "supportedOS %s (%s)" % (guid, name))
    checks.equal(sorted(ids), sorted(SUPPORTED_OS), "the supportedOS ids")

    v1 = "{%s}" % ASM_V1
    controls = [identity for identity in
                root.findall("%sdependency/%sdependentAssembly/%sassemblyIdentity" % (v1, v1, v1))
                if identity.get("name") == "Microsoft.Windows.Common-Controls"]
    if checks.equal(len(controls), 1, "the number of Common Controls dependencies"):
        identity = controls[0]
        checks.equal(identity.get("type", "").lower(), "win32", "Common Controls type")
        checks.equal(identity.get("version"), "6.0.0.0", "Common Controls version")
        checks.equal(identity.get("processorArchitecture"), "*", "Common Controls processorArchitecture")
        checks.equal(identity.get("publicKeyToken"), "6595b64144ccf1df", "Common Controls publicKeyToken")
        checks.equal(identity.get("language"), "*", "Common Controls language")

    settings = root.findall("%sapplication/%swindowsSettings" % (v3, v3))
    if checks.equal(len(settings), 1, "the number of windowsSettings elements"):
        aware = settings[0].findall("{%s}dpiAware" % SETTINGS_2005)
        awareness = settings[0].findall("{%s}dpiAwareness" % SETTINGS_2016)
        checks.equal([element.text.strip() for element in aware], ["true/pm"], "dpiAware")
        checks.equal([element.text.strip() for element in awareness], ["PerMonitorV2"], "dpiAwareness")


# The DLLs a Windows program may import: the system's own. A MinGW runtime
# DLL (libgcc_s, libstdc++, libwinpthread) would have to ship beside it.
SYSTEM_DLLS = {"advapi32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ntdll.dll",
               "ole32.dll", "shell32.dll", "user32.dll", "version.dll"}
MACHINES = {"i386": (0x14C, 0x10B, "x86"), "amd64": (0x8664, 0x20B, "amd64")}
# Calls a program looks up at run time where Windows has them: imported,
# the program would not start on a Windows without them (the DPI calls of
# Windows 10 1607, shcore's of 8.1, the loader's and the mitigation policy
# of Windows 8), and the Restart Manager's, whose DLL is loaded from System32
# alone (imported, it would be looked for in the kit's folder first). And
# the lookup of a window by its title, which any program on the same desktop
# can answer with a window of its own.
NOT_IMPORTED = {"GetDpiForWindow", "AdjustWindowRectExForDpi", "SystemParametersInfoForDpi",
                "GetDpiForMonitor", "SetDefaultDllDirectories", "SetProcessMitigationPolicy",
                "RmStartSession", "RmRegisterResources", "RmGetList", "RmEndSession",
                "FindWindowA", "FindWindowW"}
# What only the test-only builds read (QuorvexKillPoints.exe and
# QuorvexKitKillPoints.exe): the shipped programs link none of it.
TEST_BUILD_VARIABLES = ["QUORVEX_FAULT_", "QUORVEX_TRUST_RUNNING_USER"]


def check_image(checks, pe, machine):
    number, magic, architecture = MACHINES[machine]
    checks.equal(hex(pe.FILE_HEADER.Machine), hex(number), "the machine (%s)" % machine)
    checks.equal(hex(pe.OPTIONAL_HEADER.Magic), hex(magic),
                 "the optional header (%s)" % ("PE32+" if magic == 0x20B else "PE32"))
    checks.equal(pe.OPTIONAL_HEADER.Subsystem, 3, "the subsystem (console)")
    imported = sorted(entry.dll.decode("ascii", "replace").lower()
                      for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    checks.check(bool(imported), "it imports DLLs (%s)" % ", ".join(imported))
    foreign = [name for name in imported if name not in SYSTEM_DLLS]
    checks.equal(foreign, [], "the imported DLLs that Windows does not have")
    functions = imported_functions(pe)
    checks.check(len(functions) > 10, "it imports functions by name (%d)" % len(functions))
    checks.equal(sorted(functions & NOT_IMPORTED), [], "the imported calls it must not import")
    found = [name for name in TEST_BUILD_VARIABLES if pe.__data__.find(name.encode("ascii")) >= 0]
    checks.equal(found, [], "the test-only builds' variables in the image")
    return architecture


def imported_functions(pe):
    """The names of the functions the image imports, delay-loaded ones too."""
    names = set()
    for directory in ("DIRECTORY_ENTRY_IMPORT", "DIRECTORY_ENTRY_DELAY_IMPORT"):
        for entry in getattr(pe, directory, []):
            names.update(symbol.name.decode("ascii", "replace") for symbol in entry.imports
                         if symbol.name)
    return names


def check_version(checks, pe, versions, arguments):
    checks.equal(sorted(versions), [1], "the version resource ids")
    numbers = [int(part) for part in arguments.version.split(".")]
    numbers += [0] * (4 - len(numbers))
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not checks.check(bool(fixed), "the version resource has a VS_FIXEDFILEINFO"):
        return
    fixed = fixed[0]
    checks.equal(fixed.Signature, 0xFEEF04BD, "the VS_FIXEDFILEINFO signature")
    file_version = [fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                    fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF]
    product_version = [fixed.ProductVersionMS >> 16, fixed.ProductVersionMS & 0xFFFF,
                       fixed.ProductVersionLS >> 16, fixed.ProductVersionLS & 0xFFFF]
    checks.equal(file_version, numbers, "the fixed file version")
    checks.equal(product_version, numbers, "the fixed product version")
    checks.equal(fixed.FileType, 1, "the file type (VFT_APP)")
    checks.equal(fixed.FileFlags & fixed.FileFlagsMask, 0, "the file flags")

    strings = {}
    translations = []
    for group in getattr(pe, "FileInfo", []):
        for info in group:
            if info.Key == b"StringFileInfo":
                for table in info.StringTable:
                    checks.equal(table.LangID.lower(), b"040904b0", "the string table's language")
                    for key, value in table.entries.items():
                        strings[key.decode("utf-8")] = value.decode("utf-8")
            elif info.Key == b"VarFileInfo":
                for var in info.Var:
                    translations.extend(var.entry.values())
    checks.equal(translations, ["0x0409 0x04b0"], "the Translation value")
    expected = {
        "FileVersion": arguments.version,
        "ProductVersion": arguments.version,
        "OriginalFilename": arguments.original_filename,
        "ProductName": arguments.product_name,
        "InternalName": arguments.internal_name or arguments.original_filename.rsplit(".", 1)[0],
    }
    if arguments.description is not None:
        expected["FileDescription"] = arguments.description
    else:
        checks.check(bool(strings.get("FileDescription")), "FileDescription is not empty")
    if arguments.company_name is not None:
        expected["CompanyName"] = arguments.company_name
    for key, value in expected.items():
        checks.equal(strings.get(key), value, key)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--level", required=True, choices=["requireAdministrator", "asInvoker"])
    parser.add_argument("--original-filename", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--machine", required=True, choices=sorted(MACHINES))
    parser.add_argument("--description")
    parser.add_argument("--product-name", default="Quorvex")
    parser.add_argument("--internal-name")
    parser.add_argument("--company-name")
    parser.add_argument("--string-ids", help="e.g. 103-106; no string table is expected without it")
    parser.add_argument("--string-languages", help="hexadecimal language ids, e.g. 0409,0411")
    arguments = parser.parse_args()

    checks = Checks()
    print("checking %s" % arguments.exe)
    try:
        pe = pefile.PE(arguments.exe)
    except (OSError, pefile.PEFormatError) as error:
        print("FAIL: cannot read %s: %s" % (arguments.exe, error))
        return 1
    architecture = check_image(checks, pe, arguments.machine)
    found = resources(pe)
    expected_types = {RT_MANIFEST, RT_VERSION}
    if arguments.string_ids:
        expected_types.add(RT_STRING)
    checks.equal(sorted(TYPE_NAMES.get(kind, str(kind)) for kind in found),
                 sorted(TYPE_NAMES[kind] for kind in expected_types), "the resource types")

    check_manifest(checks, found.get(RT_MANIFEST, {}), arguments.level, architecture)
    check_version(checks, pe, found.get(RT_VERSION, {}), arguments)

    if arguments.string_ids:
        ids = parse_ids(arguments.string_ids)
        tables = string_table(found.get(RT_STRING, {}))
        checks.check(bool(tables), "the string table has at least one language")
        if arguments.string_languages:
            checks.equal(sorted(tables), sorted(int(language, 16) for language in
                                                arguments.string_languages.split(",")),
                         "the string table's languages")
        for language, table in sorted(tables.items()):
            checks.equal(sorted(table), sorted(ids), "the string ids of language %04x" % language)

    print("%s: %s" % (arguments.exe, "all resource checks passed" if not checks.failures
                      else "%d resource checks failed" % checks.failures))
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
