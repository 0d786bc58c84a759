#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (then a short benchmark pass).
# Usage: scripts/test.sh            (from anywhere inside the checkout)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"

(cd "$BUILD_DIR" && ctest --output-on-failure -j2 --timeout 600)

# Benchmarks build with the tests and run briefly here, so that they keep working.
for b in "$BUILD_DIR"/*_bench; do
  [[ -x "$b" ]] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.05
done
