"""Fails when a program imports a DLL that is not part of Windows itself
(for example the MinGW C++ runtime), i.e. when static linking broke."""
import re
import subprocess
import sys

SYSTEM_DLLS = {
    "kernel32.dll", "advapi32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "comctl32.dll",
    "comdlg32.dll", "winhttp.dll", "bcrypt.dll", "crypt32.dll", "msvcrt.dll", "ole32.dll",
    "shlwapi.dll", "ws2_32.dll", "uxtheme.dll", "version.dll", "iphlpapi.dll",
}


def imports(objdump, exe):
    out = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    return sorted({m.lower() for m in re.findall(r"DLL Name:\s*(\S+)", out)})


def main():
    objdump, exes = sys.argv[1], sys.argv[2:]
    failed = False
    for exe in exes:
        dlls = imports(objdump, exe)
        foreign = [d for d in dlls if d not in SYSTEM_DLLS and not d.startswith("api-ms-win-")]
        print(f"{exe}: {' '.join(dlls)}")
        if not dlls:
            print(f"  no import table found", file=sys.stderr)
            failed = True
        if foreign:
            print(f"  not system DLLs: {' '.join(foreign)}", file=sys.stderr)
            failed = True
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
