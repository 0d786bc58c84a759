#!/usr/bin/env bash
# End-to-end benchmark: a private redis-server, the service, and bench/e2e_driver
# (publisher and receiver in one process) on loopback. Prints
#   (a) the drain rate with the run log off, publishing faster than the service drains,
#   (b) the highest paced publish rate delivered with zero loss,
#   (c) p50/p99 latency from publish to the receiver at 2,000 messages/s,
#   (d) the service's peak RSS and its CPU seconds per 100,000 records;
# then restarts the service with the run log on and measures (a) and its CPU again,
# then with keep-alive (cfg/tarvex.ini: KeepAlive=1) measures (a) again, and last
# with durable delivery on (Durable=1, run log off) measures (a), (c) and (d). Before
# any of it, (r): a bare hiredis subscriber that only counts, fed flat out, gives the
# limit the drain rate is set against. Then (h): the peak RSS after one 16 MB text,
# in-memory and durable. Every figure comes from the same run.
# Every process shares this machine's cores: the figures are for the whole pipeline
# on it, not for the service alone. Takes about three and a half minutes (--quick:
# about one and a half).
#
# Usage: bench/e2e_bench.sh [--quick]      (BUILD_DIR=build by default)
#   BASELINE_BIN=<another tarvex binary> bench/e2e_bench.sh
#       also runs the first pass with that binary, in the same run, for a before and
#       after comparison.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
DRIVER_ARGS=()
if [[ "${1:-}" == "--quick" ]]; then DRIVER_ARGS+=(--quick); fi

cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j2 --target tarvex e2e_driver >/dev/null

source scripts/procs.sh
ROOT=$(mktemp -d "${TMPDIR:-/tmp}/tarvex-bench.XXXXXX")
REDIS_PID="" TARVEX_PID=""
cleanup() {
  stop_tarvex "$TARVEX_PID"
  stop_pid "$REDIS_PID"
  rm -rf "$ROOT"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

require_instance_lock_free e2e_bench

mkdir -p "$ROOT/cfg" "$ROOT/log" "$ROOT/redis"
REDIS_PORT=$(free_port)
# No output-buffer limit for subscribers: while the publisher floods, the backlog may
# sit in Redis for a moment, and a disconnect would measure the reconnect pause.
redis-server --port "$REDIS_PORT" --bind 127.0.0.1 --save '' --appendonly no \
  --client-output-buffer-limit "pubsub 0 0 0" --dir "$ROOT/redis" \
  --logfile "$ROOT/redis/redis.log" &
REDIS_PID=$!
wait_for 50 bash -c "[[ \$(redis-cli -p $REDIS_PORT ping 2>/dev/null) == PONG ]]" ||
  { echo "e2e_bench: redis-server did not start" >&2; exit 1; }

RECEIVER_PORT=$(free_port)
cat >"$ROOT/cfg/rdsset.ini" <<EOF
[ConnectionMode]
Mode=1
[ConnectionMaster]
MasterNum=1
MasterIp0=127.0.0.1
MasterPort0=$REDIS_PORT
EOF
# logsynset.ini with the run-log switch $1.
write_sync() {
  cat >"$ROOT/cfg/logsynset.ini" <<EOF
[tovraurl]
url=http://127.0.0.1:$RECEIVER_PORT/api/operationLog
[synLogFlag]
Flag=$1
[appSysId]
appsysidnum=1
appsysid0=3
appsysiddesc0=Power supply
[stationInfo]
stationnum=1
stationcode0=ST07
stationlindid0=L2
stationlinddesc0=Line 2
stationid0=S07
stationdesc0=Station Seven
EOF
}

subscribed() { [[ "$(redis-cli -p "$REDIS_PORT" pubsub numsub almTopic | sed -n 2p)" == 1 ]]; }

# Starts the service with the run-log switch $1 and the setting $2 (none: no
# tarvex.ini; durable: Durable=1; keepalive: KeepAlive=1), and runs the driver with
# the rest. Each pass starts on an empty Redis.
run_pass() {
  local flag=$1 setting=$2; shift 2
  write_sync "$flag"
  case $setting in
    none) rm -f "$ROOT/cfg/tarvex.ini" ;;
    durable) printf '[Durable]\nDurable=1\n' >"$ROOT/cfg/tarvex.ini" ;;
    keepalive) printf '[Http]\nKeepAlive=1\n' >"$ROOT/cfg/tarvex.ini" ;;
  esac
  rm -rf "$ROOT/log"; mkdir -p "$ROOT/log"
  redis-cli -p "$REDIS_PORT" flushall >/dev/null
  ZQROOT=$ROOT "${TARVEX_BIN:-$BUILD_DIR/tarvex}" -self >"$ROOT/tarvex.out" 2>&1 &
  TARVEX_PID=$!
  wait_for 100 subscribed || { echo "e2e_bench: tarvex did not subscribe" >&2; cat "$ROOT/tarvex.out" >&2; exit 1; }
  echo "e2e_bench: $(nproc) cores shared by redis-server, tarvex (pid $TARVEX_PID) and the driver;" \
    "run log $([[ $flag == 1 ]] && echo on || echo off);" \
    "$([[ $setting == durable ]] && echo "durable delivery" || echo "in-memory queue");" \
    "$([[ $setting == keepalive ]] && echo "keep-alive" || echo "a connection per post");" \
    "one record per message; load $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "== pass: run log $flag, setting $setting${TARVEX_BIN:+, binary $TARVEX_BIN}" >>"$ROOT/driver.out"
  "$BUILD_DIR/e2e_driver" --redis-port "$REDIS_PORT" --receiver-port "$RECEIVER_PORT" \
    --service-pid "$TARVEX_PID" "$@" | tee -a "$ROOT/driver.out"
  stop_tarvex "$TARVEX_PID"
  TARVEX_PID=""
}

