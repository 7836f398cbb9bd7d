#!/usr/bin/env python3
"""Rings of files inside one folder of the house.

  scripts/file_rings.py <folder> [build] [calls|includes|both] [-v] [--folders|--subfolders]

A file points at another of the same folder when its object calls a symbol
the other's object defines (nm: undefined against strongly defined), or when
its .cpp or .h includes the other's header. Prints the number of files and
arrows and every strongly connected component of more than one file (a ring:
files that reach each other); -v adds the arrows inside each ring and what
makes them. --folders draws the same arrows between the folder's top subfolders
instead of its files; --subfolders between every folder under it. A folder that reads top-down prints "0 ring(s)".
"""
import collections, os, re, subprocess, sys

args = [a for a in sys.argv[1:] if not a.startswith("-")]
verbose = "-v" in sys.argv
by_folder = "--folders" in sys.argv or "--subfolders" in sys.argv
whole_paths = "--subfolders" in sys.argv
if not args:
    sys.exit(__doc__)
folder = os.path.normpath(args[0])
build = args[1] if len(args) > 1 else "build"
mode = args[2] if len(args) > 2 else "calls"
objdir = os.path.join(build, folder, "CMakeFiles", "tarnel_" + os.path.basename(folder) + ".dir")

def nm(path, *flags):
    return subprocess.run(["nm", "-C", *flags, path], capture_output=True, text=True).stdout.splitlines()

edges = collections.defaultdict(lambda: collections.defaultdict(set))
nodes = set()
if mode in ("calls", "both"):
    objects = {}
    for root, _, names in os.walk(objdir):
        for f in names:
            if f.endswith(".cpp.o"):
                objects[os.path.relpath(os.path.join(root, f), objdir)[:-6]] = os.path.join(root, f)
    nodes |= set(objects)
    defined = {}
    for name, path in objects.items():
        for line in nm(path, "--defined-only"):
            parts = line.split(" ", 2)
            if len(parts) == 3 and parts[1] in "TDBR":
                defined.setdefault(parts[2], name)
    for name, path in objects.items():
        for line in nm(path, "-u"):
            symbol = line.strip()[2:]
            target = defined.get(symbol)
            if target and target != name:
                edges[name][target].add("calls " + symbol)
if mode in ("includes", "both"):
    files = [os.path.relpath(os.path.join(root, f), folder) for root, _, names in os.walk(folder)
             for f in names if f.endswith((".cpp", ".h"))]
    units = {f.rsplit(".", 1)[0] for f in files}
    nodes |= units
    for f in files:
        a = f.rsplit(".", 1)[0]
        for inc in re.findall(r'#include\s+"([^"]+)\.h"', open(os.path.join(folder, f)).read()):
            if not inc.startswith(folder + "/"):
                continue
            b = inc[len(folder) + 1:]
            if b != a and b in units:
                edges[a][b].add("includes " + f)

if by_folder:
    def home(f):
        if whole_paths:
            return os.path.dirname(f) or "."
        return f.split("/")[0] if "/" in f else "."
    folded = collections.defaultdict(lambda: collections.defaultdict(set))
    for a, targets in list(edges.items()):
        for b, why in targets.items():
            if home(a) != home(b):
                folded[home(a)][home(b)] |= {f"{a} -> {b}: {w}" for w in why}
    edges, nodes = folded, {home(f) for f in nodes}

index, low, stack, on, rings, counter = {}, {}, [], set(), [], [0]
sys.setrecursionlimit(10000)
def visit(v):  # Tarjan's strongly connected components
    index[v] = low[v] = counter[0]; counter[0] += 1
    stack.append(v); on.add(v)
    for w in edges[v]:
        if w not in index:
            visit(w); low[v] = min(low[v], low[w])
        elif w in on:
            low[v] = min(low[v], index[w])
    if low[v] == index[v]:
        ring = []
        while True:
            w = stack.pop(); on.discard(w); ring.append(w)
            if w == v: break
        if len(ring) > 1: rings.append(sorted(ring))
for v in sorted(nodes):
    if v not in index: visit(v)

arrows = sum(len(targets) for targets in edges.values())
print(f"{folder} ({mode}): {len(nodes)} files, {arrows} arrows, {len(rings)} ring(s)")
for ring in rings:
    print("  ring:", " ".join(ring))
    if verbose:
        for a in ring:
            for b in sorted(edges[a]):
                if b in ring:
                    print(f"    {a} -> {b}: " + "; ".join(sorted(edges[a][b])[:4]))
