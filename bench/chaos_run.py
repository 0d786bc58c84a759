"""Chaos soak: three copies of tarvex, a Redis master with two replicas and three
Sentinels, a receiver and a publisher, and a seeded schedule of faults. Started by
bench/chaos.sh inside a private network namespace; every address is 127.0.0.1 and the
ports are fixed, since nothing else lives in that namespace.

Writes into OUT:
  events.jsonl   harness events: start, spawn, exit, fault, heal, role, res, end, and
                 term (a stop signal sent), stop_overrun, master_sleep, pending
                 (durable: the group's pending entries every 10 s), deadletters
  publish.log    one line per record (chaos_peers.py publisher)
  specials.log   one line per huge or poison text the publisher was asked for
  deadletter.jsonl  durable: tarvex:deadletter as read just before the end, one line
                 per entry (id, time, status, reply size and head, text size, the
                 devicekey seqs in the text, its poison marker if any)
  reach.log      the publisher's samples of replica subscribers
  receiver.log   one line per request (chaos_peers.py receiver)
  copies/cN/     each copy's root (cfg/, log/) and stderr.K of its K-th run
  redis/, san/   Redis and Sentinel logs; sanitizer reports
"""
import argparse
import json
import os
import random
import re
import signal
import subprocess
import sys
import threading
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chaos_peers import Resp, master_port, one_command  # noqa: E402

PY = "/usr/bin/python3"
HERE = os.path.dirname(os.path.abspath(__file__))
DATA_PORTS = [7000, 7001, 7002]
SENTINEL_PORTS = [7100, 7101, 7102]
RECEIVER_PORT = 7200
COPIES = ["c1", "c2", "c3"]
STATUS_PORT = {"c1": 7301, "c2": 7302, "c3": 7303}
UID = {"c1": 61001, "c2": 61002, "c3": 61003}
HOST = {"c1": "chaos1", "c2": "chaos2", "c3": "chaos3"}
RESTART_SEC = 5
STOP_LIMIT_S = 10 + 16 + 4   # StopHandoverSeconds (default 10) + 16 s, and slack
ROLLING_STEP_S = 15          # longest wait for one copy of a rolling restart to be back
MASTER_SLEEP_S = 3.5         # one DEBUG SLEEP of lost_reply: past OvertimeSec (2 s),
                             # short of the Sentinels' down-after (5 s)
MASTER_SLEEP_EVERY_S = 8     # from the end of one such sleep to the next
PENDING_EVERY_S = 10         # how often the group's pending entries are sampled
DEADLETTER_PAGE = 50         # entries per XRANGE when the dead letters are read
DEVICEKEY = re.compile(rb'"devicekey"\s*:\s*"K(\d+)"')


class Events:
    def __init__(self, path):
        self.f = open(path, "a", buffering=1)
        self.lock = threading.Lock()

    def __call__(self, event, **fields):
        fields = dict(t=round(time.time(), 3), ev=event, **fields)
        with self.lock:
            self.f.write(json.dumps(fields, sort_keys=True) + "\n")


class Proc:
    """A process we started; stop() ends it by pid, SIGCONT first in case it is stopped."""

    def __init__(self, argv, log, **kw):
        self.argv = argv
        out = open(log, "ab")
        # Its own session: a Ctrl-C reaches only the harness, which stops it in order.
        self.p = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT,
                                  stdin=subprocess.DEVNULL, start_new_session=True, **kw)
        out.close()

    @property
    def pid(self):
        return self.p.pid

    def alive(self):
        return self.p.poll() is None

    def signal(self, sig):
        if self.alive():
            try:
                os.kill(self.p.pid, sig)
            except ProcessLookupError:
                pass

    def stop(self, grace=5.0):
        if not self.alive():
            return self.p.returncode
        self.signal(signal.SIGCONT)
        self.signal(signal.SIGTERM)
        try:
            return self.p.wait(grace)
        except subprocess.TimeoutExpired:
            self.signal(signal.SIGKILL)
            return self.p.wait(5)


