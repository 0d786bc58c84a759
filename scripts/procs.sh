# Process helpers shared by scripts/demo.sh and bench/e2e_bench.sh. Source it.

# Stops one process we started: TERM, then KILL after 5 s.
stop_pid() {
  local pid=$1
  [[ -n "$pid" ]] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null || true; return 0; }
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# Stops a tarvex we started. Alone, it would wait StopHandoverSeconds for a
# successor after the first TERM; the second, a moment later, ends it at once.
stop_tarvex() {
  local pid=$1
  [[ -n "$pid" ]] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  sleep 0.2
  stop_pid "$pid"
}

# Waits up to $1 tenths of a second for the command after it to succeed.
wait_for() {
  local tenths=$1
  shift
  for _ in $(seq "$tenths"); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}

# A loopback port nobody answers on.
free_port() {
  local p
  while :; do
    p=$((20000 + RANDOM % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then echo "$p"; return; fi
  done
}

# Exits when another tarvex on this host holds the single-instance lock; $1 names
# the caller in the message.
require_instance_lock_free() {
  local rc=0
  if [[ -e /run/lock/htarvexMutex ]]; then
    flock -n -E 75 /run/lock/htarvexMutex true 2>/dev/null || rc=$?
  fi
  if ((rc == 75)); then
    echo "$1: another tarvex runs on this host (it holds /run/lock/htarvexMutex); stop it first." >&2
    exit 1
  fi
}
