#!/usr/bin/env python3
"""Runs every benchmark program, prints each result as a ratio to its peer and
checks the performance targets.

Benchmark names have the form OPERATION/IMPLEMENTATION[/ARGUMENT...]. For every
OPERATION and ARGUMENT, the implementation named as the program's peer in PEERS
is the reference (ratio 1.00): a ratio below 1 means faster than the peer.
Times are medians of real time over the repetitions.

After the results, every target of TARGETS whose program ran is printed with
its ratio and a check mark. With --check the script exits with 1 when a target
is missed (meant for a quiet machine: timings on a shared one vary).

With --smoke every benchmark runs once and briefly: no figures worth reading,
but every program builds, runs and checks its results (meant for CI).
A benchmark that finds a wrong result fails the script in every mode.

usage: ratios.py BENCH_DIR [PROGRAM...] [--repetitions N] [--check | --smoke]
"""
import json
import os
import subprocess
import sys

# program -> implementation that is the reference for its ratios
PEERS = {
    "bench_arrays": "baseline",
    "bench_statistics": "plain_int32",
    "bench_catalog": "unordered_map",
    "bench_rbtree": "std_multiset",
    "bench_crc": "isal",
    "bench_rle": "lz4",
    "bench_memfile": "vector",
    "bench_differ": "unordered_map",
}

# The targets, one per row: the median time of IMPLEMENTATION at most BOUND times
# that of PEER, for OPERATION with ARGUMENT ("" for none) in PROGRAM, measured in
# the same run. A target holds when the ratio is within 5% of its bound. SOURCE
# says where the target comes from.
TOLERANCE = 1.05
TREE_OPERATIONS = ["RandomInsert", "AscendingInsert", "LookupPresent", "LookupAbsent", "Walk", "DeleteAll"]
TARGETS = [
    # program, operation, argument, implementation, peer, bound, source
    *[("bench_crc", "CalcCheckSum", size, "lx", "isal", 1.2 if size in ("64", "256") else 1.0, "issue 16")
      for size in ("64", "256", "4096", "65536", "1048576", "67108864")],
    *[("bench_crc", "CalcCheckSum", size, "lx", "zlib", 1 / 1.5, "README, memory files")
      for size in ("4096", "1048576")],
    *[("bench_rle", op, block, "lx", "lz4", 0.5 if op == "Encode" else 1.0, "issue 16")
      for op in ("Encode", "Decode") for block in ("page", "random", "runs")],
    ("bench_memfile", "Append", "67108864", "lx", "vector", 0.6, "README, memory files"),
    *[("bench_rbtree", op, "1000", "LxRBTree", "std_multiset", 3.0, "issue 16") for op in TREE_OPERATIONS],
    *[("bench_rbtree", op, size, "LxRBTree", "std_multiset", 0.9 if op == "LookupAbsent" else 0.8, "issue 16")
      for size in ("100000", "1000000") for op in TREE_OPERATIONS],
    ("bench_arrays", "Append", "32767", "LxCList", "baseline", 2.0, "issue 16"),
]


