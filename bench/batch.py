#!/usr/bin/env python3
"""Times subrite-host on batches of scripts, one at a time against two at a
time (-d DIR -j 1 and -j 2), alternating, in the same run.

    batch.py HOST WORKDIR [--corpus DIR] [--generator MAKE-BIG.PY] [--runs N]

Two batches:
  corpus   the real-world scripts of DIR (43 of very different sizes), or,
           without it, 43 scripts written here;
  similar  8 generated scripts of 20,000 lines each (seeds 1 to 8), or,
           without the generator, 8 scripts of the same size written here:
           the batch the -j 2 target is about, since a batch dominated by one
           big file cannot go faster than that file.

For the similar batch it also times the machine's own ceiling: two -j 1
processes at once, each on half of the files. Two processes share nothing of
ours, so what they gain over one is what two cores of this machine give this
kind of work (on a virtual machine whose two processors share a physical
core's caches and units, well under 2).

Writes WORKDIR/batch.json: for each batch its files, bytes and the wall
seconds of every run of each ("j1", "j2", and "pair" for the ceiling).
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import time

SIMILAR_FILES = 8
SIMILAR_LINES = 20000


def written_script(path, lines, seed):
    """A plain script of `lines` dialogue lines, the same kind for every seed."""
    words = ["the", "river", "light", "came", "home", "night", "we", "walked", "again", "late"]
    with open(path, "w") as out:
        out.write("[Script Info]\nScriptType: v4.00+\n\n[V4+ Styles]\n"
                  "Format: Name, Fontname, Fontsize, PrimaryColour, Bold, Italic\n"
                  "Style: Default,Arial,20,&H00FFFFFF,0,0\n\n[Events]\n"
                  "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, "
                  "Text\n")
        for i in range(lines):
            cs = i * 150 + seed
            start = "%d:%02d:%02d.%02d" % (cs // 360000, cs // 6000 % 60, cs // 100 % 60, cs % 100)
            text = " ".join(words[(i * 7 + k + seed) % len(words)] for k in range(8))
            codes = "{\\i1}" if i % 5 == 0 else "{\\k20}" if i % 7 == 0 else ""
            out.write("Dialogue: 0,%s,%s,Default,,0,0,0,,%s%s\\N%s\n" % (
                start, start, codes, text, text))


def make_batches(work, corpus, generator):
    batches = {}
    if corpus and os.path.isdir(corpus):
        batches["corpus"] = {"label": "the %s real-world scripts" % len(
            [n for n in os.listdir(corpus) if n.lower().endswith((".ass", ".ssa"))]),
            "folder": corpus}
    else:
        folder = os.path.join(work, "batch-written")
        os.makedirs(folder, exist_ok=True)
        for n in range(43):
            path = os.path.join(folder, "s%02d.ass" % n)
            if not os.path.exists(path):
                written_script(path, 50 + 100 * (n % 10), n)
        batches["corpus"] = {"label": "43 scripts written here (no corpus)", "folder": folder}
    folder = os.path.join(work, "batch-similar")
    os.makedirs(folder, exist_ok=True)
    for seed in range(1, SIMILAR_FILES + 1):
        path = os.path.join(folder, "mixed-%d.ass" % seed)
        if os.path.exists(path) and os.path.getsize(path) > 0:
            continue
        if generator and os.path.exists(generator):
            subprocess.run([sys.executable, generator, "--lines", str(SIMILAR_LINES), "--seed",
                            str(seed), "--out", path], check=True, stdout=subprocess.DEVNULL)
        else:
            written_script(path, SIMILAR_LINES, seed)
    batches["similar"] = {"label": "%d generated scripts of %d lines" % (
        SIMILAR_FILES, SIMILAR_LINES), "folder": folder}
    return batches


def run_batch(host, folder, out, jobs):
    """Wall seconds of one batch; every script that is one must convert."""
    shutil.rmtree(out, ignore_errors=True)
    started = time.perf_counter()
    done = subprocess.run([host, "--to", "srt", "-j", str(jobs), "-d", out, folder],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.perf_counter() - started
    # 2 is a file of the batch that is no script (the corpus has two); a
    # signal or a plug-in fault is a failed benchmark.
    if done.returncode not in (0, 2):
        sys.exit("batch: %s -j %d failed (%d): %s" % (folder, jobs, done.returncode,
                                                       done.stderr.decode(errors="replace")))
    return wall


def run_pair(host, files, out):
    """Wall seconds of two -j 1 processes at once, each on every other file."""
    halves = [files[0::2], files[1::2]]
    outs = [out + "-a", out + "-b"]
    for folder in outs:
        shutil.rmtree(folder, ignore_errors=True)
    started = time.perf_counter()
    running = [subprocess.Popen([host, "--to", "srt", "-j", "1", "-d", folder] + half,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
               for folder, half in zip(outs, halves)]
    codes = [p.wait() for p in running]
    wall = time.perf_counter() - started
    for folder in outs:
        shutil.rmtree(folder, ignore_errors=True)
    if any(code not in (0, 2) for code in codes):
        sys.exit("batch: two processes at once failed (%s)" % codes)
    return wall


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("host")
    parser.add_argument("work")
    parser.add_argument("--corpus", default="")
    parser.add_argument("--generator", default="")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    results = {}
    for name, batch in make_batches(args.work, args.corpus, args.generator).items():
        folder = batch["folder"]
        files = [os.path.join(folder, n) for n in sorted(os.listdir(folder))
                 if n.lower().endswith((".ass", ".ssa"))]
        out = os.path.join(args.work, "batch-out")
        walls = {"j1": [], "j2": [], "pair": []}
        # Alternating, so that all see the same machine.
        for _ in range(args.runs):
            walls["j1"].append(run_batch(args.host, folder, out, 1))
            walls["j2"].append(run_batch(args.host, folder, out, 2))
            if name == "similar":
                walls["pair"].append(run_pair(args.host, files, out))
        shutil.rmtree(out, ignore_errors=True)
        results[name] = {"label": batch["label"], "files": len(files),
                         "bytes": sum(os.path.getsize(f) for f in files), **walls}
    with open(os.path.join(args.work, "batch.json"), "w") as f:
        json.dump(results, f)


if __name__ == "__main__":
    main()
