#!/usr/bin/env bash
# End-to-end benchmark: a private redis-server, the service, and bench/e2e_driver
# (publisher and receiver in one process) on loopback. Prints
#   (a) the drain rate with the run log off, publishing faster than the service drains,
#   (b) the highest paced publish rate delivered with zero loss,
#   (c) p50/p99 latency from publish to the receiver at 2,000 messages/s,
#   (d) the service's peak RSS and its CPU seconds per 100,000 records;
# and for (a) and (c) the CPU seconds of the service and of redis-server spent in the
# phase (also per 100,000 records) and the documents the receiver got in it. It then
# restarts the service with the run log on and measures (a) and its CPU again, then
# with keep-alive (cfg/tarvex.ini: KeepAlive=1) measures (a) again, and with durable
# delivery on (Durable=1, run log off) measures (a), (c) and (d). Then (t): three
# durable copies capturing at once, an owner and two standbys, each under its own
# host name with its own instance lock (its own UTS and mount namespace; needs root),
# measure (c) with the CPU of Redis and of every copy. Before any of it, (r): a bare
# hiredis subscriber that only counts, fed flat out, gives the limit the drain rate is
# set against. Then (h): the peak RSS after one 16 MB text, in-memory and durable.
# Last, (s): durable against in-memory, side by side (bench/e2e_report.py). Every
# figure comes from the same run.
# Every process shares this machine's cores: the figures are for the whole pipeline
# on it, not for the service alone. Takes about four minutes (--quick: about one and a half).
#
# Usage: bench/e2e_bench.sh [--quick] [--plot]      (BUILD_DIR=build by default)
#   --plot  also runs (p), a sweep of paced rates with each mode, and draws latency
#           and CPU per record against the publish rate into
#           bench/results/e2e-latency.png (figures in bench/results/e2e-figures.txt);
#           about a minute and a half more.
#   BASELINE_BIN=<another tarvex binary> bench/e2e_bench.sh
#       also runs the first pass with that binary, in the same run, for a before and
#       after comparison.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
DRIVER_ARGS=()
PLOT=0
for arg in "$@"; do
  case $arg in
    --quick) DRIVER_ARGS+=(--quick) ;;
    --plot) PLOT=1 ;;
    *) echo "usage: bench/e2e_bench.sh [--quick] [--plot]" >&2; exit 2 ;;
  esac
done
# The publish rates of the sweep (--plot), messages per second.
SWEEP_RATES=500,1000,2000,4000,8000,16000,32000
# Host names of the three-copy pass; the first is started first and owns the work.
COPY_HOSTS=(bench-copy1 bench-copy2 bench-copy3)
# matplotlib comes with the distribution's python3.
PY=python3
if [[ -x /usr/bin/python3 ]]; then PY=/usr/bin/python3; fi

cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j2 --target tarvex e2e_driver >/dev/null

source scripts/procs.sh
ROOT=$(mktemp -d "${TMPDIR:-/tmp}/tarvex-bench.XXXXXX")
FIGURES=$ROOT/figures.txt
REDIS_PID="" TARVEX_PID=""
COPY_PIDS=()
cleanup() {
  local pid
  for pid in "${COPY_PIDS[@]}"; do stop_tarvex "$pid"; done
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

# True once $1 (default 1) clients are subscribed to almTopic.
subscribed() { [[ "$(redis-cli -p "$REDIS_PORT" pubsub numsub almTopic | sed -n 2p)" == "${1:-1}" ]]; }

# Writes cfg/tarvex.ini for the setting $1 (none: no tarvex.ini; durable: Durable=1;
# keepalive: KeepAlive=1).
write_setting() {
  case $1 in
    none) rm -f "$ROOT/cfg/tarvex.ini" ;;
    durable) printf '[Durable]\nDurable=1\n' >"$ROOT/cfg/tarvex.ini" ;;
    keepalive) printf '[Http]\nKeepAlive=1\n' >"$ROOT/cfg/tarvex.ini" ;;
  esac
}

