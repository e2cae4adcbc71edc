#!/usr/bin/env bash
# Installs what is missing, builds the workbench and runs every test.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
#   scripts/test.sh --tsan       ThreadSanitizer build in build-tsan/: the link, bench and end-to-end suites
#   scripts/test.sh --fuzz [SECONDS]  the libFuzzer targets, SECONDS each (default 30), in build-fuzz/
#   scripts/test.sh --campaign N      N seeds of the fault campaign on the normal build
# The normal pass runs 2000 seeds of the campaign after the suite, the
# sanitizer pass 300.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = "--fuzz" ]; then
  exec "$(pwd)/scripts/fuzz.sh" "${2:-30}"
fi

"$(pwd)/scripts/install-deps.sh"

# Line tables only (-g1): enough for every backtrace and sanitizer report,
# and a fifth less compile time than full debug information.
campaign_seeds=2000
campaign_watchdog=60
build=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  options=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g1" -DQUILLMARK_SANITIZE=ON -DQUILLMARK_BENCH=OFF)
  campaign_seeds=300
  campaign_watchdog=120
fi

if [ "${1:-}" = "--tsan" ]; then
  build=build-tsan
  options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" -DQUILLMARK_TSAN=ON
           -DQUILLMARK_BENCH=OFF)
fi

# Each build compiles a folder's sources a batch at a time (a unity build):
# they share the Qt, GoogleTest and bench headers, which otherwise take half
# of every file's compile. The normal build: 168 s instead of 370 s on two
# cores. QUILLMARK_UNITY=OFF builds file by file.
options+=("-DCMAKE_UNITY_BUILD=${QUILLMARK_UNITY:-ON}")

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -G Ninja "${options[@]}"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

# Seeded runs of every operation against a misbehaving simulated box; a
# failing seed is printed with the command that replays it.
# A run spends much of its time handing virtual time from thread to thread,
# which leaves a core idle at each handover: four runs a core keep the cores
# busy (300 seeds: 27 s on 2 jobs, 13 s on 8).
campaign() {
  local t=$SECONDS
  "$build/tests/campaign/fault_campaign" --seeds "$1" --jobs "$((4 * jobs))" --watchdog "$campaign_watchdog"
  echo "== fault campaign of $1 seeds: $((SECONDS - t)) s"
}
if [ "${1:-}" = "--campaign" ]; then
  cmake --build "$build" -j "$jobs" --target fault_campaign
  campaign "${2:-2000}"
  exit 0
fi
if [ "${1:-}" = "--tsan" ]; then
  # The threads meet in the link, the bench and the end-to-end runs.
  suites=(test_link test_simbox test_e2e)
  cmake --build "$build" -j "$jobs" --target "${suites[@]}"
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(pwd)/scripts/tsan.supp"
  for s in "${suites[@]}"; do
    echo "== $s under ThreadSanitizer"
    "$build/tests/$s" --gtest_brief=1
  done
  exit 0
fi
cmake --build "$build" -j "$jobs"

# The results store's tests run against a throwaway PostgreSQL server, stopped
# and removed at the end; a test that stops its server makes one of its own
# with the same script.
pgdir=$(mktemp -d /tmp/quillmark-pg.XXXXXX)
chmod 755 "$pgdir"
pgport=$((50000 + RANDOM % 10000))
trap 'bash scripts/pg-throwaway.sh stop "$pgdir/data" >/dev/null 2>&1 || true; rm -rf "$pgdir"' EXIT
bash scripts/pg-throwaway.sh start "$pgdir/data" "$pgport"
export QUILLMARK_TEST_PG_URL="postgresql://postgres@127.0.0.1:$pgport/postgres"
export QUILLMARK_TEST_PG_CTL="$(pwd)/scripts/pg-throwaway.sh"

# Box timelines run in virtual time: every test, the full accuracy runs and
# long captures included, runs in every pass, in parallel, whatever the load.
ctest --test-dir "$build" --output-on-failure -j "$jobs"
campaign "$campaign_seeds"
if [ "${1:-}" != "--sanitize" ]; then
  # The Debian package: built, unpacked and validated.
  bash scripts/package-check.sh "$build"
fi
