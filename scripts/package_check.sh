#!/usr/bin/env bash
# The package and the operator's files, as CI checks them:
#   - the alert rules pass their promtool unit tests;
#   - the manual page renders without a warning (groff -ww, man --warnings);
#   - the .deb builds (Release, Debian's hardening flags) and lintian finds no error;
#   - dpkg installs it (without systemd running), removes it (configuration and user
#     kept) and purges it, after which nothing of it is left.
# Needs root for dpkg. A tarvex package already installed on this machine is purged
# first: run this on a build or CI machine only.
# Usage: scripts/package_check.sh      (BUILD_DIR: the package build, build-pkg)
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build-pkg}
JOBS=$(( $(nproc) < 2 ? $(nproc) : 2 ))
ROOT=/var/lib/tarvex
fail() { echo "package check: $*" >&2; exit 1; }

echo "-- alert rules"
(cd examples/monitoring && promtool test rules tarvex-alerts.test.yml)

echo "-- manual page"
warnings=$(groff -man -ww -z packaging/tarvex.8 2>&1)
[[ -z "$warnings" ]] || fail "groff warns about packaging/tarvex.8: $warnings"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l packaging/tarvex.8 2>&1 >/dev/null)
[[ -z "$warnings" ]] || fail "man warns about packaging/tarvex.8: $warnings"

echo "-- build the .deb"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DTARVEX_BUILD_TESTS=OFF \
  -DTARVEX_BUILD_BENCH=OFF -DTARVEX_BUILD_TOOLS=OFF \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$BUILD_DIR" -j"$JOBS" >/dev/null
rm -f "$BUILD_DIR"/tarvex_*.deb
(cd "$BUILD_DIR" && cpack -G DEB >/dev/null)
deb=$(ls "$BUILD_DIR"/tarvex_*.deb)
echo "built $deb"

echo "-- lintian"
# Warnings accepted (README, "The package"): maintainer-script-calls-systemctl (the
# scripts call it only where systemd runs) and national-encoding (the example
# logsynset.ini is GBK, as the service reads it).
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian found errors in $deb"

echo "-- install, remove, purge"
if dpkg-query -W -f='${Status}' tarvex 2>/dev/null | grep -q 'installed'; then
  echo "purging the tarvex package installed before"
  dpkg --purge tarvex >/dev/null
fi
files=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' | grep -v '/$')
dpkg -i "$deb" >/dev/null
/usr/bin/tarvex --version | grep -qx "tarvex $(dpkg-deb -f "$deb" Version)" || fail "tarvex --version"
getent passwd tarvex >/dev/null || fail "no user tarvex after install"
[[ "$(stat -c '%U:%G %a' "$ROOT/cfg")" == "tarvex:tarvex 750" ]] || fail "$ROOT/cfg ownership"
[[ "$(stat -c '%U:%G %a' "$ROOT/cfg/tarvex.ini")" == "root:tarvex 640" ]] || fail "tarvex.ini mode"
man -w tarvex >/dev/null 2>&1 || [[ -f /usr/share/man/man8/tarvex.8.gz ]] || fail "no man page"
for f in $files; do [[ -e "$f" ]] || fail "$f missing after install"; done

dpkg -r tarvex >/dev/null
for f in $files; do [[ ! -e "$f" ]] || fail "$f left after remove"; done
[[ -f "$ROOT/cfg/rdsset.ini" ]] || fail "remove took the configuration"
getent passwd tarvex >/dev/null || fail "remove took the user"

dpkg --purge tarvex >/dev/null
[[ ! -e "$ROOT" ]] || fail "$ROOT left after purge"
! getent passwd tarvex >/dev/null || fail "user tarvex left after purge"
! getent group tarvex >/dev/null || fail "group tarvex left after purge"
! ls /var/lib/dpkg/info/tarvex.* >/dev/null 2>&1 || fail "dpkg still lists tarvex files"
! dpkg-query -W tarvex >/dev/null 2>&1 || fail "dpkg still knows tarvex"
echo "package check: ok"
