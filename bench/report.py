#!/usr/bin/python3
"""Turns the JSON files of the benchmark programs into bench/REPORT.md and
bench/report.png: one ratio per operation, vexlib's CPU time over its
peer's (below 1: vexlib is faster).

Benchmarks are named family/case/impl (bench/benchutil.h). Impls whose name
starts with "vex" are this library; the peer of an operation is the first
of opencv, fftw, vips, any other impl, memcpy that it has. An operation of
the form tiled-F/case with no peer of its own (bench_stream) is compared
with untiled-F/case, the same call on an untiled image (or, when the case
reports the counter vs_untiled, with the untiled call timed in the same
rounds: the ratio is that counter), and an operation whose impls are
"tiled" and "untiled" (bench_tiled) compares the two. F/C_call and
F/C_tablegiven (vex) with F/C_rule (another impl, bench_dib's median cut)
make one operation F/C: the call's time minus the call's time with the
table given, against the rule's time.

    report.py RESULTS_DIR REPORT.md REPORT.png [RESULTS.md]
    report.py --check RESULTS_DIR     only the name check, exit 1 on a problem

RESULTS_DIR holds PROGRAM.json (--benchmark_out) and PROGRAM.list
(--benchmark_list_tests) of each program, and the uptime files."""
import glob
import json
import math
import os
import platform
import sys

PEER_ORDER = ("opencv", "fftw", "vips")


def base_name(name):
    """family/case/impl of a Google Benchmark name: without the suffixes
    the library appends (/real_time, /min_time:..., /repeats:..., _median)."""
    parts = [p for p in name.split("/") if ":" not in p and p not in ("real_time", "process_time")]
    return "/".join(parts)


def split(name):
    """(family/case, impl), or None when the name is not family/case/impl."""
    parts = base_name(name).split("/")
    if len(parts) < 3 or not all(parts):
        return None
    return parts[0] + "/" + parts[1], "/".join(parts[2:])


def load(results_dir):
    """{program: {family/case: {impl: (wall s, cpu s)}}}, the context, and
    the names that ran, per program."""
    rows, ran, context = {}, {}, None
    for path in sorted(glob.glob(os.path.join(results_dir, "*.json"))):
        program = os.path.splitext(os.path.basename(path))[0]
        with open(path) as f:
            data = json.load(f)
        context = context or data.get("context", {})
        ops = rows.setdefault(program, {})
        names = ran.setdefault(program, set())
        for b in data.get("benchmarks", []):
            if b.get("error_occurred") or b.get("skipped"):
                continue
            aggregate = b.get("run_type") == "aggregate"
            # With repetitions keep the median aggregate only.
            if aggregate and b.get("aggregate_name") != "median":
                continue
            run_name = b.get("run_name") or b["name"]
            names.add(base_name(run_name))
            got = split(run_name)
            if got is None:
                continue
            op, impl = got
            unit = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b.get("time_unit", "ns")]
            entry = ops.setdefault(op, {})
            if aggregate or impl not in entry:
                entry[impl] = (b["real_time"] * unit, b.get("cpu_time", 0.0) * unit)
                # bench_stream's tiled cases time the untiled call in the same
                # rounds: their ratio, when given, is the one to report.
                if "vs_untiled" in b:
                    entry[impl + "#vs_untiled"] = float(b["vs_untiled"])
    return rows, ran, context or {}


def listed(results_dir, program):
    path = os.path.join(results_dir, program + ".list")
    if not os.path.exists(path):
        return None
    with open(path) as f:
        # The list is the registered names, one a line; the programs print
        # their own summary table after it, whose lines hold spaces.
        return [ln.strip() for ln in f if ln.strip() and " " not in ln.strip() and "/" in ln]


def check(results_dir, rows, ran):
    """Problems of the name parsing: listed names that are not
    family/case/impl, listed names that gave no result, operations with no
    vex impl or no peer."""
    problems = []
    for program in sorted(rows):
        names = listed(results_dir, program)
        if names is None:
            problems.append(f"{program}: no {program}.list (run it with --benchmark_list_tests)")
            continue
        missing = []
        for n in names:
            if split(n) is None:
                problems.append(f"{program}: '{n}' is not family/case/impl")
            elif base_name(n) not in ran[program]:
                missing.append(base_name(n))
        if missing:
            problems.append(f"{program}: {len(missing)} of {len(names)} listed cases gave no result "
                            f"(filtered out, failed or skipped), e.g. {', '.join(missing[:3])}")
        for op, impls in sorted(derive(rows[program]).items()):
            if not ours(impls):
                problems.append(f"{program}: {op} has no vex impl")
    return problems


def ours(impls):
    """The impls that are this library under test."""
    mine = [i for i in impls if i.startswith("vex") and "#" not in i]
    return mine or (["tiled"] if "tiled" in impls and "untiled" in impls else [])


def pick_peer(impls):
    mine = ours(impls)
    others = [i for i in impls if i not in mine and "#" not in i]
    if "untiled" in others:
        return "untiled"
    for p in PEER_ORDER:
        if p in others:
            return p
    rest = [i for i in others if i != "memcpy"]
    return rest[0] if rest else ("memcpy" if "memcpy" in others else None)


