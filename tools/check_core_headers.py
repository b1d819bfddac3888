#!/usr/bin/env python3
"""Fail when a core source file includes a Python or NumPy header.

The core (parsing, decoding, keys, cache) must build and be tested without
an interpreter; only src/lib talks to CPython and NumPy."""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORE = ["src/grib", "src/compat", "src/types", "src/core"]
FORBIDDEN = re.compile(r'^\s*#\s*include\s*[<"](Python\.h|numpy/[^>"]*|py[A-Za-z_]*\.h)[>"]', re.M)

bad = []
for top in CORE:
    for dirpath, _dirs, files in os.walk(os.path.join(ROOT, top)):
        for f in files:
            if f.endswith((".cpp", ".hpp", ".h")):
                path = os.path.join(dirpath, f)
                with open(path, encoding="utf-8") as fh:
                    for m in FORBIDDEN.finditer(fh.read()):
                        bad.append(f"{os.path.relpath(path, ROOT)}: includes {m.group(1)}")
if bad:
    print("core files must not include Python or NumPy headers:")
    print("\n".join(bad))
    sys.exit(1)
print("core header check: ok")
