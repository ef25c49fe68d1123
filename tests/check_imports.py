"""Fails when a program imports a DLL that is not part of Windows itself
(for example the MinGW C++ runtime), i.e. when static linking broke.
    check_imports.py OBJDUMP PROGRAM..."""
import re
import subprocess
import sys

SYSTEM_DLLS = {f"{name}.dll" for name in "kernel32 advapi32 user32 gdi32 shell32 comctl32 comdlg32 winhttp bcrypt "
               "crypt32 msvcrt ntdll ole32 shlwapi ws2_32 uxtheme version iphlpapi".split()}

failed = False
for exe in sys.argv[2:]:
    table = subprocess.run([sys.argv[1], "-p", exe], check=True, capture_output=True, text=True).stdout
    dlls = sorted({m.lower() for m in re.findall(r"DLL Name:\s*(\S+)", table)})
    foreign = [d for d in dlls if d not in SYSTEM_DLLS and not d.startswith("api-ms-win-")]
    print(f"{exe}: {' '.join(dlls) or 'no import table found'}")
    if foreign:
        print(f"  not system DLLs: {' '.join(foreign)}", file=sys.stderr)
    failed = failed or bool(foreign) or not dlls
sys.exit(1 if failed else 0)