def untiled_twin(ops, op):
    family, case = op.split("/", 1)
    if not family.startswith("tiled-"):
        return None
    stem = family[len("tiled-"):]
    while stem:
        twin = f"untiled-{stem}/{case}"
        if twin in ops:
            return twin
        stem = stem.rpartition("-")[0]
    return None


def derive(ops):
    """ops with each F/C_call, F/C_tablegiven, F/C_rule trio replaced by
    F/C: vex = call - tablegiven, the rule's impl as the peer."""
    ops = dict(ops)
    for op in [o for o in ops if o.endswith("_rule")]:
        base = op[:-len("_rule")]
        call, given = ops.get(base + "_call", {}).get("vex"), ops.get(base + "_tablegiven", {}).get("vex")
        if call is None or given is None:
            continue
        derived = {"vex": (call[0] - given[0], call[1] - given[1])}
        derived.update(ops.pop(op))
        del ops[base + "_call"], ops[base + "_tablegiven"]
        ops[base] = derived
    return ops


def ratios(rows):
    """One row per operation and vex impl: (program, operation, vex impl,
    vex wall, vex cpu, peer label, peer wall, peer cpu)."""
    out, unpaired = [], []
    for program in sorted(rows):
        ops = derive(rows[program])
        twins = {untiled_twin(ops, op) for op in ops}
        for op in sorted(ops):
            impls = ops[op]
            peer = pick_peer(impls)
            if peer is not None:
                pw, pc = impls[peer]
                label = "untiled vex" if peer == "untiled" else peer
            else:
                twin = untiled_twin(ops, op)
                twin_vex = ops.get(twin, {}).get("vex") if twin else None
                if twin_vex is None and "vex#vs_untiled" in impls:
                    twin_vex = impls["vex"]  # the paired ratio below replaces it
                if twin_vex is None:
                    if op not in twins:
                        unpaired.append(f"{program} {op}")
                    continue
                pw, pc = twin_vex
                label = "untiled vex"
            for impl in sorted(ours(impls)):
                vw, vc = impls[impl]
                name = op if impl in ("vex", "tiled") else f"{op} ({impl})"
                paired = impls.get(impl + "#vs_untiled")
                if label == "untiled vex" and paired:
                    # The untiled call of the same rounds: its times are the
                    # tiled ones over the measured ratio.
                    out.append((program, name, impl, vw, vc, "untiled vex, same rounds", vw / paired, vc / paired))
                    continue
                out.append((program, name, impl, vw, vc, label, pw, pc))
    return out, unpaired


def first_line(path):
    try:
        with open(path) as f:
            return f.readline().strip()
    except OSError:
        return "(not recorded)"


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            info = f.read()
    except OSError:
        return platform.processor() or "unknown", 0, ""
    model = next((ln.split(":", 1)[1].strip() for ln in info.splitlines() if ln.startswith("model name")),
                 "unknown")
    count = sum(1 for ln in info.splitlines() if ln.startswith("processor"))
    flags = next((ln.split(":", 1)[1].split() for ln in info.splitlines() if ln.startswith("flags")), [])
    simd = " ".join(f for f in ("sse4_2", "avx", "avx2", "fma", "avx512f") if f in flags)
    return model, count, simd


def ratio(a, b):
    return a / b if b > 0 else float("nan")


def geomean(values):
    values = [v for v in values if v > 0 and math.isfinite(v)]
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else float("nan")


def summary(programs, table):
    """The per-program table: operations, how many vexlib wins, geometric mean."""
    lines = ["| program | operations | vexlib faster | geometric mean vex/peer (CPU) |", "|---|---:|---:|---:|"]
    for program in programs:
        mine = [t for t in table if t[0] == program]
        cpu = [ratio(t[4], t[7]) for t in mine]
        lines.append(f"| {program} | {len(mine)} | {sum(1 for c in cpu if c < 1.0)} | {geomean(cpu):.2f} |")
    cpu = [ratio(t[4], t[7]) for t in table]
    lines.append(f"| all | {len(table)} | {sum(1 for c in cpu if c < 1.0)} | {geomean(cpu):.2f} |")
    return lines


BEGIN, END = "<!-- report: begin -->", "<!-- report: end -->"


def update_results(path, results_dir, table, ctx):
    """Replaces the generated block of bench/RESULTS.md (between the two
    markers) with the latest run's summary; the hand-written notes around it
    stay as they are."""
    with open(path) as f:
        text = f.read()
    if BEGIN not in text or END not in text:
        print(f"{path}: no {BEGIN} ... {END} block, left alone", file=sys.stderr)
        return
    programs = sorted(os.path.splitext(os.path.basename(x))[0]
                      for x in glob.glob(os.path.join(results_dir, "*.json")))
    block = [BEGIN, "", f"Latest `bench/report` run: {ctx.get('date', '?')}, "
             f"{os.environ.get('BENCH_MODE', '') or 'full'} mode, "
             f"load before `{first_line(os.path.join(results_dir, 'load-before.txt'))}`. "
             "Ratios are vexlib CPU time over the peer's; every operation's row is in "
             "[REPORT.md](REPORT.md), the chart in [report.png](report.png).", ""]
    block += summary(programs, table) + ["", END]
    head, rest = text.split(BEGIN, 1)
    tail = rest.split(END, 1)[1]
    with open(path, "w") as f:
        f.write(head + "\n".join(block) + tail)