def run(path, repetitions, smoke=False):
    # Repetitions of all benchmarks run in random order, so that a slow moment of
    # the machine does not fall on one implementation only.
    args = [path, "--benchmark_format=json", f"--benchmark_repetitions={repetitions}",
            "--benchmark_report_aggregates_only=true", "--benchmark_enable_random_interleaving=true"]
    if smoke:
        args += ["--benchmark_min_time=0.0001"]
    out = subprocess.run(args, check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def errors_of(data):
    """The names and messages of the benchmarks that reported a wrong result."""
    return [f"{b['name']}: {b.get('error_message', '')}" for b in data["benchmarks"] if b.get("error_occurred")]


def medians_of(data):
    """(operation, argument, implementation) -> the median's record: real time, unit,
    rates and counters (with one repetition, the single run's)."""
    runs = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") == "median" or (b.get("run_type") == "iteration" and b["run_name"] not in runs):
            runs[b["run_name"]] = b
    medians = {}
    for name, b in runs.items():
        parts = name.split("/")
        op, impl, arg = parts[0], parts[1] if len(parts) > 1 else "", "/".join(parts[2:])
        medians[(op, arg, impl)] = b
    return medians


def print_program(prog, data, medians):
    ctx = data["context"]
    print(f"\n== {prog}  ({ctx.get('num_cpus')} CPUs at {ctx.get('mhz_per_cpu')} MHz, {ctx.get('date')})")
    peer = PEERS.get(prog)
    keys = sorted({(op, arg) for op, arg, _ in medians}, key=lambda k: (k[0], len(k[1]), k[1]))
    for op, arg in keys:
        impls = sorted(i for o, a, i in medians if (o, a) == (op, arg))
        ref = medians.get((op, arg, peer)) if peer else None
        for impl in impls:
            b = medians[(op, arg, impl)]
            t = b["real_time"]
            ratio = f"{t / ref['real_time']:6.2f}" if ref and ref["real_time"] > 0 else "     -"
            bps, ips = b.get("bytes_per_second"), b.get("items_per_second")
            rate = f"{bps / 2**20:10.1f} MiB/s" if bps else (f"{ips / 1e6:10.2f} M/s" if ips else "")
            stored = f"  stored {b['stored']:.0f} B" if "stored" in b else ""
            print(f"  {op:28s} {arg:>10s} {impl:26s} {t:12.1f} {b['time_unit']}  ratio {ratio} {rate}{stored}")


def check_targets(results):
    """Prints every target whose program ran; returns the number missed."""
    missed = 0
    printed_header = False
    for prog, op, arg, impl, peer, bound, source in TARGETS:
        if prog not in results:
            continue
        if not printed_header:
            print("\n== targets (median time against the peer's, same run; holds within 5%)")
            printed_header = True
        medians = results[prog]
        ours, theirs = medians.get((op, arg, impl)), medians.get((op, arg, peer))
        label = f"{prog} {op}/{impl}/{arg} against {peer}"
        if ours is None or theirs is None or theirs["real_time"] <= 0:
            print(f"  ✗ {label:60s} not measured            ({source})")
            missed += 1
            continue
        ratio = ours["real_time"] / theirs["real_time"]
        ok = ratio <= bound * TOLERANCE
        missed += not ok
        print(f"  {'✓' if ok else '✗'} {label:60s} {ratio:6.2f} (at most {bound:.2f})  ({source})")
    return missed


def main():
    args = sys.argv[1:]
    repetitions = 5
    if "--repetitions" in args:
        i = args.index("--repetitions")
        repetitions = int(args[i + 1])
        del args[i:i + 2]
    check = "--check" in args
    smoke = "--smoke" in args
    if smoke:
        repetitions = 1
    args = [a for a in args if a not in ("--check", "--smoke")]
    if not args:
        print(__doc__)
        return 2
    bench_dir, wanted = args[0], args[1:]
    programs = sorted(p for p in os.listdir(bench_dir)
                      if p.startswith("bench_") and os.access(os.path.join(bench_dir, p), os.X_OK)
                      and not os.path.isdir(os.path.join(bench_dir, p)))
    if wanted:
        programs = [p for p in programs if p in wanted]
    if not programs:
        print(f"ratios.py: no benchmark programs in {bench_dir}", file=sys.stderr)
        return 2
    results, errors = {}, []
    for prog in programs:
        data = run(os.path.join(bench_dir, prog), repetitions, smoke)
        errors += [f"{prog} {e}" for e in errors_of(data)]
        results[prog] = medians_of(data)
        if not smoke:
            print_program(prog, data, results[prog])
    if smoke:
        print(f"{len(programs)} benchmark programs ran, {len(errors)} wrong result(s)")
        missed = 0
    else:
        missed = check_targets(results)
        if missed:
            print(f"\n{missed} target(s) missed")
    for e in errors:
        print(f"wrong result: {e}", file=sys.stderr)
    return 1 if errors or (check and missed) else 0


if __name__ == "__main__":
    sys.exit(main())
