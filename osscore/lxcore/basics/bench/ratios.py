#!/usr/bin/env python3
"""Runs every benchmark program and prints each result as a ratio to its peer.

Benchmark names have the form OPERATION/IMPLEMENTATION[/ARGUMENT...]. For every
OPERATION and ARGUMENT, the implementation named as the program's peer in PEERS
is the reference (ratio 1.00): a ratio below 1 means faster than the peer.
Times are medians over the repetitions.

usage: ratios.py BENCH_DIR [PROGRAM...] [--repetitions N]
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
    "bench_crc": "zlib",
    "bench_rle": "memcpy",
    "bench_memfile": "vector",
    "bench_differ": "unordered_map",
}


def run(path, repetitions):
    out = subprocess.run(
        [path, "--benchmark_format=json", f"--benchmark_repetitions={repetitions}",
         "--benchmark_report_aggregates_only=true"],
        check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def main():
    args = sys.argv[1:]
    repetitions = 5
    if "--repetitions" in args:
        i = args.index("--repetitions")
        repetitions = int(args[i + 1])
        del args[i:i + 2]
    if not args:
        print(__doc__)
        return 2
    bench_dir, wanted = args[0], args[1:]
    programs = sorted(p for p in os.listdir(bench_dir)
                      if p.startswith("bench_") and os.access(os.path.join(bench_dir, p), os.X_OK)
                      and not os.path.isdir(os.path.join(bench_dir, p)))
    if wanted:
        programs = [p for p in programs if p in wanted]
    for prog in programs:
        data = run(os.path.join(bench_dir, prog), repetitions)
        ctx = data["context"]
        print(f"\n== {prog}  ({ctx.get('num_cpus')} CPUs at {ctx.get('mhz_per_cpu')} MHz, {ctx.get('date')})")
        medians = {}
        for b in data["benchmarks"]:
            if b.get("aggregate_name") != "median":
                continue
            parts = b["run_name"].split("/")
            op, impl, arg = parts[0], parts[1] if len(parts) > 1 else "", "/".join(parts[2:])
            medians[(op, arg, impl)] = (b["real_time"], b["time_unit"], b.get("bytes_per_second"),
                                        b.get("items_per_second"))
        peer = PEERS.get(prog)
        keys = sorted({(op, arg) for op, arg, _ in medians}, key=lambda k: (k[0], len(k[1]), k[1]))
        for op, arg in keys:
            impls = sorted(i for o, a, i in medians if (o, a) == (op, arg))
            ref = medians.get((op, arg, peer)) if peer else None
            for impl in impls:
                t, unit, bps, ips = medians[(op, arg, impl)]
                ratio = f"{t / ref[0]:6.2f}" if ref and ref[0] > 0 else "     -"
                rate = f"{bps / 2**20:10.1f} MiB/s" if bps else (f"{ips / 1e6:10.2f} M/s" if ips else "")
                print(f"  {op:28s} {arg:>10s} {impl:26s} {t:12.1f} {unit}  ratio {ratio} {rate}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
