#!/usr/bin/env python3
"""Prints the arrows between the program's folders and fails on an arrow
that climbs or on an include cycle.

The layers, from the bottom: resources; the network (net/); POP3 (pop3/)
beside the desktop services (desktop/); the settings (settings/); the check
(check/); the resident shell (shell/). A file may include headers of its
own folder and of the layers below it, never of a folder at its own rank
or above, so no two folders include each other. Files
form modules by name (foo.h with foo.cpp), and no two modules may depend
on each other, however long the way round.

    python3 scripts/layers.py [top]      exit 1 on an arrow that climbs or stays at its rank, or a cycle
"""
import os
import re
import sys

RANKS = {"resources": 0, "net": 1, "pop3": 2, "desktop": 2, "settings": 3, "check": 4, "shell": 5}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def sources(top):
    for folder in RANKS:
        base = os.path.join(top, folder)
        if not os.path.isdir(base):
            continue
        for name in sorted(os.listdir(base)):
            if name.endswith((".h", ".cpp")):
                yield os.path.join(folder, name)


def resolve(top, including, target):
    for base in (os.path.dirname(including), "", "resources"):
        path = os.path.normpath(os.path.join(base, target))
        if os.path.isfile(os.path.join(top, path)):
            return path
    return None


def module(path):
    return os.path.splitext(path)[0]


def cycles(edges):
    """Strongly connected components of more than one module (Tarjan)."""
    index, low, stack, on, found, counter = {}, {}, [], set(), [], [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in sorted(edges.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    for v in sorted(edges):
        if v not in index:
            visit(v)
    return found


def main():
    top = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    arrows, climbing, edges = {}, [], {}
    for path in sources(top):
        with open(os.path.join(top, path), encoding="utf-8") as f:
            text = f.read()
        for target in INCLUDE.findall(text):
            found = resolve(top, path, target)
            if found is None:
                continue  # a system or test header
            src, dst = path.split(os.sep)[0], found.split(os.sep)[0]
            if dst not in RANKS:
                continue
            if module(found) != module(path):
                edges.setdefault(module(path), set()).add(module(found))
            if src != dst:
                arrows[(src, dst)] = arrows.get((src, dst), 0) + 1
                if RANKS[dst] >= RANKS[src]:
                    climbing.append(f"{path} includes {found}")
    for (src, dst), n in sorted(arrows.items(), key=lambda a: (-RANKS[a[0][0]], a[0])):
        mark = "  CLIMBS" if RANKS[dst] >= RANKS[src] else ""
        print(f"  {src:9} -> {dst:9} {n:3} include(s){mark}")
    failed = False
    for c in climbing:
        print(f"layers: include not from below: {c}")
        failed = True
    for c in cycles(edges):
        print("layers: include cycle: " + " -> ".join(c))
        failed = True
    print("layers: " + ("FAILED" if failed else "arrows only go down, no cycle"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
