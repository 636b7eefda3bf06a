#!/usr/bin/env python3
"""Turns the benchmark results, the whole-job timings and the instruction
count into the report, and writes the data the figure is drawn from.

    report.py --results RESULTS.json --job JOB.json [--job-note TEXT]
              [--instructions INSTRUCTIONS.json] [--instructions-note TEXT]
              [--batch BATCH.json] [--batch-note TEXT]
              [--ffmpeg-growth GROWTH.json] [--data DIR]

RESULTS.json is Google Benchmark's JSON output; the median of the
repetitions is used where there are several. JOB.json holds the whole-job
runs (wall and CPU seconds, peak KiB) of each program; INSTRUCTIONS.json
the callgrind count (bench/instructions.py); BATCH.json the batches with one
and two workers (bench/batch.py); GROWTH.json ffmpeg's times on
one long line. A note says why a file is missing. With --data, the figure's
data files are written to DIR (growth.dat, job.dat).
"""

import argparse
import json
import os
import statistics

GROWTH_LIMIT = 2.2
SPEEDUP_TARGET = 40.0
PATH_TARGET = 5e6  # lines per second
KARAOKE_LIMIT = 0.40e-6  # seconds for the 50-block line
COLOUR_BLOCK_LIMIT = 20e-9  # seconds a block
INSTRUCTIONS_LIMIT = 15.0  # a byte of input, whole job
PEAK_LIMIT_KIB = 16 * 1024
BATCH_SPEEDUP_TARGET = 1.7  # -j 2 against -j 1, a batch of files of similar size

UNIT = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def load(path):
    """name -> result row: the median aggregate, or the single run."""
    with open(path) as f:
        data = json.load(f)
    rows = {}
    for row in data["benchmarks"]:
        name = row.get("run_name", row["name"])
        if row.get("run_type") == "aggregate":
            if row.get("aggregate_name") == "median":
                rows[name] = row
        else:
            rows.setdefault(name, row)
    return data.get("context", {}), rows


def seconds(row, key="cpu_time"):
    return row[key] * UNIT[row["time_unit"]]


def verdict(ok):
    return "met" if ok else "NOT MET"


