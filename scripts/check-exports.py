#!/usr/bin/env python3
"""Checks the export table of a built zelpost library.

A zelpost.dll (objdump -p): every export of cmake/exports.cmake must be
present under its plain name and under its decorated stdcall name (_name@N),
both at the same address. Prints one line per export.
A libzelpost.so (nm -D): it must export exactly those names and the zelui*
functions of include/zelpost_ui.h, nothing else.
Exits 1 on any mismatch.
"""
import pathlib
import re
import subprocess
import sys

root = pathlib.Path(__file__).resolve().parent.parent
table = (root / "cmake" / "exports.cmake").read_text()
exports = re.findall(r"\b(zel\w+):(\d)", table)

dll = sys.argv[1]
if dll.endswith(".so"):
    header = (root / "include" / "zelpost_ui.h").read_text()
    ui = re.findall(r"^ZELPOST_API[^(]*?\b(zelui\w+)\(", header, re.M)
    text = subprocess.run(["nm", "-D", "--defined-only", dll], check=True, capture_output=True,
                          text=True).stdout
    found = {line.split()[-1] for line in text.splitlines() if line.strip()}
    want = {name for name, _ in exports} | set(ui)
    for name in sorted(want - found):
        print(f"missing {name}")
    for name in sorted(found - want):
        print(f"extra   {name}")
    print(f"exports: {len(found & want)} of {len(want)} ({len(exports)} zel*, {len(ui)} zelui*), "
          f"{len(found - want)} extra")
    sys.exit(0 if found == want and len(exports) == 22 else 1)

objdump = sys.argv[2] if len(sys.argv) > 2 else "i686-w64-mingw32-objdump"
text = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout

rva = {int(i): a for i, a in re.findall(r"^\s*\[\s*(\d+)\] \+base\[\s*\d+\]\s+([0-9a-f]+) Export RVA", text, re.M)}
names_part = text.split("[Ordinal/Name Pointer] Table", 1)[1]
names = {n: int(i) for i, n in re.findall(r"^\s*\[\s*(\d+)\] (\S+)$", names_part, re.M)}

bad = 0
if len(exports) != 22:
    print(f"expected 22 exports in cmake/exports.cmake, found {len(exports)}")
    bad += 1
for name, count in exports:
    decorated = f"_{name}@{4 * int(count)}"
    plain_at = rva.get(names.get(name, -1))
    deco_at = rva.get(names.get(decorated, -1))
    ok = plain_at is not None and plain_at == deco_at
    bad += not ok
    print(f"{'ok ' if ok else 'BAD'} {name:18} {plain_at}  {decorated:22} {deco_at}")
print(f"exports: {len(exports) - bad} passed, {bad} failed")
sys.exit(1 if bad else 0)
