#!/usr/bin/env python3
"""Mutation sampling: how many small faults in src/ do the tests catch?

Each mutant changes one operator or constant on one line of the library's
sources (osscore/lxcore/basics/src). For each, the build directory is rebuilt
incrementally and ctest runs with --stop-on-failure and a timeout of 60 seconds
per test; a failing or timed-out test kills the mutant. Mutants that do not
compile do not count. The file is restored after every mutant.

  mutate.py pick [--seed S] [--count N] SAMPLE.json
      picks N mutants (default 60) with the fixed seed S (default 1) from every
      possible one and writes them to SAMPLE.json
  mutate.py run BUILD_DIR SAMPLE.json [RESULTS.json] [--equivalent IDS]
               [--tests REGEX]
      runs the sample; IDS is a comma-separated list of mutant ids judged
      equivalent (they leave the count); REGEX limits ctest to the matching
      tests (a quick check while working on one folder; the figures come from
      a run without it)

A mutant is found again by the text of its line, so a sample picked before a
change still applies afterwards where that line is unchanged.
"""
import json
import os
import random
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
LIB = os.path.dirname(HERE)
SRC = os.path.join(LIB, "src")

# (pattern, replacement): each match of a pattern on a line is one mutant.
OPERATORS = [
    (r"(?<= )==(?= )", "!="),
    (r"(?<= )!=(?= )", "=="),
    (r"(?<= )<=(?= )", "<"),
    (r"(?<= )>=(?= )", ">"),
    (r"(?<= )<(?= )", "<="),
    (r"(?<= )>(?= )", ">="),
    (r"(?<= )&&(?= )", "||"),
    (r"(?<= )\|\|(?= )", "&&"),
    (r"(?<= )\+(?= )", "-"),
    (r"(?<= )-(?= )", "+"),
    (r"(?<![\w.])0(?![\w.x])", "1"),
    (r"(?<![\w.])1(?![\w.x])", "0"),
    (r"(?<![\w.])([2-9]|[1-9]\d+)(?![\w.x])", None),  # n -> n + 1
]
SKIP = re.compile(r"^\s*(#|//|\*|/\*)|static_assert|template\s*<|^\s*[}{]?\s*$")


def strip_noise(line):
    """The line with string and character literals and a trailing comment blanked."""
    out = re.sub(r'"(\\.|[^"\\])*"', lambda m: " " * len(m.group(0)), line)
    out = re.sub(r"'(\\.|[^'\\])*'", lambda m: " " * len(m.group(0)), out)
    i = out.find("//")
    return out if i < 0 else out[:i] + " " * (len(out) - i)


def sites():
    for d, _, names in sorted(os.walk(SRC)):
        for name in sorted(names):
            if not name.endswith((".cpp", ".h")):
                continue
            path = os.path.join(d, name)
            with open(path, encoding="utf-8") as f:
                lines = f.read().split("\n")
            for n, line in enumerate(lines, 1):
                if SKIP.search(line) or "#include" in line:
                    continue
                clean = strip_noise(line)
                for op, (pattern, repl) in enumerate(OPERATORS):
                    for m in re.finditer(pattern, clean):
                        new = repl if repl is not None else str(int(m.group(0)) + 1)
                        mutated = line[: m.start()] + new + line[m.end():]
                        yield {"file": os.path.relpath(path, LIB), "line": n, "original": line,
                               "mutated": mutated}


def pick(args):
    seed, count = 1, 60
    if "--seed" in args:
        i = args.index("--seed")
        seed = int(args[i + 1])
        del args[i:i + 2]
    if "--count" in args:
        i = args.index("--count")
        count = int(args[i + 1])
        del args[i:i + 2]
    everything = list(sites())
    sample = random.Random(seed).sample(everything, min(count, len(everything)))
    for k, m in enumerate(sample, 1):
        m["id"] = k
    with open(args[0], "w") as f:
        json.dump({"seed": seed, "population": len(everything), "mutants": sample}, f, indent=1)
    print(f"{len(sample)} of {len(everything)} possible mutants written to {args[0]}")
    return 0


def locate(lines, m):
    """Index of the mutant's line: at its number if unchanged, else the nearest identical line."""
    want = m["line"] - 1
    if 0 <= want < len(lines) and lines[want] == m["original"]:
        return want
    hits = [i for i, l in enumerate(lines) if l == m["original"]]
    return min(hits, key=lambda i: abs(i - want)) if hits else None


def sh(cmd, timeout=None):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=timeout)


def run(args):
    equivalent = set()
    if "--equivalent" in args:
        i = args.index("--equivalent")
        equivalent = {int(x) for x in args[i + 1].split(",") if x}
        del args[i:i + 2]
    only = []
    if "--tests" in args:
        i = args.index("--tests")
        only = ["-R", args[i + 1]]
        del args[i:i + 2]
    build, sample_file = args[0], args[1]
    out_file = args[2] if len(args) > 2 else None
    with open(sample_file) as f:
        sample = json.load(f)["mutants"]
    if sh(["cmake", "--build", build, "-j", str(os.cpu_count())]).returncode != 0:
        print("the unmutated build fails", file=sys.stderr)
        return 2
    results = []
    for m in sample:
        path = os.path.join(LIB, m["file"])
        with open(path, encoding="utf-8") as f:
            text = f.read()
        lines = text.split("\n")
        at = locate(lines, m)
        if at is None:
            verdict = "gone"
        else:
            lines[at] = m["mutated"]
            start = time.time()
            try:
                with open(path, "w", encoding="utf-8") as f:
                    f.write("\n".join(lines))
                built = sh(["cmake", "--build", build, "-j", str(os.cpu_count())])
                if built.returncode != 0:
                    verdict = "not compiled"
                else:
                    tests = sh(["ctest", "--test-dir", build, "-j", str(os.cpu_count()), "--stop-on-failure",
                                "--timeout", "60", "--no-tests=error"] + only)
                    verdict = "killed" if tests.returncode != 0 else "survived"
            finally:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(text)
            m["seconds"] = round(time.time() - start)
        if m["id"] in equivalent and verdict == "survived":
            verdict = "equivalent"
        m["verdict"] = verdict
        results.append(m)
        print(f"{m['id']:3d} {verdict:13s} {m['file']}:{m['line']}: {m['mutated'].strip()}", flush=True)
    sh(["cmake", "--build", build, "-j", str(os.cpu_count())])
    counted = [r for r in results if r["verdict"] in ("killed", "survived")]
    killed = sum(1 for r in counted if r["verdict"] == "killed")
    share = 100.0 * killed / len(counted) if counted else 0.0
    print(f"killed {killed} of {len(counted)} ({share:.1f}%); "
          f"{sum(r['verdict'] == 'not compiled' for r in results)} did not compile, "
          f"{sum(r['verdict'] == 'equivalent' for r in results)} equivalent, "
          f"{sum(r['verdict'] == 'gone' for r in results)} no longer in the sources")
    if out_file:
        with open(out_file, "w") as f:
            json.dump(results, f, indent=1)
    return 0


def main():
    args = sys.argv[1:]
    if not args or args[0] not in ("pick", "run"):
        print(__doc__)
        return 2
    return pick(args[1:]) if args[0] == "pick" else run(args[1:])


if __name__ == "__main__":
    sys.exit(main())