# Runs the driver with the pass's label $1 and the rest of the arguments, against
# the service pid $TARVEX_PID, adding its output to driver.out.
run_driver() {
  local label=$1; shift
  "$BUILD_DIR/e2e_driver" --redis-port "$REDIS_PORT" --receiver-port "$RECEIVER_PORT" \
    --service-pid "$TARVEX_PID" --redis-pid "$REDIS_PID" --figures "$FIGURES" \
    --label "$label" "$@" | tee -a "$ROOT/driver.out"
}

# Starts the service with the run-log switch $2 and the setting $3 (see
# write_setting), and runs the driver with the rest, its figures labelled $1. Each
# pass starts on an empty Redis.
run_pass() {
  local label=$1 flag=$2 setting=$3; shift 3
  write_sync "$flag"
  write_setting "$setting"
  rm -rf "$ROOT/log"; mkdir -p "$ROOT/log"
  redis-cli -p "$REDIS_PORT" flushall >/dev/null
  ZQROOT=$ROOT "${TARVEX_BIN:-$BUILD_DIR/tarvex}" -self >"$ROOT/tarvex.out" 2>&1 &
  TARVEX_PID=$!
  wait_for 100 subscribed || { echo "e2e_bench: tarvex did not subscribe" >&2; cat "$ROOT/tarvex.out" >&2; exit 1; }
  echo "e2e_bench: $(nproc) cores shared by redis-server (pid $REDIS_PID), tarvex (pid $TARVEX_PID) and the driver;" \
    "run log $([[ $flag == 1 ]] && echo on || echo off);" \
    "$([[ $setting == durable ]] && echo "durable delivery" || echo "in-memory queue");" \
    "$([[ $setting == keepalive ]] && echo "keep-alive" || echo "a connection per post");" \
    "one record per message; load $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "== pass: run log $flag, setting $setting${TARVEX_BIN:+, binary $TARVEX_BIN}" >>"$ROOT/driver.out"
  run_driver "$label" "$@"
  stop_tarvex "$TARVEX_PID"
  TARVEX_PID=""
}

# Starts copy $1 (1-3) of the three-copy pass as host ${COPY_HOSTS[$1-1]}: its own
# UTS namespace (host name) and mount namespace with a private tmpfs on /run/lock
# (instance lock), its own installation root.
start_copy() {
  local n=$1 dir=$ROOT/copy$1
  rm -rf "$dir"; mkdir -p "$dir/log"; cp -r "$ROOT/cfg" "$dir/"
  # shellcheck disable=SC2016  # $0 and $@ are the inner shell's
  ZQROOT=$dir unshare -u -m --propagation private sh -c \
    'mount -t tmpfs -o mode=1777 tmpfs /run/lock && hostname "$0" && exec "$@"' \
    "${COPY_HOSTS[$n-1]}" "$(realpath "$BUILD_DIR/tarvex")" -self >"$dir/tarvex.out" 2>&1 &
  COPY_PIDS+=($!)
}

owner_is() { [[ "$(redis-cli -p "$REDIS_PORT" hget useflag:tarvex host)" == "$1" ]]; }

# (t) Three durable copies capturing at once, the way production runs: the first
# started owns the work, the other two wait as standbys and capture beside it. The
# driver measures (c) with the owner as the service and the standbys' CPU beside.
three_copy_pass() {
  if [[ $(id -u) != 0 ]]; then
    echo "(t) THREE COPIES: skipped, the namespaces need root" | tee -a "$ROOT/driver.out"
    return 0
  fi
  write_sync 0
  write_setting durable
  redis-cli -p "$REDIS_PORT" flushall >/dev/null
  start_copy 1
  if ! wait_for 100 subscribed || ! wait_for 100 owner_is "${COPY_HOSTS[0]}"; then
    echo "e2e_bench: the first copy did not take the work" >&2; cat "$ROOT/copy1/tarvex.out" >&2; exit 1
  fi
  start_copy 2
  start_copy 3
  wait_for 100 subscribed 3 ||
    { echo "e2e_bench: the standbys did not subscribe" >&2; cat "$ROOT"/copy[23]/tarvex.out >&2; exit 1; }
  echo "e2e_bench: (t) three copies, durable delivery, run log off: owner ${COPY_HOSTS[0]} (pid" \
    "${COPY_PIDS[0]}), standbys ${COPY_HOSTS[1]} (pid ${COPY_PIDS[1]}) and ${COPY_HOSTS[2]}" \
    "(pid ${COPY_PIDS[2]}), each in its own UTS and mount namespace; load $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "== pass: three copies, setting durable" >>"$ROOT/driver.out"
  TARVEX_PID=${COPY_PIDS[0]} run_driver durable3 --latency-only \
    --standby-pid "${COPY_PIDS[1]}" --standby-pid "${COPY_PIDS[2]}" "${DRIVER_ARGS[@]}"
  owner_is "${COPY_HOSTS[0]}" ||
    { echo "e2e_bench: the work moved away from ${COPY_HOSTS[0]} during (t)" >&2; exit 1; }
  # Standbys first: they end at once; then the owner finds no successor.
  stop_tarvex "${COPY_PIDS[2]}"
  stop_tarvex "${COPY_PIDS[1]}"
  stop_tarvex "${COPY_PIDS[0]}"
  COPY_PIDS=()
}

