#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/, and runs each for a bounded time
# from its seed corpus. Called as scripts/test.sh --fuzz [SECONDS] (default 30
# seconds per target). New inputs the fuzzers find go to build-fuzz/corpus/,
# never into the source tree; a crash leaves its input in build-fuzz/artifacts/
# and fails the run. Once the fault is mended, copy that input into
# tests/fuzz/corpus/<target>/ so that every later run replays it. The targets
# run side by side, one per core.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
case "$seconds" in
  ''|*[!0-9]*) echo "fuzz: SECONDS must be a whole number, not '$seconds'" >&2; exit 2 ;;
esac

"$(pwd)/scripts/install-deps.sh"

build=build-fuzz
cmake -S tests/fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# One target for its time; its log and its verdict go to files, since the
# targets run side by side, one per core.
fuzz_one() {
  local exe=$1 name=${1##*/fuzz_}
  local seeds=tests/fuzz/corpus/$name work=$build/corpus/$name artifacts=$build/artifacts/$name
  mkdir -p "$work" "$artifacts" "$seeds"
  # -timeout: one input taking more than 10 s is a hang; -rss_limit_mb: an
  # input that makes the target take 2 GB is a fault too.
  if "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$artifacts/" "$work" "$seeds" 2>"$build/$name.log"; then
    echo ok >"$build/$name.verdict"
  else
    echo failed >"$build/$name.verdict"
  fi
}

cores=$(nproc 2>/dev/null || echo 2)
targets=("$build"/fuzz_*)
for ((i = 0; i < ${#targets[@]}; i += cores)); do
  for exe in "${targets[@]:i:cores}"; do
    echo "== fuzz ${exe##*/fuzz_}: ${seconds}s"
    fuzz_one "$exe" &
  done
  wait
done

failed=()
for exe in "${targets[@]}"; do
  name=${exe##*/fuzz_}
  if [ "$(cat "$build/$name.verdict" 2>/dev/null)" != ok ]; then
    failed+=("$name")
    tail -n 40 "$build/$name.log" >&2
    echo "fuzz $name FAILED; the input is in $build/artifacts/$name/" >&2
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$build/$name.log" | sed "s/^/   $name /"
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: failures in ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: every target ran clean"
