#!/usr/bin/env python3
"""Checks the layering of src/: OS headers only inside a posix/ or win32/
subfolder, and includes pointing down only, in the order of LAYERS (a file
includes headers of its own folder or of folders earlier in the list).
Prints each offending include and exits 1; exits 0 when there is none.
  check-layers.py [SRC]   (default: src/ beside this script's folder)
"""
import pathlib
import re
import sys

# From the ground up.
LAYERS = ["platform", "charset", "tls", "window", "codec", "ui", "net", "index",
          "api", "store", "ops", "automation", "programs"]

# Headers of the C++ and C standard libraries: available alike on both
# platforms. Any other <...> header belongs to an OS or a foreign library.
STANDARD = set("""
algorithm any array atomic barrier bit bitset cassert cctype cerrno cfenv cfloat
charconv chrono cinttypes climits clocale cmath codecvt compare complex concepts
condition_variable coroutine csetjmp csignal cstdarg cstddef cstdint cstdio
cstdlib cstring ctime cuchar cwchar cwctype deque exception execution expected
filesystem format forward_list fstream functional future initializer_list iomanip
ios iosfwd iostream istream iterator latch limits list locale map memory
memory_resource mutex new numbers numeric optional ostream queue random ranges
ratio regex scoped_allocator semaphore set shared_mutex source_location span
sstream stack stdexcept stop_token streambuf string string_view syncstream
system_error thread tuple type_traits typeindex typeinfo unordered_map
unordered_set utility valarray variant vector version
assert.h ctype.h errno.h float.h inttypes.h limits.h locale.h math.h setjmp.h
signal.h stdarg.h stddef.h stdint.h stdio.h stdlib.h string.h time.h uchar.h
wchar.h wctype.h
""".split())

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def main():
    here = pathlib.Path(__file__).resolve().parent
    src = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else here.parent / "src"
    rank = {name: i for i, name in enumerate(LAYERS)}
    faults = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".rc", ".in") or not path.is_file():
            continue
        parts = path.relative_to(src).parts
        folder = parts[0]
        if folder not in rank:
            faults.append(f"{path}: folder {folder}/ is not in the layer list")
            continue
        backend = "posix" in parts[1:-1] or "win32" in parts[1:-1]
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            kind, name = match.groups()
            where = f"{path}:{number}: {name}"
            if kind == "<":
                if name not in STANDARD and not backend:
                    faults.append(f"{where}: OS header outside a posix/ or win32/ folder")
                continue
            target = name.split("/")[0] if "/" in name else folder
            if target not in rank:
                continue  # a public header of include/ or a generated one's folder
            if rank[target] > rank[folder]:
                faults.append(f"{where}: {folder}/ must not use {target}/, a layer above it")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
