#!/usr/bin/env python3
"""Lists include cycles between modules of agent/, common/ and tray/; exits 1 if there is one.

A module is a header and its .cpp together (a .cpp's includes count for its module), so a
window file that includes another window's header while that window's .cpp includes its
own counts as a circle even though no two headers include each other.
Quoted includes resolve as the compiler does: beside the including file first, then the
include directories the CMakeLists.txt files under those folders give.
Usage: module_cycles.py [REPO]   (default: the repository this script lives in)
"""
import os
import re
import sys

FOLDERS = ("agent", "common", "tray")
SOURCES = (".h", ".cpp")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
INCLUDE_DIRS = re.compile(r"target_include_directories\s*\(([^)]*)\)")
ROOT_VARS = ("${PROJECT_SOURCE_DIR}", "${CMAKE_SOURCE_DIR}")
HERE_VAR = "${CMAKE_CURRENT_SOURCE_DIR}"


def source_files(root):
    for folder in FOLDERS:
        for top, dirs, files in os.walk(os.path.join(root, folder)):
            dirs.sort()
            for name in sorted(files):
                yield os.path.join(top, name)


def include_dirs(root):
    """Source-tree folders named by target_include_directories; build-tree ones hold no modules."""
    found = []
    for path in source_files(root):
        if os.path.basename(path) != "CMakeLists.txt":
            continue
        here = os.path.dirname(path)
        with open(path, encoding="utf-8") as f:
            for block in INCLUDE_DIRS.findall(f.read()):
                for token in block.split():
                    for var, base in [(HERE_VAR, here)] + [(v, root) for v in ROOT_VARS]:
                        if token.startswith(var):
                            found.append(os.path.normpath(base + token[len(var):]))
    return list(dict.fromkeys(found))


def module_of(root, path):
    return os.path.splitext(os.path.relpath(path, root))[0].replace(os.sep, "/")


def include_graph(root):
    """{module: {included module: (file, line) of the first include that makes the edge}}"""
    dirs = include_dirs(root)
    graph = {}
    for path in source_files(root):
        if not path.endswith(SOURCES):
            continue
        here = module_of(root, path)
        edges = graph.setdefault(here, {})
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        for match in INCLUDE.finditer(text):
            for base in [os.path.dirname(path)] + dirs:
                target = os.path.normpath(os.path.join(base, match.group(1)))
                if os.path.isfile(target):
                    there = module_of(root, target)
                    if there != here and target.endswith(SOURCES):
                        where = "%s:%d" % (os.path.relpath(path, root), text.count("\n", 0, match.start()) + 1)
                        edges.setdefault(there, where)
                    break
    return graph


def knots(graph):
    """Strongly connected components with more than one module (Tarjan)."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []

    def visit(v):
        index[v] = low[v] = len(index)
        stack.append(v)
        on_stack.add(v)
        for w in sorted(graph.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    sys.setrecursionlimit(10000)
    for v in sorted(graph):
        if v not in index:
            visit(v)
    return found


def shortest_path(graph, members, start, goal):
    """Breadth-first path from start to goal inside one component (start != goal)."""
    came_from = {start: None}
    queue = [start]
    for v in queue:
        for w in sorted(graph[v]):
            if w in members and w not in came_from:
                came_from[w] = v
                queue.append(w)
    path, v = [], goal
    while v is not None:
        path.append(v)
        v = came_from[v]
    return path[::-1]


def walk_through(graph, component):
    """A closed walk from the first module through every module of the component and back."""
    members = set(component)
    walk = [component[0]]
    for goal in component[1:] + [component[0]]:
        if goal in walk[1:] and goal != component[0]:
            continue
        walk += shortest_path(graph, members, walk[-1], goal)[1:]
    return walk


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    graph = include_graph(root)
    found = knots(graph)
    for component in found:
        print("include cycle between %d modules: %s" % (len(component), " ".join(component)))
        walk = walk_through(graph, component)
        for a, b in zip(walk, walk[1:]):
            print("  %s -> %s  (%s)" % (a, b, graph[a][b]))
    if not found:
        print("no include cycles between the %d modules of %s" % (len(graph), ", ".join(FOLDERS)))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
