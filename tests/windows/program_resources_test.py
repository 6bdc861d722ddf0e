#!/usr/bin/env python3
"""upgrader.exe carries its pictures: the program icon (icon group 1) and
the About banner (bitmap 100, 128 x 24 pixels in 24-bit colour), read from
the resource directory that objdump prints; mub-station.exe carries the
icon too. Every program carries the manifest (resource 1 of type 24):
asInvoker, Common Controls 6, system DPI awareness, Windows 7 to 11.
  program_resources_test.py OBJDUMP UPGRADER_EXE MUBTOOL_EXE STATION_EXE"""
import re
import subprocess
import sys

RT_BITMAP, RT_GROUP_ICON, RT_MANIFEST = 2, 14, 24
BANNER_BYTES = 40 + 128 * 24 * 3  # BITMAPINFOHEADER and the pixel rows
MANIFEST_PARTS = ['level="asInvoker"', 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"',
                  '>true</dpiAware>', '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}',  # 7
                  '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}', '{1f676c76-80e1-4239-95bb-83d0f6d0da78}',  # 8, 8.1
                  '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}']  # 10 and 11


def resources(objdump, exe):
    """(type, name) -> size of every resource."""
    text = subprocess.run([objdump, '-p', exe], check=True, capture_output=True, text=True).stdout
    # The directory is a tree of type, name and language; its depth shows in the indentation.
    path = {}
    leaves = {}
    for line in text.partition('The .rsrc Resource Directory section:')[2].splitlines():
        entry = re.match(r'[0-9a-f]+( +)Entry: ID: 0x([0-9a-f]+)', line)
        leaf = re.match(r'[0-9a-f]+ +Leaf: .*Size: 0x([0-9a-f]+)', line)
        if entry:
            path = {depth: value for depth, value in path.items() if depth < len(entry[1])}
            path[len(entry[1])] = int(entry[2], 16)
        elif leaf:
            kind, name = (path[depth] for depth in sorted(path)[:2])
            leaves[(kind, name)] = int(leaf[1], 16)
    return leaves


objdump, upgrader, mubtool, station = sys.argv[1:5]
failures = []
leaves = resources(objdump, upgrader)
if (RT_GROUP_ICON, 1) not in leaves:
    failures.append('upgrader.exe: no program icon (icon group 1)')
if leaves.get((RT_BITMAP, 100)) != BANNER_BYTES:
    failures.append(f'upgrader.exe: bitmap 100 is {leaves.get((RT_BITMAP, 100))} bytes, not {BANNER_BYTES}')
if (RT_GROUP_ICON, 1) not in resources(objdump, station):
    failures.append('mub-station.exe: no program icon (icon group 1)')
for exe in (upgrader, mubtool, station):
    if (RT_MANIFEST, 1) not in resources(objdump, exe):
        failures.append(f'{exe}: no manifest (resource 1 of type 24)')
        continue
    with open(exe, 'rb') as f:
        content = f.read().decode('latin-1')
    failures += [f'{exe}: the manifest lacks {part}' for part in MANIFEST_PARTS if part not in content]
print('\n'.join(failures) or f'resources: {sorted(leaves)}; every program carries the manifest')
sys.exit(1 if failures else 0)