class Copy:
    """One copy on its own host, restarted RESTART_SEC after it ends."""

    def __init__(self, h, name):
        self.h, self.name = h, name
        self.root = os.path.join(h.out, "copies", name)
        self.proc = None
        self.runs = 0
        self.harness_kill = False  # the next exit was a SIGKILL we sent
        self.harness_term = False  # the next exit follows a SIGTERM we sent (a planned stop)
        self.stopped = False       # SIGSTOPped by us
        self.lock = threading.Lock()
        self.write_config()

    def write_config(self):
        os.makedirs(os.path.join(self.root, "cfg"), exist_ok=True)
        os.makedirs(os.path.join(self.root, "log"), exist_ok=True)
        sentinels = "".join("SentinelIp%d=127.0.0.1\nSentinelPort%d=%d\n" % (i, i, p)
                            for i, p in enumerate(SENTINEL_PORTS))
        files = {
            "rdsset.ini": "[ConnectionMode]\nMode=3\n[Sentinel]\nSentinelNum=3\n%s"
                          "[Format]\nOvertimeSec=2\n" % sentinels,
            "logsynset.ini": "[synLogFlag]\nFlag=%d\n[tovraurl]\nurl=http://127.0.0.1:%d/log\n"
                             "[appSysId]\nappsysidnum=1\nappsysid0=3\nappsysiddesc0=Power\n"
                             "[stationInfo]\nstationnum=1\nstationlindid0=L2\nstationid0=S07\n"
                             "stationlinddesc0=Line 2\nstationdesc0=Station 7\n"
                             "stationcode0=ST07\n" % (self.h.args.run_log, RECEIVER_PORT),
            "tarvex.ini": "[Durable]\nDurable=%d\nRetryMaxSeconds=15\n[Http]\nHeaderNum=1\n"
                          "Header0=X-Tarvex-Copy: %s\n[Status]\nStatusListen=127.0.0.1:%d\n"
                          % (self.h.args.durable, self.name, STATUS_PORT[self.name]),
        }
        for fname, text in files.items():
            with open(os.path.join(self.root, "cfg", fname), "w") as f:
                f.write(text)
        subprocess.run(["chown", "-R", "%d:%d" % (UID[self.name], UID[self.name]), self.root],
                       check=True)

    def spawn(self):
        self.runs += 1
        script = ('mount -t tmpfs -o mode=1777 tmpfs /run/lock && hostname "$0" && '
                  'exec setpriv --reuid=%d --regid=%d --clear-groups "$@"'
                  % (UID[self.name], UID[self.name]))
        argv = ["unshare", "-u", "-m", "--propagation", "private", "sh", "-c", script,
                HOST[self.name], self.h.binary, "-self"]
        env = dict(os.environ, ZQROOT=self.root, TZ="UTC")
        san = os.path.join(self.h.out, "san")
        env["ASAN_OPTIONS"] = ("halt_on_error=1:abort_on_error=0:exitcode=23:detect_leaks=1:"
                               "log_path=%s/asan.%s" % (san, self.name))
        env["UBSAN_OPTIONS"] = ("halt_on_error=1:abort_on_error=0:exitcode=23:print_stacktrace=1:"
                                "log_path=%s/ubsan.%s" % (san, self.name))
        log = os.path.join(self.root, "stderr.%d" % self.runs)
        self.proc = Proc(argv, log, env=env, cwd=self.root)
        self.h.ev("spawn", copy=self.name, pid=self.proc.pid, run=self.runs)

    def supervise(self):
        while True:
            with self.lock:
                if self.h.stopping.is_set():
                    return
                self.spawn()
                proc = self.proc
            rc = proc.p.wait()
            with self.lock:
                cause = "harness-kill" if self.harness_kill else (
                    "planned-stop" if self.harness_term else (
                        "end-of-run" if self.h.stopping.is_set() else "self"))
                self.harness_kill = False
                self.harness_term = False
                self.stopped = False
            self.h.ev("exit", copy=self.name, pid=proc.pid, rc=rc, cause=cause, run=self.runs)
            if self.h.stopping.wait(RESTART_SEC):
                return

    def pid(self):
        with self.lock:
            return self.proc.pid if self.proc and self.proc.alive() else None

    def kill(self):
        with self.lock:
            if self.proc and self.proc.alive():
                self.harness_kill = True
                self.proc.signal(signal.SIGKILL)
                return True
        return False

    def term(self, fid, owner):
        """A planned stop: SIGTERM, logged with the time it was sent. A copy still
        running STOP_LIMIT_S later is logged as an overrun and killed. Returns the
        number of the run stopped, or None when no copy was running."""
        with self.lock:
            if not (self.proc and self.proc.alive()):
                return None
            proc, run = self.proc, self.runs
            self.harness_term = True
            self.h.ev("term", copy=self.name, pid=proc.pid, run=run, fault=fid, owner=owner,
                      role=self.h.roles.get(self.name))
            proc.signal(signal.SIGTERM)

        def watchdog():
            deadline = time.time() + STOP_LIMIT_S
            while time.time() < deadline and proc.p.returncode is None:
                time.sleep(0.2)
            with self.lock:
                if proc.p.returncode is None and self.proc is proc and proc.alive():
                    self.h.ev("stop_overrun", copy=self.name, pid=proc.pid, seconds=STOP_LIMIT_S)
                    self.harness_kill = True
                    proc.signal(signal.SIGKILL)
        threading.Thread(target=watchdog, daemon=True).start()
        return run

    def back_after(self, run, seconds):
        """Waits up to `seconds` until a run later than `run` is up; True when it is."""
        deadline = time.time() + seconds
        while time.time() < deadline and not self.h.stopping.is_set():
            with self.lock:
                if self.runs > run and self.proc is not None and self.proc.alive():
                    return True
            time.sleep(0.2)
        return False

    def sigstop(self, on):
        with self.lock:
            if self.proc and self.proc.alive():
                self.proc.signal(signal.SIGSTOP if on else signal.SIGCONT)
                self.stopped = on
                return True
        return False


