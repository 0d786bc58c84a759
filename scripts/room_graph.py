#!/usr/bin/env python3
"""The rooms of the product and the arrows their #include lines draw.

A room is a top-level folder of product code. Prints each room with the rooms it
includes, then every arrow that points up the declared order or closes a cycle.
Exits 1 when any arrow points up, a cycle exists, or a room is missing from the
order (a new room must be placed in it on purpose). Usage: scripts/room_graph.py
"""
import os
import re
import subprocess
import sys

# Top to bottom: a room may include only rooms after it. Rooms on one line are
# siblings: neither includes the other.
ORDER = [
    ["app"],
    ["operator"],
    ["host"],
    ["durable"],
    ["status"],
    ["redis", "convert"],
    ["queue"],
    ["telemetry"],
    ["delivery"],
    ["config"],
    ["platform"],
]
NOT_PRODUCT = {"tests", "fuzz", "bench", "tools", "examples", "scripts", "packaging", "build"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"')


def main():
    top = subprocess.run(["git", "rev-parse", "--show-toplevel"], capture_output=True,
                         text=True, check=True).stdout.strip()
    os.chdir(top)
    files = subprocess.run(["git", "ls-files", "*.h", "*.cpp"], capture_output=True,
                           text=True, check=True).stdout.split()
    product = [f for f in files if "/" in f and f.split("/")[0] not in NOT_PRODUCT]
    level = {room: i for i, line in enumerate(ORDER) for room in line}
    arrows = {}
    for f in product:
        src = f.split("/")[0]
        with open(f, errors="replace") as text:
            for n, line in enumerate(text, 1):
                m = INCLUDE.match(line)
                if m and m.group(1) != src and os.path.isdir(m.group(1)) \
                        and m.group(1) not in NOT_PRODUCT:
                    arrows.setdefault((src, m.group(1)), []).append("%s:%d" % (f, n))
    rooms = sorted({f.split("/")[0] for f in product})
    bad = []
    for room in rooms:
        if room not in level:
            bad.append("room %s is not in the order of scripts/room_graph.py" % room)
    for line in ORDER:
        for room in line:
            if room not in rooms:
                continue
            below = sorted(d for (s, d) in arrows if s == room)
            print("%-10s -> %s" % (room, " ".join(below) if below else "(nothing of ours)"))
    for (src, dst), where in sorted(arrows.items()):
        if src in level and dst in level and level[dst] <= level[src]:
            bad.append("%s -> %s points %s: %s" % (
                src, dst, "sideways" if level[dst] == level[src] else "up", ", ".join(where[:3])))
    if bad:
        print("\n".join(bad))
        return 1
    print("%d rooms, %d arrows, every arrow points down, no cycle" % (len(rooms), len(arrows)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