echo "e2e_bench: the limit first, with no service subscribed; load $(cut -d' ' -f1-3 /proc/loadavg)"
"$BUILD_DIR/e2e_driver" --redis-port "$REDIS_PORT" --raw-limit "${DRIVER_ARGS[@]}" |
  tee -a "$ROOT/driver.out"
if [[ -n "${BASELINE_BIN:-}" ]]; then TARVEX_BIN=$BASELINE_BIN run_pass baseline 0 none "${DRIVER_ARGS[@]}"; fi
run_pass memory 0 none "${DRIVER_ARGS[@]}"
run_pass runlog 1 none --drain-only "${DRIVER_ARGS[@]}"
run_pass keepalive 0 keepalive --drain-only "${DRIVER_ARGS[@]}"
run_pass durable 0 durable --skip-paced "${DRIVER_ARGS[@]}"
three_copy_pass
# Peak RSS after one 16 MB text of eight million numbers and the word Control (no
# record to convert), then one ordinary record, which ends the wait once its document
# is in the run log (no receiver listens: the post fails, which is enough here).
HUGE="$ROOT/huge.json"
python3 -c 'import sys; sys.stdout.write("[" + "0," * 8000000 + "\"Control\"]")' >"$HUGE"
huge_pass() {
  local setting=$1
  write_sync 1
  write_setting "$setting"
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
# (p) The sweep for the picture: one service per mode, a paced trial at each rate.
if ((PLOT)); then
  run_pass sweep-memory 0 none --sweep "$SWEEP_RATES" "${DRIVER_ARGS[@]}"
  run_pass sweep-durable 0 durable --sweep "$SWEEP_RATES" "${DRIVER_ARGS[@]}"
fi

echo "e2e_bench: same run; the limit; in-memory queue with the run log off, on, and"\
  "keep-alive; durable delivery; three durable copies:"
grep -E "^== pass|^\(r\) RAW|^\(a\) (DRAIN RATE|SERVICE CPU|CPU|DOCUMENTS|LOSS)|^\((c|d|h|p|t)\) " \
  "$ROOT/driver.out"
raw=$(sed -n 's/^(r) RAW LIMIT: \([0-9]*\).*/\1/p' "$ROOT/driver.out")
drain=$(sed -n '/^== pass: run log 0, setting none$/,/^== pass/s/^(a) DRAIN RATE: \([0-9]*\).*/\1/p' \
  "$ROOT/driver.out" | head -1)
if [[ -n $raw && -n $drain && $raw -gt 0 ]]; then
  echo "e2e_bench: drain with the run log off is $(awk -v d="$drain" -v r="$raw" \
    'BEGIN { printf "%.3f", d / r }') of the bare subscriber"
fi
REPORT_ARGS=()
if ((PLOT)); then
  mkdir -p bench/results
  cp "$FIGURES" bench/results/e2e-figures.txt
  REPORT_ARGS=(--plot bench/results/e2e-latency.png)
fi
"$PY" bench/e2e_report.py "$FIGURES" "${REPORT_ARGS[@]}"