def si(value):
    for factor, suffix in ((1e9, "G"), (1e6, "M"), (1e3, "k")):
        if value >= factor:
            return "%.2f %s" % (value / factor, suffix)
    return "%.1f " % value


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--results", required=True)
    parser.add_argument("--job", required=True)
    parser.add_argument("--job-note", default="")
    parser.add_argument("--instructions", default="")
    parser.add_argument("--instructions-note", default="")
    parser.add_argument("--batch", default="")
    parser.add_argument("--batch-note", default="")
    parser.add_argument("--ffmpeg-growth", default="")
    parser.add_argument("--data", default="")
    args = parser.parse_args()
    job_path, note = args.job, args.job_note
    context, rows = load(args.results)
    targets = []
    job_figures = None  # wall and CPU seconds of both programs, for the figure

    def base(name):
        return name.split("/min_time")[0]

    rows = {base(k): v for k, v in rows.items()}
    failed = {k: v for k, v in rows.items() if v.get("error_occurred")}
    for name, row in failed.items():
        print("bench: %s failed: %s" % (name, row.get("error_message", "")))
        targets.append(("%s ran" % name, False, "failed"))
    rows = {k: v for k, v in rows.items() if k not in failed}

    print()
    print("== Figures (medians; times are CPU time per iteration)")
    if "mixed set" in context:
        print("mixed set: " + context["mixed set"])

    print()
    print("Line conversion alone (ssa::LineConverter::convert)")
    for name in ("line/plain", "line/styled", "line/karaoke50", "line/mixed"):
        r = rows.get(name)
        if r:
            t = seconds(r)
            when = "%8.3f ms" % (t * 1e3) if t >= 1e-3 else "%8.3f us" % (t * 1e6)
            print("  %-16s %s/pass %12s lines/s %12sB/s  allocs/line %.3f" % (
                name, when, si(r["items_per_second"]), si(r["bytes_per_second"]),
                r.get("allocs/line", float("nan"))))
    karaoke = rows.get("line/karaoke50")
    if karaoke:
        t = seconds(karaoke)
        targets.append(("line/karaoke50 <= %.2f us (50 {\\k20} blocks)" % (KARAOKE_LIMIT * 1e6),
                        t <= KARAOKE_LIMIT, "%.3f us, %.1f ns a block" % (t * 1e6, t * 1e9 / 50)))
    scans = sorted(k for k in rows if k.startswith("scan/mixed:"))
    if scans:
        print()
        print("Line conversion of the mixed set with each window scan the processor runs")
        for name in scans:
            r = rows[name]
            print("  %-16s %8.3f ms/pass %12s lines/s %12sB/s" % (
                name, seconds(r) * 1e3, si(r["items_per_second"]), si(r["bytes_per_second"])))

    print()
    print("Full sample path (MsgSample in, output sample at the peer)")
    path, host, idle = rows.get("path/mixed"), rows.get("path/host_only"), rows.get(
        "path/no_output")
    if path:
        lines = path["items_per_second"]
        print("  path/mixed        %8.3f ms/pass %12s lines/s %12sB/s  allocs/line %.3f" % (
            seconds(path) * 1e3, si(lines), si(path["bytes_per_second"]), path["allocs/line"]))
        if host:
            share = seconds(host) / seconds(path)
            per_pass = lines * seconds(path)  # lines in one pass
            print("  host operations   %8.3f ms/pass  = %.1f%% of the path (%.1f ns a line)" % (
                seconds(host) * 1e3, 100 * share, 1e9 * seconds(host) / per_pass))
        if idle:
            print("  no-output lines   %8.3f ms/pass  %12s lines/s (lock, prefix test, release)" % (
                seconds(idle) * 1e3, si(idle["items_per_second"])))
        targets.append(("path/mixed >= %d M lines/s (full sample path, one core)" % (
            PATH_TARGET / 1e6), lines >= PATH_TARGET, "%s lines/s" % si(lines)))
        counted = [r["allocs/line"] for n, r in rows.items()
                   if "allocs/line" in r and (n.startswith("line/") or n.startswith("path/"))]
        allocations = max(counted)
        targets.append(("heap allocations per converted line: 0 (line/*, path/*)",
                        allocations == 0, "%.3f per line at most" % allocations))

    print()
    print("Header parse (fresh tables, freed each time)")
    for styles in (10, 1000, 100000):
        r = rows.get("header/styles:%d" % styles)
        if r:
            print("  %6d styles %12.3f ms %12s styles/s %12sB/s" % (
                styles, seconds(r) * 1e3, si(r["styles/s"]), si(r["bytes_per_second"])))

    print()
    print("Growth: one line, each size doubled (limit %.1f a doubling)" % GROWTH_LIMIT)
    families = (
        ("karaoke", "{\\k20}ab, blocks", True),
        ("italic", "{\\i1}a{\\i0}b, blocks", True),
        ("colour", "{\\c&H0000FF&}ab, blocks", True),
        ("plain", "plain text, bytes", True),
        ("breaks", "ab\\N, codes", False),
    )
    growth = {}
    for family, label, is_target in families:
        sizes = sorted(int(k.split(":")[1]) for k in rows if k.startswith("growth/%s:" % family))
        if not sizes:
            continue
        times = [seconds(rows["growth/%s:%d" % (family, s)]) for s in sizes]
        growth[family] = dict(zip(sizes, times))
        ratios = [b / a for a, b in zip(times, times[1:])]
        print("  %-24s %s" % (label, "  ".join("%d: %.0f us" % (s, t * 1e6)
                                                 for s, t in zip(sizes, times))))
        print("  %-24s ratios %s" % ("", "  ".join("%.2f" % r for r in ratios)))
        if is_target:
            targets.append(("growth %s, %d to %d: each doubling <= %.1f" % (
                label, sizes[0], sizes[-1], GROWTH_LIMIT), max(ratios) <= GROWTH_LIMIT,
                "worst %.2f" % max(ratios)))
        if family == "colour":
            per_block = max(t / s for s, t in zip(sizes, times))
            targets.append(("growth/colour <= %d ns a block (at every size)" % (
                COLOUR_BLOCK_LIMIT * 1e9), per_block <= COLOUR_BLOCK_LIMIT,
                "worst %.1f ns" % (per_block * 1e9)))

    ffmpeg_growth = None
    if args.ffmpeg_growth and os.path.exists(args.ffmpeg_growth):
        with open(args.ffmpeg_growth) as f:
            ffmpeg_growth = {int(k): v for k, v in json.load(f).items()}
        base = ffmpeg_growth.pop(1, 0.0)
        sizes = sorted(ffmpeg_growth)
        print("  %-24s %s" % ("ffmpeg, {\\k20}ab", "  ".join(
            "%d: %.2f s" % (s, ffmpeg_growth[s]) for s in sizes)))
        times = [ffmpeg_growth[s] - base for s in sizes]
        if all(t > 0 for t in times):
            print("  %-24s ratios %s (less its %.2f s for a one-block line)" % (
                "", "  ".join("%.2f" % (b / a) for a, b in zip(times, times[1:])), base))
        ffmpeg_growth = {s: ffmpeg_growth[s] - base for s in sizes}

    print()
    print("Whole job (200,000-line script to SRT)")
    if os.path.exists(job_path):
        with open(job_path) as f:
            job = json.load(f)
        def median(runs, key):
            return statistics.median(r[key] for r in runs)

        host_runs = job["host"]
        host_s, host_cpu = median(host_runs, "wall"), median(host_runs, "cpu")
        peak = max(r["peak_kib"] for r in host_runs)
        print("  subrite-host --to srt  %7.3f s wall, %7.3f s CPU (median of %d)  peak RSS %.1f MiB"
              % (host_s, host_cpu, len(host_runs), peak / 1024))
        if job["ffmpeg"]:
            ffmpeg_runs = job["ffmpeg"]
            ffmpeg_s, ffmpeg_cpu = median(ffmpeg_runs, "wall"), median(ffmpeg_runs, "cpu")
            ffmpeg_peak = max(r["peak_kib"] for r in ffmpeg_runs)
            ratio = ffmpeg_s / host_s
            print("  ffmpeg                 %7.3f s wall, %7.3f s CPU (median of %d)  peak RSS %.1f MiB"
                  % (ffmpeg_s, ffmpeg_cpu, len(ffmpeg_runs), ffmpeg_peak / 1024))
            print("  ffmpeg / subrite-host  %7.1f x wall, %7.1f x CPU" % (
                ratio, ffmpeg_cpu / host_cpu if host_cpu else float("inf")))
            cpu_ratio = ffmpeg_cpu / host_cpu if host_cpu else float("inf")
            targets.append(("whole job >= %dx faster than ffmpeg, wall time" % SPEEDUP_TARGET,
                            ratio >= SPEEDUP_TARGET, "%.1fx" % ratio))
            targets.append(("whole job >= %dx faster than ffmpeg, CPU time" % SPEEDUP_TARGET,
                            cpu_ratio >= SPEEDUP_TARGET, "%.1fx" % cpu_ratio))
            job_figures = (host_s, host_cpu, ffmpeg_s, ffmpeg_cpu)
        else:
            print("  ffmpeg: not installed (tools/bootstrap --bench); no comparison")
        targets.append(("subrite-host peak memory <= 16 MiB", peak <= PEAK_LIMIT_KIB,
                        "%.1f MiB" % (peak / 1024)))
    else:
        print("  " + (note or "skipped"))

    print()
    print("Instructions of the whole job (callgrind), 20,000-line mixed script to SRT")
    if args.instructions and os.path.exists(args.instructions):
        with open(args.instructions) as f:
            count = json.load(f)
        total, size, lines = count["total"], count["bytes"], count["lines"]
        module = count["module_self"] + count["module_calls"]
        print("  %s instructions for %d bytes, %d lines: %.1f a byte, %.0f a line" % (
            "{:,}".format(total), size, lines, total / size, total / lines))
        print("  module %.1f a byte (%.0f%%: libsubrite.so %.1f, the library calls it makes %.1f);"
              " host %.1f a byte" % (module / size, 100.0 * module / total,
                                     count["module_self"] / size, count["module_calls"] / size,
                                     (total - module) / size))
        print("  largest functions by their own instructions (exclusive;"
              " listing in build/bench/callgrind.txt):")
        for row in count["top"]:
            print("  %12s %5.1f%% %5.2f a byte  %-18s %s" % (
                "{:,}".format(row["self"]), 100.0 * row["self"] / total, row["self"] / size,
                row["object"], row["function"][:90]))
        per_byte = total / size
        targets.append(("whole job <= %d instructions a byte (callgrind, 20,000 lines)" %
                        INSTRUCTIONS_LIMIT, per_byte <= INSTRUCTIONS_LIMIT,
                        "%.1f (module %.1f, host %.1f)" % (per_byte, module / size,
                                                           (total - module) / size)))
    else:
        print("  " + (args.instructions_note or "skipped"))

    print()
    print("Batches: subrite-host --to srt -d DIR with every script of a batch (median wall time)")
    if args.batch and os.path.exists(args.batch):
        with open(args.batch) as f:
            batches = json.load(f)
        for name in ("corpus", "similar"):
            batch = batches.get(name)
            if not batch:
                continue
            one, two = statistics.median(batch["j1"]), statistics.median(batch["j2"])
            ratio = one / two if two > 0 else 0.0
            print("  %-46s -j 1 %.3f s  -j 2 %.3f s  %.2fx  (%d files, %.1f MB)" % (
                batch["label"], one, two, ratio, batch["files"], batch["bytes"] / 1e6))
            if batch.get("pair"):
                pair = statistics.median(batch["pair"])
                print("  %-46s %.3f s  %.2fx  (this machine's ceiling for two workers)" % (
                    "  the same as two -j 1 processes at once", pair,
                    one / pair if pair > 0 else 0.0))
            if name == "similar":
                targets.append(("batch of similar files: -j 2 >= %.1fx as fast as -j 1" %
                                BATCH_SPEEDUP_TARGET, ratio >= BATCH_SPEEDUP_TARGET,
                                "%.2fx" % ratio))
    else:
        print("  " + (args.batch_note or "skipped"))

    if args.data:
        write_figure_data(args.data, growth, ffmpeg_growth, job_figures)

    print()
    print("== Targets")
    for text, ok, figure in targets:
        print("  %-8s %-66s %s" % (verdict(ok), text, figure))


def write_figure_data(directory, growth, ffmpeg_growth, job):
    """growth.dat: blocks, then our three kinds in microseconds and ffmpeg in
    seconds ("?" where missing); job.dat: program, wall and CPU seconds."""
    sizes = sorted(set(growth.get("karaoke", {})) | set(ffmpeg_growth or {}))
    with open(os.path.join(directory, "growth.dat"), "w") as f:
        f.write("# blocks karaoke_us italic_us colour_us ffmpeg_karaoke_s\n")
        for size in sizes:
            cells = [str(size)]
            for family in ("karaoke", "italic", "colour"):
                t = growth.get(family, {}).get(size)
                cells.append("%.3f" % (t * 1e6) if t is not None else "?")
            t = (ffmpeg_growth or {}).get(size)
            cells.append("%.4f" % t if t is not None else "?")
            f.write(" ".join(cells) + "\n")
    with open(os.path.join(directory, "job.dat"), "w") as f:
        f.write("# program wall_s cpu_s\n")
        if job:
            f.write('"subrite-host" %.4f %.4f\n' % (job[0], job[1]))
            f.write('"ffmpeg" %.4f %.4f\n' % (job[2], job[3]))


if __name__ == "__main__":
    main()
