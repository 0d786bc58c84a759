#!/usr/bin/env bash
# Chaos soak: three copies of the service (hosts chaos1..3, each in its own UTS and
# mount namespace, restarted 5 s after it ends), a Redis master with two replicas and
# three Sentinels, a receiver and a publisher (200 msg/s and a few bursts of 5,000),
# and a seeded schedule of faults, one every 20-60 s: the owner killed or stopped,
# the master, a replica or a Sentinel killed, one copy's Redis traffic dropped, the
# receiver refusing, answering 500 or 401, stalling 20 s or resetting, a huge text, a
# poison record the receiver refuses (400) or always fails (500), Redis replies lost,
# a planned stop (SIGTERM) of the owner or of every copy in turn. Then
# bench/chaos_audit.py judges the event logs; the exit status is the audit's.
#
# Everything runs inside one private network namespace (the script re-executes
# itself under `unshare -n`), so no traffic reaches this machine's own loopback.
# Needs root (namespaces, nftables, per-copy uids 61001..61003).
#
# Usage: bench/chaos.sh --minutes M --durable 0|1 --seed N [--asan] [--out DIR]
#                       [--rate R] [--faults KIND,KIND...]
#   --asan  the copies run from build-asan (-DTARVEX_SANITIZE=address,undefined)
#   --faults draw only from these kinds (kill_owner, stop_owner, kill_master,
#           kill_replica, kill_sentinel, blackhole, receiver_refuse, receiver_500,
#           receiver_stall, receiver_reset, receiver_401, huge_message, poison_400,
#           poison_500, lost_reply, sigterm_owner, rolling_restart); default all
#   --out   where the logs, audit.txt, audit.json and timeline.png go
#           (default: a new /tmp/tarvex-chaos.XXXXXX)
set -euo pipefail
cd "$(dirname "$0")/.."

MINUTES="" DURABLE="" SEED="" ASAN=0 OUT="" RATE=200 FAULTS=""
while (($#)); do
  case $1 in
    --minutes) MINUTES=$2; shift 2 ;;
    --durable) DURABLE=$2; shift 2 ;;
    --seed) SEED=$2; shift 2 ;;
    --asan) ASAN=1; shift ;;
    --out) OUT=$2; shift 2 ;;
    --rate) RATE=$2; shift 2 ;;
    --faults) FAULTS=$2; shift 2 ;;
    *) echo "chaos: unknown argument $1" >&2; exit 2 ;;
  esac
done
if [[ -z $MINUTES || -z $DURABLE || -z $SEED ]]; then
  sed -n '16,25p' "$0" >&2
  exit 2
fi
[[ $(id -u) -eq 0 ]] || { echo "chaos: needs root" >&2; exit 2; }

if [[ -z ${TARVEX_CHAOS_NETNS:-} ]]; then
  bash scripts/setup.sh
  BUILD_DIR=build
  EXTRA=()
  if ((ASAN)); then BUILD_DIR=build-asan; EXTRA=(-DTARVEX_SANITIZE=address,undefined -DTARVEX_BUILD_BENCH=OFF); fi
  nice -n 10 cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${EXTRA[@]}" >/dev/null
  nice -n 10 cmake --build "$BUILD_DIR" -j2 --target tarvex >/dev/null
  [[ -n $OUT ]] || OUT=$(mktemp -d "${TMPDIR:-/tmp}/tarvex-chaos.XXXXXX")
  mkdir -p "$OUT"
  OUT=$(cd "$OUT" && pwd)
  chmod 755 "$OUT"
  args=(--minutes "$MINUTES" --durable "$DURABLE" --seed "$SEED" --rate "$RATE" --out "$OUT")
  [[ -n $FAULTS ]] && args+=(--faults "$FAULTS")
  ((ASAN)) && args+=(--asan)
  TARVEX_CHAOS_NETNS=1 TARVEX_CHAOS_BIN="$PWD/$BUILD_DIR/tarvex" exec unshare -n -- "$0" "${args[@]}"
fi

# From here on: inside the private network namespace.
ip link set lo up
echo "chaos: $MINUTES min, durable $DURABLE, seed $SEED, asan $ASAN; logs in $OUT"
rc=0
/usr/bin/python3 bench/chaos_run.py --minutes "$MINUTES" --durable "$DURABLE" --seed "$SEED" \
  --asan "$ASAN" --rate "$RATE" --faults "$FAULTS" --binary "$TARVEX_CHAOS_BIN" --out "$OUT" &
RUN_PID=$!
# The harness stops everything it started, by pid, when it gets TERM.
trap 'kill -TERM "$RUN_PID" 2>/dev/null || true' INT TERM
wait "$RUN_PID" || rc=$?
# wait returns early when a trapped signal arrives; wait again for the shutdown.
while kill -0 "$RUN_PID" 2>/dev/null; do wait "$RUN_PID" || rc=$?; done
trap - INT TERM
if ((rc != 0)); then
  echo "chaos: the run did not complete (status $rc); auditing what it logged" >&2
fi
arc=0
/usr/bin/python3 bench/chaos_audit.py "$OUT" || arc=$?
((rc != 0)) && exit "$rc"
exit "$arc"
