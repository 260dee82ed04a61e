#!/usr/bin/env python3
"""Turns the benchmark results of bench/run.sh into REPORT.md and an SVG chart."""
import json
import os
import platform
import re
import subprocess
import sys

UNIT = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def load(folder, name):
    with open(os.path.join(folder, name + ".json")) as f:
        data = json.load(f)
    runs = {}
    for b in data["benchmarks"]:
        if b.get("run_type", "iteration") != "iteration":
            continue
        b["seconds"] = b["real_time"] * UNIT[b["time_unit"]]
        runs[b["name"]] = b
    return data.get("context", {}), runs


def machine(context):
    cpu = ""
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return "%s, %s cores at %s MHz, %s, %s" % (cpu or "unknown CPU", context.get("num_cpus", "?"),
                                             context.get("mhz_per_cpu", "?"), platform.platform(),
                                             context.get("library_build_type", "?") + " benchmark library")


def main():
    folder, report, chart = sys.argv[1], sys.argv[2], sys.argv[3]
    context, js = load(folder, "bench_json")
    _, env = load(folder, "bench_envelope")
    _, sig = load(folder, "bench_signature")
    _, cycle = load(folder, "bench_cycle")
    _, upload = load(folder, "bench_upload")
    rows = []  # figure, ours, peer or bound, ratio, target, met

    def row(figure, ours, peer, ratio, target, met):
        rows.append((figure, ours, peer, "%.2f" % ratio if ratio is not None else "", target,
                     "" if met is None else ("yes" if met else "**no**")))

    docs = ["answer_1KB", "records_1MB", "document_10MB", "members_100k"]
    for op in ("read", "write"):
        for d in docs:
            a, b = js.get("%s/ours/%s" % (op, d)), js.get("%s/nlohmann/%s" % (op, d))
            if not a or not b:
                continue
            ra, rb = a["bytes_per_second"] / 1e6, b["bytes_per_second"] / 1e6
            need = 2.0 if d in ("records_1MB", "document_10MB") else 1.0
            row("JSON %s %s" % (op, d), "%.0f MB/s" % ra, "nlohmann %.0f MB/s" % rb, ra / rb, ">= %.0f" % need,
                ra / rb >= need)
    heap = re.search(r"ours ([0-9.]+)x its size, nlohmann ([0-9.]+)x", open(os.path.join(folder, "bench_json.txt")).read())
    if heap:
        ours, theirs = float(heap.group(1)), float(heap.group(2))
        row("JSON read 10 MB: live-heap peak", "%.2fx size" % ours, "nlohmann %.2fx" % theirs, ours / theirs, "<= 4x size",
            ours <= 4)
    for kind in ("Encode", "Decode"):
        for size in (1 << 10, 64 << 10, 4 << 20):
            r = env.get("BM_%s/%d" % (kind, size))
            if not r:
                continue
            label = "%d KB" % (size >> 10) if size < (1 << 20) else "%d MB" % (size >> 20)
            row("envelope %s %s" % (kind.lower(), label), "%.0f us" % (r["seconds"] * 1e6),
                "zlib+libcrypto %.0f us" % r["bound_us"], r["x_bound"], "<= 1.25", r["x_bound"] <= 1.25)
            row("envelope %s %s: heap peak" % (kind.lower(), label), "%.2fx size" % r["peak_x"], "", None, "<= 3x size",
                r["peak_x"] <= 3)
    for size, label in ((1 << 10, "1 KB metadata"), (1 << 20, "1 MB definition file")):
        a, b = sig.get("BM_VerifyOurs/%d" % size), sig.get("BM_VerifyLibcrypto/%d" % size)
        if a and b:
            row("verify one signature, %s" % label, "%.0f us" % (a["seconds"] * 1e6),
                "libcrypto, key loaded %.0f us" % (b["seconds"] * 1e6), a["seconds"] / b["seconds"], "", None)
    for name, label in (("BM_FirstCallMetadataUpdateCheck", "cycle (faked farm)"),
                        ("BM_CycleAgainstWebFarm", "cycle (web farm, loopback)")):
        r = cycle.get(name) or next((v for k, v in cycle.items() if k.startswith(name)), None)
        if r:
            row("first call + metadata + update check, " + label, "%.2f ms" % (r["seconds"] * 1e3),
                "", None, "", None)
            row("  heap peak, " + label, "%.0f KB" % r["peak_heap_KB"], "", None, "", None)
    for name, label in (("BM_UploadUsageLog10MB", "faked farm"), ("BM_UploadUsageLog10MBToWebFarm", "web farm")):
        r = next((v for k, v in upload.items() if k.startswith(name + "/") or k == name), None)
        if r:
            row("10 MB usage log upload, " + label, "%.0f ms" % (r["seconds"] * 1e3), "", None, "", None)
            row("  heap peak, " + label, "%.1f MB" % r["peak_heap_MB"], "file 10 MB", r["peak_x_file"], "<= 6x file",
                r["peak_x_file"] <= 6)
            if "maxrss_MB" in r:
                row("  resident high-water mark, " + label, "%.0f MB" % r["maxrss_MB"], "", None, "", None)
    alone = upload.get("BM_UsagePassBesideHostileEntries/0")
    beside = upload.get("BM_UsagePassBesideHostileEntries/40")
    if alone and beside:
        row("usage pass, 3 small logs", "%.0f us" % (alone["seconds"] * 1e6), "", None, "", None)
        # Listed and left alone, never waited on: the pass takes about as long.
        row("  beside 40 hostile entries", "%.0f us" % (beside["seconds"] * 1e6), "alone",
            beside["seconds"] / alone["seconds"], "<= 1.5", beside["seconds"] / alone["seconds"] <= 1.5)
    idle = open(os.path.join(folder, "idle.txt")).read().strip()
    m = re.search(r"wake-ups per idle minute: ([0-9.]+) \(one cycle's: ([0-9.]+)\)", idle)
    if m:
        # Between cycles nothing may wake the service: a minute costs one cycle's wake-ups.
        minute, cycle = float(m.group(1)), float(m.group(2))
        row("idle service, wake-ups per minute (debug log off)", "%.1f" % minute, "one cycle: %.1f" % cycle, None,
            "one cycle's", minute <= cycle + 0.5)

    with open(report, "w") as f:
        f.write("# Benchmark report\n\n")
        f.write("Made by `./dev bench` (bench/run.sh) on %s.\n\n" % machine(context))
        f.write("| figure | ours | peer or bound | ratio | target | met |\n|---|---|---|---|---|---|\n")
        for r in rows:
            f.write("| %s |\n" % " | ".join(r))
        f.write("\nRatios: JSON is ours over nlohmann's throughput (higher is better); the envelope is our time over "
                "the time of its own stages done by zlib and libcrypto in the same run (lower is better); a signature "
                "check is our time (text read, key imported, document hashed and verified) over libcrypto's "
                "verification alone with its key loaded; heap "
                "figures are the live C++ heap's peak over the input size.\n\n")
        f.write("## Idle service (Linux build, fast-forwarded)\n\n```\n%s\n```\n\n" % idle)
        f.write("![throughput](throughput.svg)\n")

    # Throughput against size: envelope encode/decode and our JSON read.
    series = []
    for kind, colour in (("Encode", "#1f77b4"), ("Decode", "#ff7f0e")):
        pts = [(s, s / env["BM_%s/%d" % (kind, s)]["seconds"] / 1e6) for s in (1 << 10, 64 << 10, 4 << 20)
               if "BM_%s/%d" % (kind, s) in env]
        series.append(("envelope " + kind.lower(), colour, pts))
    sizes = {"answer_1KB": 1 << 10, "records_1MB": 1 << 20, "document_10MB": 10 << 20}
    for who, colour in (("ours", "#2ca02c"), ("nlohmann", "#d62728")):
        pts = sorted((sizes[d], js["read/%s/%s" % (who, d)]["bytes_per_second"] / 1e6) for d in sizes
                     if "read/%s/%s" % (who, d) in js)
        series.append(("JSON read, " + who, colour, pts))
    write_svg(chart, series)


