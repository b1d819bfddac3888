#!/usr/bin/env python3
"""Runs a Python script under valgrind's memcheck and fails on errors whose
stack passes through the module (src/ code or the _vorlak library): invalid
reads and writes, uses of uninitialised values, and definite or indirect
leaks. The interpreter's and NumPy's own reports are not the module's; known
ones are suppressed by tools/valgrind-python.supp and any others are counted
but not failed.

Usage: valgrind_check.py SCRIPT [ARGS...]
"""
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

TOOLS = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(TOOLS)
LEAK_KINDS = {"Leak_DefinitelyLost", "Leak_IndirectlyLost"}


def frames(error):
    for frame in error.iter("frame"):
        yield {child.tag: (child.text or "") for child in frame}


def from_module(error):
    for f in frames(error):
        where = f.get("obj", "") + " " + f.get("dir", "") + " " + f.get("fn", "")
        if "_vorlak" in where or "vorlak::" in where or "/src/" in f.get("dir", "") + "/":
            return True
    return False


def describe(error):
    kind = error.findtext("kind")
    what = error.findtext("what") or error.findtext("xwhat/text") or ""
    stack = [f"    {f.get('fn', '?')} ({f.get('file', f.get('obj', '?'))}:{f.get('line', '')})"
             for f in list(frames(error))[:12]]
    return "\n".join([f"{kind}: {what}"] + stack)


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory() as folder:
        xml_path = os.path.join(folder, "memcheck.xml")
        cmd = ["valgrind", "--tool=memcheck", "--leak-check=full", "--show-leak-kinds=definite,indirect",
               "--errors-for-leak-kinds=definite,indirect", "--track-origins=no", "--num-callers=30",
               f"--suppressions={os.path.join(TOOLS, 'valgrind-python.supp')}",
               "--xml=yes", f"--xml-file={xml_path}", sys.executable, *argv[1:]]
        env = dict(os.environ, PYTHONMALLOC="malloc", PYTHONPATH=ROOT, OPENBLAS_NUM_THREADS="1")
        done = subprocess.run(cmd, env=env, cwd=ROOT)
        if done.returncode != 0:
            print(f"valgrind: the script exited with {done.returncode}")
            return 1
        errors = ET.parse(xml_path).getroot().findall("error")
    ours = [e for e in errors if from_module(e)]
    others = len(errors) - len(ours)
    for e in ours:
        print(describe(e))
    leaks = sum(1 for e in ours if e.findtext("kind") in LEAK_KINDS)
    print(f"valgrind: {len(ours)} errors in module code ({leaks} leaks), "
          f"{others} outside it (interpreter, NumPy) ignored")
    print(f"valgrind: {0 if ours else 1} passed, {1 if ours else 0} failed")
    return 1 if ours else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
