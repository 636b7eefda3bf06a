#!/usr/bin/env python3
"""Counts the instructions the whole job executes, with valgrind's callgrind.

    instructions.py HOST SCRIPT WORKDIR

Runs `HOST --to srt SCRIPT -o WORKDIR/instructions.srt` under
`valgrind --tool=callgrind` and writes WORKDIR/instructions.json: the total,
the script's bytes and dialogue lines, the module's share and the largest
functions by their own (exclusive) instructions. The full listing of
`callgrind_annotate --inclusive=no` goes to WORKDIR/callgrind.txt.

The module's share is what runs in libsubrite.so itself plus what the
system libraries run when the module calls them (memcpy, operator new...);
everything else, the host's calls that the module makes included (payload
locks, the allocator, the sink that writes the cue), is the host's.
A count does not move with the load of the machine, as times do.
"""

import json
import os
import re
import subprocess
import sys

MODULE = "libsubrite.so"
# Libraries a caller's share includes when it calls them.
SYSTEM = ("libc.so", "libstdc++.so", "libgcc_s.so", "libm.so", "ld-linux")
TOP = 15


def short_object(path):
    return os.path.basename(path) if path else "?"


def short_function(name):
    """The name without its argument list."""
    name = name.replace("(anonymous namespace)", "{anonymous}")
    depth = 0
    for i, c in enumerate(name):
        if c == "<":
            depth += 1
        elif c == ">":
            depth -= 1
        elif c == "(" and depth == 0 and not name[:i].endswith("operator"):
            return name[:i]
    return name


def parse(path):
    """Self cost by (object, function), and call costs by (caller, callee)."""
    names = {"ob": {}, "fn": {}}
    self_cost = {}
    calls = {}
    ob = fn = cob = callee = None
    pending_call = None
    total = 0
    compressed = re.compile(r"^\((\d+)\)(?: (.*))?$")

    def name(kind, value):
        m = compressed.match(value)
        if not m:
            return value
        ident, text = m.group(1), m.group(2)
        table = names["ob" if kind in ("ob", "cob") else "fn"]
        if text is not None:
            table[ident] = text
        return table.get(ident, "?")

    with open(path) as f:
        for line in f:
            line = line.rstrip("\n")
            if not line:
                continue
            head = line[0]
            if head.isdigit() or head in "+-*":
                fields = line.split()
                cost = int(fields[1]) if len(fields) > 1 else 0
                if pending_call is not None:
                    calls[pending_call] = calls.get(pending_call, 0) + cost
                    pending_call = None
                else:
                    key = (ob, fn)
                    self_cost[key] = self_cost.get(key, 0) + cost
                    total += cost
                continue
            key, _, value = line.partition("=")
            if key == "ob":
                ob = name("ob", value)
            elif key == "fn":
                fn = name("fn", value)
            elif key == "cob":
                cob = name("cob", value)
            elif key == "cfn":
                callee = name("cfn", value)
            elif key == "calls":
                # The next cost line is the call's, callee included.
                pending_call = ((ob, fn), (cob or ob, callee))
                cob = None
    return total, self_cost, calls


def main():
    host, script, work = sys.argv[1], sys.argv[2], sys.argv[3]
    out_file = os.path.join(work, "callgrind.out")
    listing = os.path.join(work, "callgrind.txt")
    subprocess.run(
        ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out_file,
         host, "--to", "srt", script, "-o", os.path.join(work, "instructions.srt")],
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(listing, "w") as f:
        subprocess.run(["callgrind_annotate", "--inclusive=no", out_file], check=True, stdout=f,
                       stderr=subprocess.DEVNULL)

    total, self_cost, calls = parse(out_file)
    module = sum(c for (ob, _), c in self_cost.items() if ob and ob.endswith(MODULE))
    module_calls = sum(c for ((ob, _), (cob, _)), c in calls.items()
                       if ob and ob.endswith(MODULE) and cob and not cob.endswith(MODULE)
                       and any(s in cob for s in SYSTEM))
    by_function = {}
    for (ob, fn), cost in self_cost.items():
        key = (short_object(ob), short_function(fn or "?"))
        by_function[key] = by_function.get(key, 0) + cost
    top = sorted(by_function.items(), key=lambda item: -item[1])[:TOP]

    with open(script, "rb") as f:
        data = f.read()
    lines = data.count(b"\nDialogue:") + (1 if data.startswith(b"Dialogue:") else 0)
    json.dump({
        "total": total,
        "bytes": len(data),
        "lines": lines,
        "module_self": module,
        "module_calls": module_calls,
        "top": [{"object": o, "function": f, "self": c} for (o, f), c in top],
    }, open(os.path.join(work, "instructions.json"), "w"), indent=1)


if __name__ == "__main__":
    main()
