#!/usr/bin/env python3
"""Prints the weight of the tests against the code they test.

Test lines: non-blank lines of every file under osscore/lxcore/basics/tests
(C++, CMake, scripts and data files of expected values), except the fuzz
corpora (inputs, not code) and messages/data/catalog.tsv (a copy of the
message catalog that the catalog test compares against).
Code lines: non-blank lines of the C++ files (.cpp, .h, .c) under src, include,
tools and bench of the library, and under examples/ at the top.

usage: test_ratio.py [--quiet]   (prints one line with --quiet)
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
LIB = os.path.dirname(HERE)
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(LIB)))
CPP = (".cpp", ".h", ".c")


def nonblank(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return sum(1 for line in f if line.strip())


def files(top):
    for d, _, names in os.walk(top):
        for n in names:
            yield os.path.join(d, n)


def test_lines():
    total = 0
    tests = os.path.join(LIB, "tests")
    for path in files(tests):
        rel = os.path.relpath(path, tests)
        if rel.startswith(os.path.join("fuzz", "corpus") + os.sep):
            continue
        if rel == os.path.join("messages", "data", "catalog.tsv"):
            continue
        total += nonblank(path)
    return total


def code_lines():
    tops = [os.path.join(LIB, d) for d in ("src", "include", "tools", "bench")]
    tops.append(os.path.join(ROOT, "examples"))
    return sum(nonblank(p) for top in tops for p in files(top) if p.endswith(CPP))


def main():
    t, c = test_lines(), code_lines()
    ratio = t / c if c else 0.0
    if "--quiet" in sys.argv:
        print(f"{ratio:.2f}")
    else:
        print(f"test lines {t}, code lines {c}, ratio {ratio:.2f} (target at most 0.35)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
