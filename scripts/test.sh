#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (then a short benchmark pass),
# then runs the tests again under the sanitizers and runs each fuzz target briefly.
# Usage: scripts/test.sh            (from anywhere inside the checkout)
#   TARVEX_QUICK=1 scripts/test.sh  skips the sanitizer and fuzz passes
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh --fuzz

BUILD_DIR=${BUILD_DIR:-build}
JOBS=$(( $(nproc) < 2 ? $(nproc) : 2 ))
started=$SECONDS
phase() { echo "== $1 ($(( SECONDS - started )) s so far)"; }

phase "build and tests"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j"$JOBS"

(cd "$BUILD_DIR" && ctest --output-on-failure -j2 --timeout 600)

# The alert rules' unit tests, the manual page, and the .deb: lintian, then
# install, remove and purge.
phase "package and operator files"
bash scripts/package_check.sh

# The chaos soak's audit on its hand-written event log (the soak itself is a benchmark).
/usr/bin/python3 bench/chaos_audit.py --selftest >/dev/null && echo "chaos audit selftest: ok"

# Benchmarks build with the tests and run briefly here, so that they keep working.
for b in "$BUILD_DIR"/*_bench; do
  [[ -x "$b" ]] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.05
done

if [[ -n "${TARVEX_QUICK:-}" ]]; then exit 0; fi

# Sanitizer passes. Every report, from a test or from a service process a test
# started, goes to a file in SAN_LOG_DIR; any file there fails the run, because not
# every test asserts the exit status of the processes it starts. Reports end the
# process through the sanitizer's own exit code (never abort(), which the service
# would turn into a quiet exit 0).
SAN_LOG_DIR=$(mktemp -d /tmp/tarvex-sanitizer.XXXXXX)
trap 'rm -rf "$SAN_LOG_DIR"' EXIT
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:exitcode=23:detect_leaks=1:log_path=$SAN_LOG_DIR/asan"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=0:exitcode=23:print_stacktrace=1:log_path=$SAN_LOG_DIR/ubsan"
export TSAN_OPTIONS="halt_on_error=1:abort_on_error=0:exitcode=66:second_deadlock_stack=1:log_path=$SAN_LOG_DIR/tsan"

# Tests that run threads, or start the service with its threads.
THREADED_TESTS='^(pending_queue_test|subscriber_test|arbitration_test|entry_test|end_to_end_test|fault_injection_test)$'

# Runs ctest in build dir $1 with the extra arguments, then fails on any report.
sanitized_ctest() {
  local dir=$1; shift
  local rc=0
  (cd "$dir" && ctest --output-on-failure -j2 --timeout 900 "$@") || rc=$?
  if [[ -n "$(ls -A "$SAN_LOG_DIR")" ]]; then
    echo "sanitizer reports in $dir:"
    for f in "$SAN_LOG_DIR"/*; do echo "--- $f"; cat "$f"; done
    rc=1
  fi
  return "$rc"
}

phase "AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVEX_SANITIZE=address,undefined -DTARVEX_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$JOBS"
phase "tests under AddressSanitizer + UndefinedBehaviorSanitizer"
sanitized_ctest build-asan

phase "ThreadSanitizer build"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVEX_SANITIZE=thread -DTARVEX_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$JOBS"
phase "threaded tests under ThreadSanitizer"
sanitized_ctest build-tsan -L "$THREADED_TESTS"

# Each fuzz target runs for a bounded time from its committed seeds (plus what earlier
# runs on this machine found, kept in fuzz/corpus-work/). A finding fails the run and
# leaves the input in fuzz/findings/.
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
phase "fuzz targets build"
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVEX_SANITIZE=address,undefined -DTARVEX_BUILD_TESTS=OFF -DTARVEX_BUILD_BENCH=OFF \
  -DTARVEX_BUILD_FUZZ=ON >/dev/null
cmake --build build-fuzz -j"$JOBS"
mkdir -p fuzz/findings
for src in fuzz/*_fuzz.cpp; do
  name=$(basename "$src" .cpp)
  phase "fuzzing $name for ${FUZZ_SECONDS} s"
  mkdir -p "fuzz/corpus-work/$name"
  dict=()
  [[ -f "fuzz/$name.dict" ]] && dict=("-dict=fuzz/$name.dict")
  log="build-fuzz/$name.log"
  rc=0
  ASAN_OPTIONS=halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build-fuzz/$name" "${dict[@]}" -max_total_time="$FUZZ_SECONDS" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="fuzz/findings/$name-" \
    "fuzz/corpus-work/$name" "fuzz/corpus/$name" >"$log" 2>&1 || rc=$?
  grep -E '^(stat::number_of_executed_units|Done )' "$log" || true
  if ((rc != 0)); then
    tail -n 60 "$log"
    echo "fuzz target $name found a fault (input kept in fuzz/findings/)"
    exit 1
  fi
done

phase "done"
