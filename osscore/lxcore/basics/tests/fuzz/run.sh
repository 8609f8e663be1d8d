#!/usr/bin/env bash
# Runs each libFuzzer program fuzz_<name> of a fuzz build SECONDS (30) on a copy of
# corpus/<name>/; a crash, leak, timeout or sanitizer report fails, leaving reproducer
# and log in BUILD_DIR/fuzz-artifacts/<name>/.   run.sh BUILD_DIR [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: $0 BUILD_DIR [SECONDS]}" && pwd)
shopt -s nullglob
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=() ran=0
for program in "$build"/fuzz/fuzz_*; do
  [ -x "$program" ] && [ -f "$program" ] || continue
  name=${program##*/fuzz_} work=$(mktemp -d) ran=$((ran + 1))
  artifacts=$build/fuzz-artifacts/$name
  rm -rf "$artifacts" && mkdir -p "$artifacts"
  [ -d "$here/corpus/$name" ] && cp -R "$here/corpus/$name/." "$work/"
  echo "== fuzz_$name: ${2:-30} s"
  if "$program" -max_total_time="${2:-30}" -max_len=8192 -timeout=20 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$work" >"$artifacts/log.txt" 2>&1; then
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$artifacts/log.txt" || true
  else
    echo "fuzz_$name FAILED; log and reproducer in $artifacts" >&2
    tail -n 40 "$artifacts/log.txt" >&2
    failed+=("$name")
  fi
  rm -rf "$work"
done
[ "$ran" -gt 0 ] || { echo "run.sh: no fuzz programs in $build/fuzz" >&2; exit 1; }
[ ${#failed[@]} -eq 0 ] || { echo "fuzz targets failed: ${failed[*]}" >&2; exit 1; }
echo "all fuzz targets ran clean"
