#!/usr/bin/env python3
"""The Windows programs need nothing beside them but the DLLs every Windows
has: no mingw runtime (libstdc++, libgcc, winpthread) and no zlib1.dll,
read from the import tables that objdump prints. Needs no Wine, so it runs
where the build itself cannot.
  system_libraries_test.py OBJDUMP PROGRAM..."""
import os
import re
import subprocess
import sys

SYSTEM = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll", "shell32.dll",
          "advapi32.dll", "msvcrt.dll", "winmm.dll", "ole32.dll", "oleaut32.dll", "shlwapi.dll",
          "uxtheme.dll", "ws2_32.dll", "version.dll", "setupapi.dll", "powrprof.dll", "bcrypt.dll",
          "winhttp.dll"}

objdump, programs = sys.argv[1], sys.argv[2:]
failures = []
for program in programs:
    text = subprocess.run([objdump, "-p", program], check=True, capture_output=True, text=True).stdout
    names = [name.lower() for name in re.findall(r"DLL Name: (\S+)", text)]
    # The universal C runtime's API sets belong to the system from Windows 10 on.
    foreign = [n for n in names if n not in SYSTEM and not n.startswith("api-ms-win-")]
    if not names:
        failures.append(f"{os.path.basename(program)}: no import table found")
    elif foreign:
        failures.append(f"{os.path.basename(program)} needs {', '.join(foreign)}")
    else:
        print(f"{os.path.basename(program)}: {', '.join(sorted(names))}")
print("\n".join(failures))
sys.exit(1 if failures else 0)
