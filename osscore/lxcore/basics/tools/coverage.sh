#!/usr/bin/env bash
# Prints line and branch coverage per subsystem of src/ after the tests ran in a
# build configured with -DLXB_COVERAGE=ON (./build.sh coverage does both).
#   coverage.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: coverage.sh BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../../../.." && pwd)
src=osscore/lxcore/basics/src
# gcov writes its .gcov files into the working directory: keep them out of the sources.
cd "$build"
# One gcov pass over every counter file; the per-file figures are summed per subsystem.
# --exclude-throw-branches: the C++ runtime's exception edges are not ours.
gcovr --root "$root" --filter "$root/$src/" --exclude-throw-branches --exclude-unreachable-branches \
  --json-summary coverage-summary.json "$build" 2>/dev/null
python3 - "$build/coverage-summary.json" "$src/" <<'PY'
import collections, json, sys
summary, src = json.load(open(sys.argv[1])), sys.argv[2]
sums = collections.defaultdict(lambda: [0, 0, 0, 0])
for f in summary["files"]:
    sub = f["filename"].split(src, 1)[1].split("/", 1)[0]
    figures = (f["line_covered"], f["line_total"], f["branch_covered"], f["branch_total"])
    for group in (sub, "all but os") if sub != "os" else (sub,):
        sums[group] = [a + b for a, b in zip(sums[group], figures)]
print(f"{'subsystem':12s} {'lines':>8s} {'branches':>8s}")
for group in sorted(sums, key=lambda g: (g == "all but os", g)):
    lc, lt, bc, bt = sums[group]
    print(f"{group:12s} {100.0 * lc / max(lt, 1):7.1f}% {100.0 * bc / max(bt, 1):7.1f}%")
PY