def write_markdown(path, results_dir, table, unpaired, problems, ctx):
    model, count, simd = cpu_model()
    programs = sorted(os.path.splitext(os.path.basename(x))[0]
                      for x in glob.glob(os.path.join(results_dir, "*.json")))
    mode = os.environ.get("BENCH_MODE", "")
    lines = ["# Benchmark report (generated by bench/report)", "",
             "Written by `bench/report` from the programs' JSON output; do not edit by hand.",
             "One row per operation: vexlib's CPU time per call over its peer's (below 1.0 vexlib is",
             "faster), single-threaded (OpenCV limited to one thread). CPU time is the steadier",
             "figure on a loaded machine; the wall-time ratio is beside it.", "",
             "## Machine and load", "",
             f"- CPU: {model}, {count} logical CPUs ({simd}); {ctx.get('mhz_per_cpu', '?')} MHz "
             "as Google Benchmark reports it",
             f"- Run at {ctx.get('date', '?')}, {mode or 'full'} mode; vexlib built Release",
             f"- Programs: {', '.join(programs) or 'none'}",
             f"- Arguments: `{os.environ.get('BENCH_ARGS', '').strip()}`",
             f"- Load before: `{first_line(os.path.join(results_dir, 'load-before.txt'))}`",
             f"- Load after: `{first_line(os.path.join(results_dir, 'load-after.txt'))}`", ""]
    lines += ["## Summary", ""] + summary(programs, table)
    lines += ["", "## Ratios per operation", "",
              "| program | operation | vex CPU µs | peer | peer CPU µs | vex/peer (CPU) | vex/peer (wall) |",
              "|---|---|---:|---|---:|---:|---:|"]
    for program, op, _, vw, vc, peer, pw, pc in table:
        lines.append(f"| {program} | {op} | {vc * 1e6:.1f} | {peer} | {pc * 1e6:.1f} | "
                     f"{ratio(vc, pc):.2f} | {ratio(vw, pw):.2f} |")
    if not table:
        lines.append("| (no pairs measured) | | | | | | |")
    if unpaired:
        lines += ["", "Operations without a peer (measured, not in the table): " + ", ".join(unpaired) + "."]
    if problems:
        lines += ["", "Name check: " + "; ".join(problems) + "."]
    else:
        lines += ["", "Name check: every name each program lists (`--benchmark_list_tests`) is "
                  "family/case/impl and gave a result."]
    lines += ["", "![ratios](report.png)", ""]
    with open(path, "w") as f:
        f.write("\n".join(lines))


def draw(path, table):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.ticker
    import matplotlib.pyplot as plt

    labels = [f"{program.replace('bench_', '')}: {op} vs {peer}" for program, op, _, _, _, peer, _, _ in table]
    values = [ratio(t[4], t[7]) for t in table]
    height = max(3.0, 0.16 * len(values) + 1.5)
    fig, ax = plt.subplots(figsize=(10, height))
    colors = ["#2a7f3f" if v < 1.0 else "#b03a2e" for v in values]
    ax.barh(range(len(values)), values, color=colors)
    ax.set_yticks(range(len(values)))
    ax.set_yticklabels(labels, fontsize=6)
    ax.set_ylim(len(values) - 0.5, -0.5)
    ax.set_xscale("log")
    ax.xaxis.set_major_formatter(matplotlib.ticker.FuncFormatter(lambda v, _: f"{v:g}"))
    # Minor labels at 2 and 5 times a power of ten only.
    ax.xaxis.set_minor_formatter(matplotlib.ticker.FuncFormatter(
        lambda v, _: f"{v:g}" if f"{v:.0e}"[0] in "25" else ""))
    ax.tick_params(axis="x", which="minor", labelsize=7)
    ax.axvline(1.0, color="black", linewidth=1.2, linestyle="--", label="1.0: as fast as the peer")
    ax.set_xlabel("vexlib CPU time / peer CPU time (log scale; below 1.0 vexlib is faster)")
    ax.set_title("vexlib against its peers, one bar per operation, single-threaded")
    ax.legend(loc="lower right", fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=100)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--check":
        rows, ran, _ = load(sys.argv[2])
        problems = check(sys.argv[2], rows, ran)
        _, unpaired = ratios(rows)
        for p in problems:
            print(p)
        for u in unpaired:
            print(f"{u}: no peer")
        return 1 if problems else 0
    results_dir, md_path, png_path = sys.argv[1:4]
    rows, ran, ctx = load(results_dir)
    table, unpaired = ratios(rows)
    problems = check(results_dir, rows, ran)
    write_markdown(md_path, results_dir, table, unpaired, problems, ctx)
    if len(sys.argv) > 4:
        update_results(sys.argv[4], results_dir, table, ctx)
    draw(png_path, table)
    for p in problems:
        print("name check:", p, file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
