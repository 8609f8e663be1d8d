#!/usr/bin/env bash
# Runs every libFuzzer program of a fuzz build for a while each.
#
#   run.sh BUILD_DIR SECONDS
#
# Each program fuzz_<name> in BUILD_DIR/fuzz runs for SECONDS seconds on a scratch
# copy of its committed seed corpus (corpus/<name>/ beside this script; none is
# fine), so the committed corpus never changes. A crash, leak, timeout or
# sanitizer report fails the run; the reproducer and the log are kept in
# BUILD_DIR/fuzz-artifacts/<name>/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [SECONDS]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=${2:-30}
bin_dir=$build/fuzz

shopt -s nullglob
programs=("$bin_dir"/fuzz_*)
if [ ${#programs[@]} -eq 0 ]; then
  echo "run.sh: no fuzz programs in $bin_dir" >&2
  exit 1
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for program in "${programs[@]}"; do
  [ -x "$program" ] && [ -f "$program" ] || continue
  name=$(basename "$program")
  name=${name#fuzz_}
  work=$(mktemp -d)
  artifacts=$build/fuzz-artifacts/$name
  rm -rf "$artifacts"
  mkdir -p "$artifacts"
  if [ -d "$here/corpus/$name" ]; then
    cp -R "$here/corpus/$name/." "$work/"
  fi
  echo "== fuzz_$name: $seconds s"
  if "$program" -max_total_time="$seconds" -max_len=8192 -timeout=20 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$work" >"$artifacts/log.txt" 2>&1; then
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$artifacts/log.txt" || true
  else
    echo "fuzz_$name FAILED; log and reproducer in $artifacts" >&2
    tail -n 40 "$artifacts/log.txt" >&2
    failed+=("$name")
  fi
  rm -rf "$work"
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz targets failed: ${failed[*]}" >&2
  exit 1
fi
echo "all fuzz targets ran clean"
