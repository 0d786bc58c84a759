#!/usr/bin/env bash
# Installs what is missing, builds, and starts the service in the foreground with
# the installation root given by ZQROOT (default: ./examples).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
export ZQROOT=${ZQROOT:-$PWD/examples}
exec build/tarvex -self
