#!/usr/bin/env python3
"""Turns the benchmark results and the whole-job timings into the report.

    report.py RESULTS.json JOB.json NOTE

RESULTS.json is Google Benchmark's JSON output; the median of the
repetitions is used where there are several. JOB.json holds the whole-job
runs (wall and CPU seconds, peak KiB) of each program; NOTE says why it
is missing.
"""

import json
import os
import statistics
import sys

GROWTH_LIMIT = 2.2
SPEEDUP_TARGET = 20.0
PATH_TARGET = 3e6  # lines per second
ALLOCATION_LIMIT = 1.0
PEAK_LIMIT_KIB = 16 * 1024

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
    results, job_path, note = sys.argv[1], sys.argv[2], sys.argv[3]
    context, rows = load(results)
    targets = []

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
        targets.append(("full sample path >= 3 M lines/s of the mixed set",
                        lines >= PATH_TARGET, "%s lines/s" % si(lines)))
        allocations = path["allocs/line"]
        targets.append(("<= 1 heap allocation per converted line (0 the aim)",
                        allocations <= ALLOCATION_LIMIT, "%.3f per line" % allocations))

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
    for family, label, is_target in families:
        sizes = sorted(int(k.split(":")[1]) for k in rows if k.startswith("growth/%s:" % family))
        if not sizes:
            continue
        times = [seconds(rows["growth/%s:%d" % (family, s)]) for s in sizes]
        ratios = [b / a for a, b in zip(times, times[1:])]
        print("  %-24s %s" % (label, "  ".join("%d: %.0f us" % (s, t * 1e6)
                                                 for s, t in zip(sizes, times))))
        print("  %-24s ratios %s" % ("", "  ".join("%.2f" % r for r in ratios)))
        if is_target:
            targets.append(("growth %s, %d to %d: each doubling <= %.1f" % (
                label, sizes[0], sizes[-1], GROWTH_LIMIT), max(ratios) <= GROWTH_LIMIT,
                "worst %.2f" % max(ratios)))

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
            targets.append(("whole job >= 20x faster than ffmpeg", ratio >= SPEEDUP_TARGET,
                            "%.1fx" % ratio))
        else:
            print("  ffmpeg: not installed (tools/bootstrap --bench); no comparison")
        targets.append(("subrite-host peak memory < 16 MiB", peak < PEAK_LIMIT_KIB,
                        "%.1f MiB" % (peak / 1024)))
    else:
        print("  " + (note or "skipped"))

    print()
    print("== Targets")
    for text, ok, figure in targets:
        print("  %-8s %-66s %s" % (verdict(ok), text, figure))


if __name__ == "__main__":
    main()
