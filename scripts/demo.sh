#!/usr/bin/env bash
# Runs the main job once, end to end, on this machine, and cleans up after itself.
#
# Installs what is missing (scripts/setup.sh), builds tarvex and the demo receiver,
# and makes a throw-away installation root with the example configuration, pointed
# at a private redis-server and a receiver that stands in for the receiving
# platform, both on free loopback ports. Starts tarvex against them, publishes the
# worked example and a dozen other operation-log messages, and shows the documents
# received, the run log and the arbitration hash. Then stops what it started.
#
# Usage: scripts/demo.sh          (KEEP=1 keeps the installation root for a look)
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD

bash scripts/setup.sh
echo "== building (first time: a few minutes)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tarvex demo_receiver >/dev/null

source scripts/procs.sh
ROOT=$(mktemp -d "${TMPDIR:-/tmp}/tarvex-demo.XXXXXX")
REDIS_PID="" RECEIVER_PID="" TARVEX_PID=""

cleanup() {
  stop_tarvex "$TARVEX_PID"
  stop_pid "$RECEIVER_PID"
  stop_pid "$REDIS_PID"
  if [[ "${KEEP:-0}" == 1 ]]; then echo "(installation root kept: $ROOT)"; else rm -rf "$ROOT"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

require_instance_lock_free demo

# ---- private redis-server ------------------------------------------------------------
mkdir -p "$ROOT/redis" "$ROOT/cfg" "$ROOT/log"
redis_ok() { [[ "$(redis-cli -p "$REDIS_PORT" ping 2>/dev/null)" == PONG ]]; }
for _ in 1 2 3; do
  REDIS_PORT=$(free_port)
  redis-server --port "$REDIS_PORT" --bind 127.0.0.1 --save '' --appendonly no \
    --dir "$ROOT/redis" --logfile "$ROOT/redis/redis.log" &
  REDIS_PID=$!
  if wait_for 50 redis_ok; then break; fi
  stop_pid "$REDIS_PID"
  REDIS_PID=""
done
[[ -n "$REDIS_PID" ]] || { echo "demo: redis-server did not start" >&2; exit 1; }
rcli() { redis-cli -p "$REDIS_PORT" "$@"; }

# ---- receiver --------------------------------------------------------------------------
build/demo_receiver --port-file "$ROOT/receiver.port" >"$ROOT/received.txt" 2>&1 &
RECEIVER_PID=$!
wait_for 50 test -s "$ROOT/receiver.port" || { echo "demo: receiver did not start" >&2; exit 1; }
RECEIVER_PORT=$(cat "$ROOT/receiver.port")
URL="http://127.0.0.1:$RECEIVER_PORT/api/operationLog"

# ---- installation root: the example configuration, pointed at the two ---------------
LC_ALL=C sed -e "s/^MasterPort0=.*/MasterPort0=$REDIS_PORT/" \
  examples/cfg/rdsset.ini >"$ROOT/cfg/rdsset.ini"
LC_ALL=C sed -e "s|^url=.*|url=$URL|" examples/cfg/logsynset.ini >"$ROOT/cfg/logsynset.ini"

echo
echo "== installation root $ROOT"
echo "   redis-server      127.0.0.1:$REDIS_PORT (pid $REDIS_PID)"
echo "   receiver          $URL (pid $RECEIVER_PID)"
echo "   cfg/rdsset.ini    Mode=1, MasterIp0=127.0.0.1, MasterPort0=$REDIS_PORT"
echo "   cfg/logsynset.ini url=$URL, Flag=1 (run log on), 3 application systems, 3 stations"
echo "                     (names partly in GBK, as in examples/cfg/logsynset.ini)"

# ---- tarvex ----------------------------------------------------------------------------
ZQROOT=$ROOT build/tarvex -self >"$ROOT/tarvex.out" 2>&1 &
TARVEX_PID=$!
subscribed() { [[ "$(rcli pubsub numsub almTopic | sed -n 2p)" == 1 ]]; }
if ! wait_for 100 subscribed; then
  if ! kill -0 "$TARVEX_PID" 2>/dev/null; then
    echo "demo: tarvex ended at once (another copy on this host, or no Redis?)" >&2
  fi
  echo "demo: tarvex did not subscribe to almTopic within 10 s" >&2
  cat "$ROOT/tarvex.out" "$ROOT/log/tarvex.log" 2>/dev/null >&2 || true
  exit 1
fi
echo "   tarvex -self      pid $TARVEX_PID, ZQROOT=$ROOT, subscribed to almTopic"

# ---- operation logs -------------------------------------------------------------------
# One record with the given members; an argument "key=value" each.
record() {
  local out="" kv
  for kv in "$@"; do out+="${out:+,}\"${kv%%=*}\":\"${kv#*=}\""; done
  printf '{%s}' "$out"
}
WORKED=$(record classname=Control occurtime=1709629622 occurms=250 devicekey=DEV.0042 \
  appsysid=3 "chardesc=Breaker 12 closed" "userattr[0]=op01" "userattr[1]=WS05" groupname=ST07)
GBK_STATION=$(record classname=Control occurtime=1709630000 occurms=10 devicekey=QF.101 \
  appsysid=7 "chardesc=1号进线断路器 合闸" "userattr[0]=张工" "userattr[1]=WS02" groupname=ST11)
OCC_A=$(record classname=Control occurtime=1709630100 occurms=0 devicekey=FAN.3 \
  appsysid=12 "chardesc=Tunnel fan 3 started" "userattr[0]=op02" "userattr[1]=OCC1" groupname=OCC)
OCC_B=$(record classname=Control occurtime=1709630101 occurms=500 devicekey=FAN.4 \
  appsysid=12 "chardesc=Tunnel fan 4 started" "userattr[0]=op02" "userattr[1]=OCC1" groupname=OCC)
ALARM=$(record classname=Alarm occurtime=1709630200 occurms=0 devicekey=DOOR.1 \
  appsysid=3 "chardesc=Control room door opened" groupname=ST07)
LOWER=$(record classname=control occurtime=1709630300 occurms=0 devicekey=QF.7 \
  appsysid=3 "chardesc=lower-case class" groupname=ST07)
NO_APP=$(record classname=Control occurtime=1709630400 occurms=0 devicekey=QF.8 \
  appsysid=99 "chardesc=Unknown application system 99" groupname=ST07)
NO_STATION=$(record classname=Control occurtime=1709630500 occurms=0 devicekey=QF.9 \
  appsysid=3 "chardesc=Breaker 9 opened at unknown station ST99" groupname=ST99)
NO_WORD=$(record classname=Alarm occurtime=1709630600 occurms=0 devicekey=TMP.2 \
  appsysid=3 "chardesc=Temperature high" groupname=ST07)
PADDED=$(record classname=Control occurtime=0001709630700 occurms=42 devicekey=QF.12 \
  appsysid=03 "chardesc=Breaker 12 opened" "userattr[0]=op01" "userattr[1]=WS05" groupname=ST07)

N=0
publish() {
  local what=$1 payload=$2
  N=$((N + 1))
  printf '%2d. %s\n    %s\n' "$N" "$what" "$payload"
  rcli publish almTopic "$payload" >/dev/null
}
echo
echo "== publishing operation-log messages on almTopic"
publish "the worked example: forwarded" "[$WORKED]"
publish "GBK station and application system, UTF-8 description: forwarded" "[$GBK_STATION]"
publish "two records in one message: both forwarded" "[$OCC_A,$OCC_B]"
publish "class Alarm (the text holds the word Control): queued, not forwarded" "[$ALARM]"
publish "class written \"control\": not forwarded" "[$LOWER]"
publish "application system 99 is not in the dictionary: not forwarded, not logged" "[$NO_APP]"
publish "station ST99 is not in the dictionary: not forwarded, but logged" "[$NO_STATION]"
publish "no \"Control\" anywhere in the text: dropped on receipt" "[$NO_WORD]"
publish "invalid JSON (cut short): skipped" "[$WORKED"
publish "a comment before the array (not strict JSON): skipped" "// Control
[$WORKED]"
publish "root is an object, not an array: skipped" "$WORKED"
publish "Control record next to an Alarm record: the Control one is forwarded" "[$ALARM,$PADDED]"
publish "empty Control object: no application system 0, not forwarded" '[{"classname":"Control"}]'

# Wait until the receiver has been quiet for 1.5 s (at most 10 s).
last="" quiet=0
for _ in $(seq 100); do
  now=$(wc -c <"$ROOT/received.txt")
  if [[ "$now" == "$last" ]]; then quiet=$((quiet + 1)); else quiet=0; last=$now; fi
  if ((quiet >= 15)) && grep -q '^=== document' "$ROOT/received.txt"; then break; fi
  sleep 0.1
done

echo
echo "== documents received by the receiver (texts not in UTF-8 shown from GBK, marked [GBK])"
sed 1d "$ROOT/received.txt"

echo
echo "== run log $ROOT/log/tarvex.log (GBK, shown in UTF-8)"
build/demo_receiver --decode 240 <"$ROOT/log/tarvex.log"

echo
echo "== arbitration hash: redis-cli HGETALL useflag:tarvex"
rcli hgetall useflag:tarvex | paste - - | while IFS=$'\t' read -r field value; do
  if [[ "$field" == time ]]; then
    printf '   %-5s %s   (%s)\n' "$field" "$value" "$(date -d "@$value" '+%F %T %Z')"
  else
    printf '   %-5s %s\n' "$field" "$value"
  fi
done
if [[ -s "$ROOT/tarvex.out" ]]; then
  echo
  echo "== tarvex standard output and error"
  cat "$ROOT/tarvex.out"
fi

echo
echo "== stopping tarvex, the receiver and redis-server"
cleanup
trap - EXIT
echo "done."