def write_svg(path, series):
    import math
    w, h, left, bottom, top, right = 640, 400, 70, 50, 30, 170
    xs = [p[0] for s in series for p in s[2]]
    ys = [p[1] for s in series for p in s[2]]
    if not xs:
        return
    x0, x1 = math.log10(min(xs)), math.log10(max(xs))
    y1 = max(ys) * 1.1
    px = lambda x: left + (math.log10(x) - x0) / max(x1 - x0, 1e-9) * (w - left - right)
    py = lambda y: h - bottom - y / y1 * (h - bottom - top)
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif" font-size="12">' % (w, h),
           '<rect width="100%" height="100%" fill="white"/>',
           '<text x="%d" y="18" font-size="14">Throughput against text size (MB/s, log size axis)</text>' % left,
           '<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="black"/>' % (left, h - bottom, w - right, h - bottom),
           '<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="black"/>' % (left, top, left, h - bottom)]
    for s in sorted(set(xs)):
        label = "%d KB" % (s >> 10) if s < (1 << 20) else "%d MB" % (s >> 20)
        out.append('<text x="%.0f" y="%d" text-anchor="middle">%s</text>' % (px(s), h - bottom + 18, label))
    for i in range(6):
        y = y1 * i / 5
        out.append('<text x="%d" y="%.0f" text-anchor="end">%.0f</text>' % (left - 6, py(y) + 4, y))
        out.append('<line x1="%d" y1="%.0f" x2="%d" y2="%.0f" stroke="#ddd"/>' % (left, py(y), w - right, py(y)))
    for i, (name, colour, pts) in enumerate(series):
        if not pts:
            continue
        out.append('<polyline fill="none" stroke="%s" stroke-width="2" points="%s"/>' %
                   (colour, " ".join("%.1f,%.1f" % (px(x), py(y)) for x, y in pts)))
        for x, y in pts:
            out.append('<circle cx="%.1f" cy="%.1f" r="3" fill="%s"/>' % (px(x), py(y), colour))
        ly = top + 20 + i * 18
        out.append('<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="%s" stroke-width="2"/>' % (w - right + 10, ly, w - right + 30, ly, colour))
        out.append('<text x="%d" y="%d">%s</text>' % (w - right + 35, ly + 4, name))
    out.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
