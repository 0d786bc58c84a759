#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need and is not there yet.
# Idempotent: when every package is present it only runs dpkg-query and exits.
set -euo pipefail

PACKAGES=(
  g++ cmake make pkg-config
  libhiredis-dev libjsoncpp-dev libcurl4-openssl-dev
  googletest libgtest-dev libbenchmark-dev
  redis-server redis-sentinel redis-tools
  util-linux
  nftables iproute2
  python3-matplotlib
  libssl-dev openssl
  libmicrohttpd-dev libsystemd-dev
  dpkg-dev lintian groff man-db prometheus
)
# Extra packages for the sanitizer and fuzzing builds; asked for with --fuzz.
FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)

want=("${PACKAGES[@]}")
if [[ "${1:-}" == "--fuzz" ]]; then want+=("${FUZZ_PACKAGES[@]}"); fi

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
# The packaged redis-server starts a system instance on 6379; the tests start their
# own servers on free ports and never need it.
