#!/usr/bin/env python3
"""Checks the export table of a built zelpost library.

    check-exports.py zelpost.dll [OBJDUMP]   a Windows DLL (objdump -p)
    check-exports.py libzelpost.so           the Linux library (nm -D)

DLL: every zel* export of cmake/exports.cmake must be present under its
plain name and under its decorated stdcall name (_name@N), both at the same
address, and every COM entry point under its plain name.
Linux: the library must export exactly the zel* functions, DllGetClassObject
and DllCanUnloadNow (no registration functions: there is no registry).
Prints one line per export and exits 1 on any mismatch.
"""
import pathlib
import re
import subprocess
import sys

root = pathlib.Path(__file__).resolve().parent.parent
table = (root / "cmake" / "exports.cmake").read_text()
exports = re.findall(r"\b(zel\w+):(\d)", table)
com_exports = re.findall(r"\b(Dll\w+):(\d)", table)
LINUX_COM = {"DllGetClassObject", "DllCanUnloadNow"}

dll = sys.argv[1]
bad = 0
if len(exports) != 22:
    print(f"expected 22 exports in cmake/exports.cmake, found {len(exports)}")
    bad += 1

if dll.endswith(".so") or ".so." in dll:
    text = subprocess.run(["nm", "-D", "--defined-only", dll], check=True, capture_output=True, text=True).stdout
    symbols = [line.split() for line in text.splitlines()]
    found = {s[-1] for s in symbols if len(s) >= 3 and s[1] != "A"}  # A: version nodes
    wanted = {name for name, _ in exports} | LINUX_COM
    for name in sorted(wanted | found):
        ok = name in wanted and name in found
        bad += not ok
        print(f"{'ok ' if ok else 'BAD'} {name}{'' if name in wanted else ' (not to be exported)'}")
    print(f"exports: {len(wanted | found) - bad} passed, {bad} failed")
    sys.exit(1 if bad else 0)

objdump = sys.argv[2] if len(sys.argv) > 2 else "i686-w64-mingw32-objdump"
text = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout

rva = {int(i): a for i, a in re.findall(r"^\s*\[\s*(\d+)\] \+base\[\s*\d+\]\s+([0-9a-f]+) Export RVA", text, re.M)}
names_part = text.split("[Ordinal/Name Pointer] Table", 1)[1]
names = {n: int(i) for i, n in re.findall(r"^\s*\[\s*(\d+)\] (\S+)$", names_part, re.M)}

for name, count in exports:
    decorated = f"_{name}@{4 * int(count)}"
    plain_at = rva.get(names.get(name, -1))
    deco_at = rva.get(names.get(decorated, -1))
    ok = plain_at is not None and plain_at == deco_at
    bad += not ok
    print(f"{'ok ' if ok else 'BAD'} {name:18} {plain_at}  {decorated:22} {deco_at}")
for name, _ in com_exports:
    at = rva.get(names.get(name, -1))
    ok = at is not None
    bad += not ok
    print(f"{'ok ' if ok else 'BAD'} {name:18} {at}")
total = len(exports) + len(com_exports)
print(f"exports: {total - bad} passed, {bad} failed")
sys.exit(1 if bad else 0)