echo "e2e_bench: the limit first, with no service subscribed; load $(cut -d' ' -f1-3 /proc/loadavg)"
"$BUILD_DIR/e2e_driver" --redis-port "$REDIS_PORT" --raw-limit "${DRIVER_ARGS[@]}" |
  tee -a "$ROOT/driver.out"
if [[ -n "${BASELINE_BIN:-}" ]]; then TARVEX_BIN=$BASELINE_BIN run_pass 0 none "${DRIVER_ARGS[@]}"; fi
run_pass 0 none "${DRIVER_ARGS[@]}"
run_pass 1 none --drain-only "${DRIVER_ARGS[@]}"
run_pass 0 keepalive --drain-only "${DRIVER_ARGS[@]}"
run_pass 0 durable --skip-paced "${DRIVER_ARGS[@]}"
# Peak RSS after one 16 MB text of eight million numbers and the word Control (no
# record to convert), then one ordinary record, which ends the wait once its document
# is in the run log (no receiver listens: the post fails, which is enough here).
HUGE="$ROOT/huge.json"
python3 -c 'import sys; sys.stdout.write("[" + "0," * 8000000 + "\"Control\"]")' >"$HUGE"
huge_pass() {
  local setting=$1
  write_sync 1
  case $setting in
    none) rm -f "$ROOT/cfg/tarvex.ini" ;;
    durable) printf '[Durable]\nDurable=1\n' >"$ROOT/cfg/tarvex.ini" ;;
  esac
  rm -rf "$ROOT/log"; mkdir -p "$ROOT/log"
  redis-cli -p "$REDIS_PORT" flushall >/dev/null
  ZQROOT=$ROOT "$BUILD_DIR/tarvex" -self >"$ROOT/tarvex.out" 2>&1 &
  TARVEX_PID=$!
  wait_for 100 subscribed || { echo "e2e_bench: tarvex did not subscribe" >&2; exit 1; }
  redis-cli -p "$REDIS_PORT" -x publish almTopic <"$HUGE" >/dev/null
  redis-cli -p "$REDIS_PORT" publish almTopic '[{"classname":"Control","occurtime":"1709629622","occurms":"1","devicekey":"AFTER.HUGE","appsysid":"3","chardesc":"x","userattr[0]":"a","userattr[1]":"b","groupname":"ST07"}]' >/dev/null
  wait_for 300 grep -qa AFTER.HUGE "$ROOT/log/tarvex.log" ||
    { echo "e2e_bench: the record after the 16 MB text did not come" >&2; exit 1; }
  echo "(h) PEAK RSS AFTER A 16 MB TEXT, $setting: $(awk '/^VmHWM/ {print $2, $3}' /proc/$TARVEX_PID/status)" |
    tee -a "$ROOT/driver.out"
  stop_tarvex "$TARVEX_PID"
  TARVEX_PID=""
}
huge_pass none
huge_pass durable

echo "e2e_bench: same run; the limit; in-memory queue with the run log off, on, and"\
  "keep-alive; durable delivery:"
grep -E "^== pass|^\(r\) RAW|^\(a\) (DRAIN RATE|SERVICE CPU)|^\((c|d|h)\) " "$ROOT/driver.out"
raw=$(sed -n 's/^(r) RAW LIMIT: \([0-9]*\).*/\1/p' "$ROOT/driver.out")
drain=$(sed -n '/^== pass: run log 0, setting none$/,/^== pass/s/^(a) DRAIN RATE: \([0-9]*\).*/\1/p' \
  "$ROOT/driver.out" | head -1)
if [[ -n $raw && -n $drain && $raw -gt 0 ]]; then
  echo "e2e_bench: drain with the run log off is $(awk -v d="$drain" -v r="$raw" \
    'BEGIN { printf "%.3f", d / r }') of the bare subscriber"
fi
