#!/usr/bin/env bash
# Prints line and branch coverage per subsystem of src/ after the tests ran in a
# build configured with -DLXB_COVERAGE=ON (./build.sh coverage does both).
#   coverage.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: coverage.sh BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../../../.." && pwd)
# gcov writes its .gcov files into the working directory: keep them out of the sources.
cd "$build"
src=osscore/lxcore/basics/src
printf '%-12s %8s %8s\n' subsystem lines branches
for dir in "$root/$src"/*/; do
  sub=$(basename "$dir")
  # --exclude-throw-branches: the C++ runtime's exception edges are not ours.
  json=$(gcovr --root "$root" --filter "$root/$src/$sub/" --exclude-throw-branches --exclude-unreachable-branches \
    --json-summary - "$build" 2>/dev/null)
  python3 - "$sub" "$json" <<'PY'
import json, sys
sub, data = sys.argv[1], json.loads(sys.argv[2])
print(f"{sub:12s} {data['line_percent']:7.1f}% {data['branch_percent']:7.1f}%")
PY
done
json=$(gcovr --root "$root" --filter "$root/$src/" --exclude "$root/$src/os/" --exclude-throw-branches \
  --exclude-unreachable-branches --json-summary - "$build" 2>/dev/null)
python3 - "$json" <<'PY'
import json, sys
data = json.loads(sys.argv[1])
print(f"{'all but os':12s} {data['line_percent']:7.1f}% {data['branch_percent']:7.1f}%")
PY
