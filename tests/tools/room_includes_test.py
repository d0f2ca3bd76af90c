#!/usr/bin/env python3
"""kelo-host's rooms (the folders under host/) include each other's headers
in one direction only: a room that includes another is never included back,
directly or through a third room, so each stage can be read and built on
without the ones above it.

usage: room_includes_test.py SOURCE_DIR
"""
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"host/([a-z_]+)/', re.MULTILINE)


def room_graph(host):
    graph = {}
    for path in host.rglob("*"):
        if path.suffix not in (".h", ".cpp") or path.parent == host:
            continue
        room = path.relative_to(host).parts[0]
        uses = graph.setdefault(room, set())
        for used in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if used != room:
                uses.add(used)
    return graph


def find_cycle(graph):
    """A list of rooms that closes on itself, or None."""
    state = {}

    def visit(room, trail):
        state[room] = "open"
        for used in sorted(graph.get(room, ())):
            if state.get(used) == "open":
                return trail[trail.index(used):] + [used]
            if used not in state:
                found = visit(used, trail + [used])
                if found:
                    return found
        state[room] = "done"
        return None

    for room in sorted(graph):
        if room not in state:
            found = visit(room, [room])
            if found:
                return found
    return None


def main():
    host = pathlib.Path(sys.argv[1]) / "host"
    graph = room_graph(host)
    if len(graph) < 2:
        print(f"FAILED: no rooms found under {host}")
        return 1
    cycle = find_cycle(graph)
    if cycle:
        print("FAILED: rooms include each other: " + " -> ".join(cycle))
        return 1
    for room in sorted(graph):
        print(f"{room}: {', '.join(sorted(graph[room])) or '-'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
