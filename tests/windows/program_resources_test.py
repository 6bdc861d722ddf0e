#!/usr/bin/env python3
"""upgrader.exe carries its pictures: the program icon (icon group 1) and
the About banner (bitmap 100, 128 x 24 pixels in 24-bit colour), read from
the resource directory that objdump prints.
  program_resources_test.py OBJDUMP UPGRADER_EXE"""
import re
import subprocess
import sys

RT_BITMAP, RT_GROUP_ICON = 2, 14
BANNER_BYTES = 40 + 128 * 24 * 3  # BITMAPINFOHEADER and the pixel rows

objdump, exe = sys.argv[1:3]
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

failures = []
if (RT_GROUP_ICON, 1) not in leaves:
    failures.append('no program icon (icon group 1)')
if leaves.get((RT_BITMAP, 100)) != BANNER_BYTES:
    failures.append(f'bitmap 100 is {leaves.get((RT_BITMAP, 100))} bytes, not {BANNER_BYTES}')
print('\n'.join(failures) or f'resources: {sorted(leaves)}')
sys.exit(1 if failures else 0)