def nft(*rule):
    return subprocess.run(["nft"] + list(rule), capture_output=True, text=True, timeout=10)


class Harness:
    def __init__(self, args):
        self.args = args
        self.out = args.out
        self.binary = args.binary
        self.rng = random.Random(args.seed)
        self.kinds = args.faults.split(",") if args.faults else list(self.FAULTS)
        unknown = set(self.kinds) - set(self.FAULTS)
        if unknown:
            raise SystemExit("chaos_run: unknown fault kind(s) %s; known: %s"
                             % (",".join(sorted(unknown)), ",".join(self.FAULTS)))
        self.stopping = threading.Event()
        self.procs = []                # every Proc but the copies
        self.nodes = {}                # data port -> Proc
        self.sentinels = {}            # sentinel port -> Proc
        self.roles = {c: None for c in COPIES}
        self.useflag = None
        for d in ("copies", "redis", "san", "ask"):
            os.makedirs(os.path.join(self.out, d), exist_ok=True)
        os.chmod(os.path.join(self.out, "san"), 0o1777)
        self.ev = Events(os.path.join(self.out, "events.jsonl"))
        self.mode_file = os.path.join(self.out, "receiver.mode")
        self.set_receiver("ok")
        self.copies = {c: Copy(self, c) for c in COPIES}

    # ------------------------------------------------------------ Redis
    def start_node(self, port, replica_of=None):
        d = os.path.join(self.out, "redis", "n%d" % port)
        os.makedirs(d, exist_ok=True)
        argv = ["redis-server", "--port", str(port), "--bind", "127.0.0.1", "--save", "",
                "--appendonly", "no", "--dir", d, "--logfile", os.path.join(d, "redis.log"),
                "--enable-debug-command", "local"]  # DEBUG SLEEP, for lost_reply
        if replica_of:
            argv += ["--replicaof", "127.0.0.1", str(replica_of)]
        p = Proc(argv, os.path.join(d, "stdout"))
        self.nodes[port] = p
        self.procs.append(p)
        self.wait(lambda: one_command(port, "PING") == "PONG", 10, "redis %d" % port)

    def start_sentinel(self, port):
        d = os.path.join(self.out, "redis", "s%d" % port)
        conf = os.path.join(d, "sentinel.conf")
        if not os.path.exists(conf):
            os.makedirs(d, exist_ok=True)
            with open(conf, "w") as f:
                f.write("port %d\nbind 127.0.0.1\ndir %s\nlogfile %s\n"
                        "sentinel monitor mymaster 127.0.0.1 %d 2\n"
                        "sentinel down-after-milliseconds mymaster 5000\n"
                        "sentinel failover-timeout mymaster 10000\n"
                        "sentinel parallel-syncs mymaster 1\n"
                        % (port, d, os.path.join(d, "sentinel.log"), DATA_PORTS[0]))
        p = Proc(["redis-server", conf, "--sentinel"], os.path.join(d, "stdout"))
        self.sentinels[port] = p
        self.procs.append(p)
        self.wait(lambda: one_command(port, "PING") == "PONG", 10, "sentinel %d" % port)

    @staticmethod
    def linked(port):
        info = one_command(port, "INFO", "replication")
        return isinstance(info, str) and "master_link_status:up" in info

    @staticmethod
    def synced_replicas(sentinel):
        r = one_command(sentinel, "SENTINEL", "replicas", "mymaster")
        if not isinstance(r, list):
            return 0
        flags = [dict(zip(x[::2], x[1::2])).get("flags", "") for x in r if isinstance(x, list)]
        return sum(1 for f in flags if f == "slave")

    def master(self):
        return master_port([p for p, s in self.sentinels.items() if s.alive()] or SENTINEL_PORTS)

    def wait(self, cond, seconds, what):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if cond():
                return True
            time.sleep(0.1)
        raise RuntimeError("timed out waiting for " + what)

    # ------------------------------------------------------------ receiver
    def set_receiver(self, mode):
        tmp = self.mode_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(mode + "\n")
        os.replace(tmp, self.mode_file)

    # ------------------------------------------------------------ watching
    def read_role(self, c):
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % STATUS_PORT[c],
                                        timeout=0.5) as r:
                text = r.read().decode()
        except Exception:  # noqa: BLE001 - any failure means: no answer
            return None
        if 'tarvex_role{role="owner"} 1' in text:
            return "owner"
        if 'tarvex_role{role="standby"} 1' in text:
            return "standby"
        return "unknown"

    def watch(self):
        last = None
        next_res = 0
        next_pending = 0
        while not self.stopping.is_set():
            for c in COPIES:
                self.roles[c] = self.read_role(c) if self.copies[c].pid() else "down"
            m = self.master()
            flag = one_command(m, "HMGET", "useflag:tarvex", "host", "time") if m else None
            self.useflag = flag[0] if isinstance(flag, list) else None
            now = (dict(self.roles), self.useflag, m)
            if now != last:
                self.ev("role", roles=now[0], useflag=now[1], master=m)
                last = now
            if time.time() >= next_res:
                next_res = time.time() + 10
                for c in COPIES:
                    pid = self.copies[c].pid()
                    if pid:
                        self.sample(c, pid)
            if self.args.durable and m and time.time() >= next_pending:
                next_pending = time.time() + PENDING_EVERY_S
                self.sample_pending(m)
            self.stopping.wait(1.0)

    def sample_pending(self, m):
        """The group's pending entries and the age of the oldest (from its id, which is
        the time Redis added it)."""
        r = one_command(m, "XPENDING", "tarvex:capture", "forwarders")
        if not isinstance(r, list) or len(r) < 2 or not isinstance(r[0], int):
            return
        oldest = None
        if r[0] and isinstance(r[1], str):
            oldest = round(time.time() - int(r[1].split("-")[0]) / 1000.0, 1)
        self.ev("pending", count=r[0], oldest_age_s=oldest, master=m)

    def sample(self, c, pid):
        try:
            with open("/proc/%d/comm" % pid) as f:
                if f.read().strip() != "tarvex":
                    return
            fields = {}
            with open("/proc/%d/status" % pid) as f:
                for line in f:
                    k, _, v = line.partition(":")
                    fields[k] = v.strip()
            fds = len(os.listdir("/proc/%d/fd" % pid))
        except OSError:
            return
        self.ev("res", copy=c, pid=pid, fds=fds, rss_kb=int(fields["VmRSS"].split()[0]),
                hwm_kb=int(fields.get("VmHWM", "0 kB").split()[0]),
                threads=int(fields["Threads"]), role=self.roles[c])

    def owner(self):
        for c in COPIES:
            if HOST[c] == self.useflag and self.copies[c].pid():
                return c
        for c in COPIES:
            if self.roles[c] == "owner":
                return c
        return None

    # ------------------------------------------------------------ faults
    FAULTS = ["kill_owner", "stop_owner", "kill_master", "kill_replica", "kill_sentinel",
              "blackhole", "receiver_refuse", "receiver_500", "receiver_stall", "receiver_reset",
              "receiver_401", "huge_message", "poison_400", "poison_500", "lost_reply",
              "sigterm_owner", "rolling_restart"]
    HUGE_SHAPES = ["numbers", "records", "long_text"]

    def ask_publisher(self, fid, ask):
        """Hands the publisher one text to publish (it looks every 100 ms)."""
        d = os.path.join(self.out, "ask")
        tmp = os.path.join(d, "%d.tmp" % fid)
        with open(tmp, "w") as f:
            json.dump(dict(ask, id=fid), f)
        os.replace(tmp, os.path.join(d, "%06d.json" % fid))

    def sleep_master(self, stop, fid):
        """lost_reply. The copies reach Redis through the Sentinels, so a proxy would
        have to be announced as the master itself; instead the master sleeps (DEBUG
        SLEEP) longer than the copies' command time-out. A command sent meanwhile waits
        in the socket; the copy gives up and closes the connection, and when the master
        wakes it reads that command before the end of the stream, runs it (an
        XREADGROUP adds its entries to the reader's pending list, a capture adds its
        entry and marker, an XACK acknowledges) and answers a closed socket: the
        command ran, its reply is lost. The sleep stays short of the Sentinels'
        down-after, so no failover follows."""
        while not stop.is_set():
            m = self.master()
            if m is not None:
                self.ev("master_sleep", fault=fid, port=m, seconds=MASTER_SLEEP_S)
                r = one_command(m, "DEBUG", "SLEEP", str(MASTER_SLEEP_S),
                                timeout=MASTER_SLEEP_S + 5)
                if r != "OK":
                    self.ev("failed", error="DEBUG SLEEP on %d: %r" % (m, r))
                    return
            stop.wait(MASTER_SLEEP_EVERY_S)

    def planned_stop(self, c, fid, owner):
        """SIGTERM to copy c; returns the run stopped (None: c was not running)."""
        return self.copies[c].term(fid, owner)

    def rolling_restart(self, order, fid):
        """SIGTERM to each copy in turn; the next once the last is back, or after
        ROLLING_STEP_S."""
        for c in order:
            if self.stopping.is_set():
                return
            run = self.planned_stop(c, fid, c == self.owner())
            if run is not None:
                self.copies[c].back_after(run, ROLLING_STEP_S)

    def inject(self, kind):
        """Starts fault kind; returns (details, heal function, seconds until the heal).
        The heal of a planned stop waits until the copies stopped are back; those of
        huge_message and the poison kinds only close the window in which losses are
        put down to them (a poison record stays poison)."""
        r = self.rng
        fid = len(self.fault_log)
        if kind == "huge_message":
            shape = r.choice(self.HUGE_SHAPES)
            size = 16000010 if shape == "numbers" else r.randint(1000000, 15900000)
            self.ask_publisher(fid, dict(kind="huge", shape=shape, bytes=size))
            return dict(shape=shape, bytes=size), lambda: None, r.uniform(20, 40)
        if kind in ("poison_400", "poison_500"):
            self.ask_publisher(fid, dict(kind=kind.replace("_", "")))
            return dict(), lambda: None, r.uniform(30, 60)
        if kind == "lost_reply":
            m = self.master()
            if m is None:
                return None
            stop = threading.Event()
            t = threading.Thread(target=self.sleep_master, args=(stop, fid), daemon=True)
            t.start()

            def heal():
                stop.set()
                t.join(MASTER_SLEEP_S + 10)
            return dict(port=m), heal, r.uniform(20, 40)
        if kind == "sigterm_owner":
            c = self.owner()
            run = self.planned_stop(c, fid, True) if c else None
            if run is None:
                return None

            def heal():
                self.copies[c].back_after(run, STOP_LIMIT_S + RESTART_SEC + 5)
            return dict(copy=c), heal, 0
        if kind == "rolling_restart":
            order = list(COPIES)
            r.shuffle(order)
            if not any(self.copies[c].pid() for c in order):
                return None
            t = threading.Thread(target=self.rolling_restart, args=(order, fid), daemon=True)
            t.start()
            # The fault lasts until the last copy is back.
            return (dict(order=",".join(order), owner_at_start=self.owner()),
                    lambda: t.join(len(order) * (STOP_LIMIT_S + RESTART_SEC + 5)), 0)
        if kind in ("kill_owner", "stop_owner"):
            c = self.owner()
            if c is None:
                return None
            if kind == "kill_owner":
                self.copies[c].kill()
                return dict(copy=c), None, 0
            self.copies[c].sigstop(True)
            return dict(copy=c), lambda: self.copies[c].sigstop(False), r.uniform(10, 40)
        if kind == "kill_master":
            m = self.master()
            if m is None or m not in self.nodes:
                return None
            self.nodes[m].signal(signal.SIGKILL)

            def heal():
                self.nodes[m].p.wait(5)
                # Back only as a replica of the new master: an empty master would wipe
                # what the others hold.
                self.wait(lambda: self.master() not in (None, m), 60, "a failover")
                new = self.master()
                self.start_node(m, replica_of=new)
                return dict(replica_of=new)
            return dict(port=m), heal, r.uniform(20, 40)
        if kind == "kill_replica":
            m = self.master()
            replicas = [p for p in DATA_PORTS if p != m and self.nodes[p].alive()]
            if m is None or not replicas:
                return None
            p = r.choice(replicas)
            self.nodes[p].signal(signal.SIGKILL)

            def heal():
                self.nodes[p].p.wait(5)
                self.start_node(p, replica_of=self.master())
            return dict(port=p), heal, r.uniform(10, 30)
        if kind == "kill_sentinel":
            p = r.choice(SENTINEL_PORTS)
            self.sentinels[p].signal(signal.SIGKILL)

            def heal():
                self.sentinels[p].p.wait(5)
                self.start_sentinel(p)
            return dict(port=p), heal, r.uniform(10, 30)
        if kind == "blackhole":
            c = r.choice(COPIES)
            ports = ",".join(str(p) for p in DATA_PORTS + SENTINEL_PORTS)
            nft("add", "rule", "inet", "chaos", "out", "meta", "skuid", str(UID[c]), "tcp",
                "dport", "{%s}" % ports, "drop")
            nft("add", "rule", "inet", "chaos", "in", "meta", "skuid", str(UID[c]), "tcp",
                "sport", "{%s}" % ports, "drop")

            def heal():
                nft("flush", "chain", "inet", "chaos", "out")
                nft("flush", "chain", "inet", "chaos", "in")
            return dict(copy=c, owner=(c == self.owner())), heal, r.uniform(20, 60)
        mode = kind.split("_", 1)[1]  # refuse, 500, stall, reset, 401
        self.set_receiver(mode)
        if mode == "stall":
            seconds = 20
        elif mode == "401":
            seconds = r.uniform(20, 60)
        else:
            seconds = r.uniform(10, 30)
        return dict(), lambda: self.set_receiver("ok"), seconds

    def faults(self, first_at, last_at):
        try:
            self.fault_loop(first_at, last_at)
        except Exception as e:  # noqa: BLE001 - logged; the audit fails the run
            self.ev("failed", error="fault schedule: %r" % e)

    def fault_loop(self, first_at, last_at):
        t = first_at
        while not self.stopping.is_set():
            if self.stopping.wait(max(0, t - time.time())) or time.time() >= last_at:
                return
            kinds = list(self.kinds)
            self.rng.shuffle(kinds)
            started = None
            for kind in kinds:
                started = self.inject(kind)
                if started is not None:
                    break
            gap = self.rng.uniform(20, 60)
            if started is None:
                t = time.time() + 5
                continue
            details, heal, duration = started
            duration = min(duration, max(0, last_at - time.time()))
            fid = len(self.fault_log)
            self.fault_log.append(kind)
            self.ev("fault", id=fid, kind=kind, planned_s=round(duration, 1), **details)
            if heal is not None:
                self.stopping.wait(duration)
                try:
                    extra = heal()
                    extra = extra if isinstance(extra, dict) else {}
                except Exception as e:  # noqa: BLE001 - a failed heal is logged, the run goes on
                    extra = dict(error=str(e))
                    self.ev("failed", error="heal of %s: %s" % (kind, e))
                self.ev("heal", id=fid, kind=kind, **extra)
            else:
                self.ev("heal", id=fid, kind=kind)
            t = max(time.time() + 5, time.time() - duration + gap)

    # ------------------------------------------------------------ the run
    def run(self):
        a = self.args
        total = a.minutes * 60.0
        self.fault_log = []
        self.ev("start", minutes=a.minutes, durable=a.durable, seed=a.seed, asan=a.asan,
                binary=self.binary, rate=a.rate)
        nft("add", "table", "inet", "chaos")
        nft("add", "chain", "inet", "chaos", "out", "{ type filter hook output priority 0 ; }")
        nft("add", "chain", "inet", "chaos", "in", "{ type filter hook input priority 0 ; }")
        self.start_node(DATA_PORTS[0])
        for p in DATA_PORTS[1:]:
            self.start_node(p, replica_of=DATA_PORTS[0])
        for p in SENTINEL_PORTS:
            self.start_sentinel(p)
        self.wait(lambda: self.master() == DATA_PORTS[0], 20, "Sentinels")
        # Copies start once both replicas are in sync and every Sentinel knows them.
        self.wait(lambda: all(self.linked(p) for p in DATA_PORTS[1:]), 60, "replica sync")
        self.wait(lambda: all(self.synced_replicas(p) == 2 for p in SENTINEL_PORTS), 60,
                  "replicas known to the Sentinels")
        self.procs.append(Proc([PY, os.path.join(HERE, "chaos_peers.py"), "receiver",
                                "--port", str(RECEIVER_PORT),
                                "--log", os.path.join(self.out, "receiver.log"),
                                "--mode-file", self.mode_file],
                               os.path.join(self.out, "receiver.out")))
        threads = [threading.Thread(target=c.supervise, daemon=True) for c in self.copies.values()]
        for t in threads:
            t.start()
        threading.Thread(target=self.watch, daemon=True).start()
        self.wait(lambda: self.owner() is not None, 60, "an owner")
        t0 = time.time()
        # Publishing stops 45 s before the end; faults 90 s before, so that the last heal
        # and the drain after it fall inside the run.
        publish_s = max(30.0, total - 45)
        n_bursts = max(1, int(a.minutes // 4))
        bursts = ",".join("%.1f:5000" % self.rng.uniform(20, publish_s - 20) for _ in range(n_bursts))
        self.ev("publisher", seconds=publish_s, rate=a.rate, bursts=bursts)
        pub = Proc([PY, os.path.join(HERE, "chaos_peers.py"), "publisher",
                    "--sentinels", ",".join(map(str, SENTINEL_PORTS)),
                    "--nodes", ",".join(map(str, DATA_PORTS)), "--rate", str(a.rate),
                    "--seconds", str(publish_s), "--bursts", bursts,
                    "--log", os.path.join(self.out, "publish.log"),
                    "--reach-log", os.path.join(self.out, "reach.log"),
                    "--ask-dir", os.path.join(self.out, "ask"),
                    "--specials-log", os.path.join(self.out, "specials.log")],
                   os.path.join(self.out, "publisher.out"))
        self.procs.append(pub)
        ft = threading.Thread(target=self.faults, args=(t0 + 15, t0 + total - 90), daemon=True)
        ft.start()
        deadline = t0 + total
        while time.time() < deadline and not self.stopping.is_set():
            time.sleep(1)
        if a.durable:
            self.read_deadletters()
        self.ev("end")

    def read_deadletters(self):
        """tarvex:deadletter as the master holds it now, into deadletter.jsonl: each
        text summed up (size, devicekey seqs, poison marker), not copied."""
        m = self.master()
        if m is None:
            self.ev("failed", error="dead letters: no master")
            return
        n = 0
        try:
            c = Resp(m, 30.0, raw=True)
        except OSError as e:
            self.ev("failed", error="dead letters: %s" % e)
            return
        try:
            with open(os.path.join(self.out, "deadletter.jsonl"), "w") as out:
                start = "-"
                while True:
                    page = c.cmd("XRANGE", "tarvex:deadletter", start, "+",
                                 "COUNT", DEADLETTER_PAGE)
                    if not isinstance(page, list) or not page:
                        break
                    for entry_id, flat in page:
                        out.write(json.dumps(self.dead_letter(entry_id, flat)) + "\n")
                        n += 1
                    start = "(" + page[-1][0].decode()
        except (OSError, ConnectionError, ValueError) as e:
            self.ev("failed", error="dead letters: %s" % e)
        finally:
            c.close()
        self.ev("deadletters", count=n, master=m)

    @staticmethod
    def dead_letter(entry_id, flat):
        def as_text(v):
            return v.decode(errors="replace") if isinstance(v, bytes) else v
        f = dict(zip(flat[::2], flat[1::2])) if isinstance(flat, list) else {}
        text = f.get(b"text") or b""
        reply = f.get(b"reply") or b""
        marker = next((k for k in ("POISON400", "POISON500") if k.encode() in text), None)
        return dict(id=as_text(entry_id), time=as_text(f.get(b"time")),
                    status=as_text(f.get(b"status")), reply_bytes=len(reply),
                    reply_head=reply[:80].decode(errors="replace"), text_bytes=len(text),
                    seqs=[int(x) for x in DEVICEKEY.findall(text)], poison=marker,
                    fields=sorted(as_text(k) for k in f))

    def shutdown(self):
        self.stopping.set()
        for c in self.copies.values():
            with c.lock:
                p = c.proc
            if p is not None:
                p.stop()
        for p in reversed(self.procs):
            p.stop()
        for c in self.copies.values():  # a copy spawned while the loop above ran
            with c.lock:
                if c.proc is not None:
                    c.proc.stop()
        nft("delete", "table", "inet", "chaos")
        self.ev("stopped")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--minutes", type=float, required=True)
    ap.add_argument("--durable", type=int, choices=(0, 1), required=True)
    ap.add_argument("--seed", type=int, required=True)
    ap.add_argument("--asan", type=int, default=0)
    ap.add_argument("--rate", type=float, default=200)
    ap.add_argument("--run-log", type=int, default=0)
    ap.add_argument("--faults", default="", help="comma-separated kinds to draw from")
    ap.add_argument("--binary", required=True)
    ap.add_argument("--out", required=True)
    args = ap.parse_args()
    h = Harness(args)

    interrupted = []

    def on_signal(*_):
        if not interrupted:  # once: a second signal must not cut the shutdown short
            interrupted.append(True)
            raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    rc = 0
    try:
        h.run()
    except KeyboardInterrupt:
        h.ev("interrupted")
        rc = 130
    except Exception as e:  # noqa: BLE001 - logged, then everything is stopped
        h.ev("failed", error=str(e))
        print("chaos_run: %s" % e, file=sys.stderr)
        rc = 1
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        h.shutdown()
    return rc


if __name__ == "__main__":
    sys.exit(main())
