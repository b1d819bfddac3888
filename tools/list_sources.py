#!/usr/bin/env python3
"""Print the C++ sources under the given directories, one per line, sorted.

meson has no glob; the build asks this script so that adding a file to a
folder needs no edit of the build description."""
import os
import sys

suffix = ".cpp"
args = sys.argv[1:]
if args and args[0].startswith("--suffix="):
    suffix = args[0].split("=", 1)[1]
    args = args[1:]
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
found = []
for top in args:
    for dirpath, _dirs, files in os.walk(os.path.join(root, top)):
        for f in files:
            if f.endswith(suffix):
                found.append(os.path.relpath(os.path.join(dirpath, f), root))
for path in sorted(found):
    print(path)
