#!/usr/bin/env bash
# Builds the basics library and runs one of its jobs.
#
#   ./build.sh quickstart   build, then run examples/quickstart
#   ./build.sh test         build, then run every test (ctest)
#   ./build.sh bench [--check|--smoke]  build the benchmarks, print their ratios to the peers
#                           and the targets (--check: exit 1 when one is missed;
#                           --smoke: run each once, briefly, only to check results)
#   ./build.sh fuzz [SECS]  build the libFuzzer targets with clang, run each SECS (30) seconds
#   ./build.sh coverage     build with coverage, run the tests, print coverage per subsystem
#   ./build.sh package      build the Debian packages lxbasics and lxbasics-dev (in build/package)
#   ./build.sh abi [--update]  compare the built library with the recorded ABI and
#                           symbols file (--update: rewrite them from the library)
#
# Missing Debian packages are installed with apt-get first. BUILD_DIR (default
# build/<job>) and JOBS (default: number of cores) may be set in the environment.
set -euo pipefail
cd "$(dirname "$0")"
job=${1:-test}
jobs=${JOBS:-$(nproc)}

need=(build-essential cmake pkg-config libsqlite3-dev libgtest-dev libgmock-dev libcpp-httplib-dev)
# What the tests run beside the build: an HTTP client, a browser and promtool (perf serve).
case "$job" in test | coverage) need+=(curl chromium prometheus) ;; esac
case "$job" in
  bench) need+=(libbenchmark-dev zlib1g-dev libboost-dev libisal-dev libdeflate-dev liblz4-dev python3) ;;
  fuzz) need+=(clang libclang-rt-dev) ;;
  coverage) need+=(gcovr) ;;
  package | abi) need+=(dpkg-dev file help2man abigail-tools) ;;
esac
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

configure() {  # configure <dir> [cmake args...]
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

case "$job" in
  quickstart)
    dir=${BUILD_DIR:-build/main}
    configure "$dir" -DLXB_BUILD_TESTS=OFF
    "$dir/examples/quickstart/quickstart"
    ;;
  test)
    dir=${BUILD_DIR:-build/test}
    configure "$dir" -DLXB_BUILD_TESTS=ON ${LXB_CMAKE_ARGS:-}
    ctest --test-dir "$dir" -j "$jobs" --output-on-failure --no-tests=error
    ;;
  bench)
    dir=${BUILD_DIR:-build/bench}
    configure "$dir" -DCMAKE_BUILD_TYPE=Release -DLXB_BUILD_TESTS=OFF -DLXB_BUILD_BENCH=ON
    python3 osscore/lxcore/basics/bench/ratios.py "$dir/osscore/lxcore/basics/bench" "${@:2}"
    ;;
  fuzz)
    dir=${BUILD_DIR:-build/fuzz}
    CC=clang CXX=clang++ configure "$dir" -DLXB_BUILD_TESTS=OFF -DLXB_BUILD_FUZZ=ON
    osscore/lxcore/basics/tests/fuzz/run.sh "$dir" "${2:-30}"
    ;;
  coverage)
    dir=${BUILD_DIR:-build/coverage}
    # Unoptimised and instrumented, a fuzz replay runs tens of times slower: a
    # fifth of the generated inputs keeps it within the tests' time limit.
    configure "$dir" -DCMAKE_BUILD_TYPE=Debug -DLXB_COVERAGE=ON -DLXB_FUZZ_REPLAY_COUNT=4000
    find "$dir" -name '*.gcda' -delete  # counters of an earlier run would add up with this one's
    status=0
    ctest --test-dir "$dir" -j "$jobs" --output-on-failure || status=$?
    osscore/lxcore/basics/tools/coverage.sh "$dir"
    exit "$status"
    ;;
  package|abi)
    # The packages install below /usr, with the library in the multiarch directory;
    # the build keeps its debugging information for the ABI check (the packages
    # are stripped).
    dir=${BUILD_DIR:-build/package}
    configure "$dir" -DLXB_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr -DLXB_MAN_PAGE=REQUIRED
    if [ "$job" = package ]; then
      (cd "$dir" && cpack -G DEB >/dev/null)
      ls "$dir"/*.deb
    else
      osscore/lxcore/basics/tools/abi.sh "$([ "${2:-}" = --update ] && echo update || echo check)" \
        "$dir/lib/lx95Cbs71.so"
    fi
    ;;
  *)
    echo "usage: $0 quickstart|test|bench|fuzz [SECS]|coverage|package|abi [--update]" >&2
    exit 2
    ;;
esac
