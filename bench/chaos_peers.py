"""The two outside parties of the chaos soak: the receiver the copies post to and the
publisher that feeds almTopic. Each runs as its own process, started by chaos_run.py:

  chaos_peers.py receiver --port P --log FILE --mode-file FILE
  chaos_peers.py publisher --sentinels P,P,P --nodes P,P,P --rate R --seconds S
                           --bursts T:N,... --log FILE --reach-log FILE
                           [--ask-dir DIR --specials-log FILE]

Receiver log, one line per request:  <time> <copy> <status> <count> <seq,seq,...>
  status: 200, 400, 401, 500, reset, stall (client gone before the late reply),
  refused is never logged (no connection is taken). Mode file: ok, refuse, 500, 401,
  stall, reset. In modes ok and stall a document holding POISON400 is answered 400
  with a 1 MiB body, and one holding POISON500 is answered 500.
Publisher log, one line per record: <time> <seq> <reply> <reach> [<tag>]
  reply: subscribers on the master that took the PUBLISH, E (not sent: no master),
  U (sent, no reply); reach: reply plus the subscribers of replicas linked to that
  master at the last sample (copies subscribe on replicas first); tag: huge,
  poison400 or poison500 for the records of a text asked for through --ask-dir.
Asks: each file DIR/<name>.json ({"id": fault id, "kind": "huge"|"poison400"|
  "poison500", "shape": ..., "bytes": N}) is published at once and removed; specials
  log, one line per text: <time> <id> <kind> <shape> <bytes> <first seq|-> <records>
  <reach|E|U>.
"""
import argparse
import json
import os
import re
import select
import signal
import socket
import struct
import sys
import threading
import time

# ---------------------------------------------------------------- RESP client


class RespError(Exception):
    pass


class Resp:
    """A blocking RESP2 connection to 127.0.0.1:port."""

    def __init__(self, port, timeout=1.0, raw=False):
        self.raw = raw  # bulk strings as bytes rather than text
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.rf = self.sock.makefile("rb")

    def close(self):
        try:
            self.rf.close()
            self.sock.close()
        except OSError:
            pass

    @staticmethod
    def encode(*args):
        out = [b"*%d\r\n" % len(args)]
        for a in args:
            b = a if isinstance(a, bytes) else str(a).encode()
            out.append(b"$%d\r\n%s\r\n" % (len(b), b))
        return b"".join(out)

    def send(self, data):
        self.sock.sendall(data)

    def read(self):
        line = self.rf.readline()
        if not line:
            raise ConnectionError("closed")
        kind, rest = line[:1], line[1:-2]
        if kind == b"+":
            return rest.decode()
        if kind == b"-":
            return RespError(rest.decode())
        if kind == b":":
            return int(rest)
        if kind == b"$":
            n = int(rest)
            if n < 0:
                return None
            data = self.rf.read(n + 2)
            if len(data) != n + 2:
                raise ConnectionError("short read")
            return data[:-2] if self.raw else data[:-2].decode(errors="replace")
        if kind == b"*":
            n = int(rest)
            return None if n < 0 else [self.read() for _ in range(n)]
        raise ConnectionError("bad reply %r" % line[:40])

    def cmd(self, *args):
        self.send(self.encode(*args))
        return self.read()


def one_command(port, *args, timeout=0.5):
    """The reply of one command on a fresh connection, None when nobody answers."""
    try:
        c = Resp(port, timeout)
    except OSError:
        return None
    try:
        return c.cmd(*args)
    except (OSError, ConnectionError, ValueError):
        return None
    finally:
        c.close()


def master_port(sentinel_ports, name="mymaster"):
    """The master's port as the first answering Sentinel names it, or None."""
    for p in sentinel_ports:
        r = one_command(p, "SENTINEL", "get-master-addr-by-name", name)
        if isinstance(r, list) and len(r) == 2:
            return int(r[1])
    return None


# ---------------------------------------------------------------- receiver

GUID = re.compile(rb'"guid"\s*:\s*"[^"]*?:K(\d+):Control"')
POISON_400 = b"POISON400"  # in a record's description: this document is refused, 400
POISON_500 = b"POISON500"  # in a record's description: this document fails, 500
REJECT_BODY = b"rejected: record marked " + POISON_400 + b"\n" + b"r" * (1 << 20)
REASONS = {200: "OK", 400: "Bad Request", 401: "Unauthorized", 500: "Internal Server Error"}


class Receiver:
    def __init__(self, port, log_path, mode_file):
        self.port = port
        self.mode_file = mode_file
        self.mode = "ok"
        self.log = open(log_path, "a", buffering=1)
        self.lock = threading.Lock()
        self.listener = None
        self.stop = threading.Event()

    def write(self, copy, status, seqs):
        with self.lock:
            self.log.write("%.3f %s %s %d %s\n" % (time.time(), copy or "-", status, len(seqs),
                                                  ",".join(seqs) or "-"))

    def open_listener(self):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind(("127.0.0.1", self.port))
        s.listen(1024)
        self.listener = s
        threading.Thread(target=self.accept_loop, args=(s,), daemon=True).start()

    def close_listener(self):
        s, self.listener = self.listener, None
        if s is not None:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

    def accept_loop(self, s):
        while not self.stop.is_set():
            try:
                conn, _ = s.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(conn,), daemon=True).start()

    @staticmethod
    def read_request(conn):
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = conn.recv(65536)
            if not chunk:
                return None, None
            data += chunk
            if len(data) > 1 << 20:
                return None, None
        head, body = data.split(b"\r\n\r\n", 1)
        headers = {}
        for line in head.split(b"\r\n")[1:]:
            k, _, v = line.partition(b":")
            headers[k.strip().lower()] = v.strip()
        length = int(headers.get(b"content-length", b"0"))
        body = bytearray(body)  # documents of a huge text run to tens of MB
        while len(body) < length:
            chunk = conn.recv(min(1 << 20, length - len(body)))
            if not chunk:
                return None, None
            body += chunk
        return headers, bytes(body)

    def serve(self, conn):
        conn.settimeout(60)
        try:
            headers, body = self.read_request(conn)
            if headers is None:
                return
            copy = headers.get(b"x-tarvex-copy", b"-").decode(errors="replace")
            seqs = [m.decode() for m in GUID.findall(body)]
            mode = self.mode
            if mode == "reset":
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                self.write(copy, "reset", seqs)
                return
            if mode == "500":
                self.reply(conn, 500, b"busy")
                self.write(copy, "500", seqs)
                return
            if mode == "401":
                self.reply(conn, 401, b"credentials refused")
                self.write(copy, "401", seqs)
                return
            # Checked before a stall: a poison document is never answered 200.
            if POISON_400 in body:
                self.reply(conn, 400, REJECT_BODY)
                self.write(copy, "400", seqs)
                return
            if POISON_500 in body:
                self.reply(conn, 500, b"failed on " + POISON_500)
                self.write(copy, "500", seqs)
                return
            if mode == "stall":
                deadline = time.time() + 20
                while time.time() < deadline and not self.stop.is_set():
                    r, _, _ = select.select([conn], [], [], 0.5)
                    if r and conn.recv(1, socket.MSG_PEEK) == b"":
                        self.write(copy, "stall", seqs)
                        return
            self.reply(conn, 200, b"ok")
            self.write(copy, "200", seqs)
        except OSError:
            pass
        finally:
            conn.close()

    @staticmethod
    def reply(conn, code, body):
        extra = b"WWW-Authenticate: Basic realm=\"chaos\"\r\n" if code == 401 else b""
        conn.sendall(b"HTTP/1.1 %d %s\r\n%sContent-Length: %d\r\nConnection: close\r\n\r\n%s"
                     % (code, REASONS[code].encode(), extra, len(body), body))

    def run(self):
        self.open_listener()
        while not self.stop.is_set():
            try:
                with open(self.mode_file) as f:
                    mode = f.read().strip() or "ok"
            except OSError:
                mode = "ok"
            if mode != self.mode:
                if mode == "refuse":
                    self.close_listener()
                elif self.mode == "refuse":
                    self.open_listener()
                self.mode = mode
            self.stop.wait(0.1)
        self.close_listener()


# ---------------------------------------------------------------- publisher


HUGE_NUMBERS = 8000000     # numbers in the numbers-only huge text: 16 MB
POISON_NEIGHBOURS = 10     # ordinary texts pipelined on each side of a poison text
SPECIAL_TIMEOUT_S = 20.0   # socket time-out while a huge text goes out
ASK_POLL_S = 0.1           # how often the ask directory is looked at


def control_record(seq, now, chardesc="closed"):
    return ('{"classname":"Control","occurtime":"%d","occurms":"%d","devicekey":"K%d",'
            '"appsysid":"3","chardesc":"%s","userattr[0]":"op01","userattr[1]":"WS05",'
            '"groupname":"ST07"}' % (int(now), int(now * 1000) % 1000, seq, chardesc))


def control_text(seq, now):
    return "[" + control_record(seq, now) + "]"


def special_texts(ask, seq, now):
    """The texts of one ask as (text, seqs, tag) in publishing order, and the next seq.

    poison400/poison500: one record whose description holds the marker, between
      POISON_NEIGHBOURS ordinary texts on each side (pipelined, so that they share
      its batch; only the poison one is tagged).
    huge, shape numbers: [0,0,...,0,"Control"], HUGE_NUMBERS numbers, no record.
    huge, shape records: ordinary records with their own seqs, up to ask["bytes"].
    huge, shape long_text: one record whose description fills ask["bytes"].
    """
    kind = ask["kind"]
    if kind in ("poison400", "poison500"):
        items = []
        for i in range(2 * POISON_NEIGHBOURS + 1):
            if i == POISON_NEIGHBOURS:
                text = "[" + control_record(seq, now, kind.upper() + " refused on its own") + "]"
                items.append((text, [seq], kind))
            else:
                items.append((control_text(seq, now), [seq], None))
            seq += 1
        return items, seq
    shape, size = ask["shape"], int(ask["bytes"])
    if shape == "numbers":
        return [("[" + "0," * HUGE_NUMBERS + '"Control"]', [], "huge")], seq
    if shape == "long_text":
        filler = "long description "
        desc = (filler * (size // len(filler) + 1))[:size]
        return [("[" + control_record(seq, now, desc) + "]", [seq], "huge")], seq + 1
    parts, seqs, n = [], [], 2
    while n < size:
        r = control_record(seq, now)
        parts.append(r)
        seqs.append(seq)
        seq += 1
        n += len(r) + 1
    return [("[" + ",".join(parts) + "]", seqs, "huge")], seq


class Publisher:
    def __init__(self, args):
        self.sentinels = [int(p) for p in args.sentinels.split(",")]
        self.nodes = [int(p) for p in args.nodes.split(",")]
        self.rate = args.rate
        self.seconds = args.seconds
        self.bursts = sorted((float(t), int(n)) for t, n in
                             (b.split(":") for b in args.bursts.split(",") if b))
        self.log = open(args.log, "a")
        self.reach_log = open(args.reach_log, "a", buffering=1)
        self.ask_dir = args.ask_dir
        self.specials = open(args.specials_log, "a", buffering=1) if args.specials_log else None
        self.replica_subs = 0
        self.master = None
        self.conn = None
        self.stop = threading.Event()

    def sample_reach(self):
        """Every 200 ms: subscribers on the replicas that are linked to the master."""
        while not self.stop.is_set():
            master = master_port(self.sentinels)
            subs = 0
            detail = []
            for p in self.nodes:
                if p == master:
                    continue
                info = one_command(p, "INFO", "replication", timeout=0.3)
                if not isinstance(info, str):
                    continue
                fields = dict(l.split(":", 1) for l in info.splitlines() if ":" in l)
                linked = (fields.get("role") == "slave" and fields.get("master_link_status") == "up"
                          and fields.get("master_port") == str(master))
                n = one_command(p, "PUBSUB", "NUMSUB", "almTopic", timeout=0.3)
                k = int(n[1]) if isinstance(n, list) and len(n) == 2 else 0
                detail.append("%d:%d:%s" % (p, k, "up" if linked else "down"))
                if linked:
                    subs += k
            self.replica_subs = subs
            self.reach_log.write("%.3f %s %d %s\n" % (time.time(), master, subs, " ".join(detail)))
            self.stop.wait(0.2)

    def connection(self):
        if self.conn is not None:
            return self.conn
        port = master_port(self.sentinels)
        if port is None:
            return None
        try:
            c = Resp(port, 1.0)
            role = c.cmd("ROLE")
            if not isinstance(role, list) or role[0] != "master":
                c.close()
                return None
        except (OSError, ConnectionError):
            return None
        self.conn, self.master = c, port
        return c

    def drop(self):
        if self.conn is not None:
            self.conn.close()
        self.conn = None

    def publish(self, items, timeout=None):
        """PUBLISH each (text, seqs, tag), pipelined; one log line per seq. Returns the
        replies in order: a subscriber count, "E" (not sent) or "U" (no reply)."""
        now = time.time()
        c = self.connection()
        replies = []
        if c is None:
            replies = ["E"] * len(items)
        else:
            if timeout:
                c.sock.settimeout(timeout)
            try:
                c.send(b"".join(Resp.encode("PUBLISH", "almTopic", text) for text, _, _ in items))
                sent = True
            except OSError:
                sent = False
            rejected = False
            for _ in items:
                r = None
                if sent:
                    try:
                        r = c.read()
                    except (OSError, ConnectionError, ValueError):
                        sent = False
                if isinstance(r, int):
                    replies.append(r)
                elif isinstance(r, RespError):  # READONLY after a switch-over: not published
                    rejected = True
                    replies.append("E")
                else:
                    replies.append("U")
            if not sent or rejected:
                self.drop()
            elif timeout:
                c.sock.settimeout(1.0)
        lines = []
        for (_, seqs, tag), r in zip(items, replies):
            head = "%d %d" % (r, r + self.replica_subs) if isinstance(r, int) else "%s 0" % r
            tail = " " + tag if tag else ""
            lines.extend("%.3f %d %s%s\n" % (now, s, head, tail) for s in seqs)
        self.log.writelines(lines)
        return replies

    def publish_seqs(self, seqs):
        now = time.time()
        self.publish([(control_text(s, now), [s], None) for s in seqs])

    def take_asks(self, seq):
        """Publishes what the harness asked for; returns the next seq."""
        try:
            names = sorted(n for n in os.listdir(self.ask_dir) if n.endswith(".json"))
        except OSError:
            return seq
        for name in names:
            path = os.path.join(self.ask_dir, name)
            try:
                with open(path) as f:
                    ask = json.load(f)
                os.remove(path)
            except (OSError, ValueError):
                continue
            now = time.time()
            items, next_seq = special_texts(ask, seq, now)
            replies = self.publish(items, timeout=SPECIAL_TIMEOUT_S)
            for (text, seqs, tag), r in zip(items, replies):
                r = r + self.replica_subs if isinstance(r, int) else r
                if tag and self.specials:
                    self.specials.write("%.3f %s %s %s %d %s %d %s\n" % (
                        now, ask.get("id", "-"), ask["kind"], ask.get("shape", "-"), len(text),
                        seqs[0] if seqs else "-", len(seqs), r))
            seq = next_seq
        return seq

    def run(self):
        threading.Thread(target=self.sample_reach, daemon=True).start()
        time.sleep(0.5)
        start = time.time()
        seq = 0
        interval = 1.0 / self.rate
        next_at = start
        last_flush = start
        last_ask = start
        bursts = list(self.bursts)
        while not self.stop.is_set():
            now = time.time()
            if now - start >= self.seconds:
                break
            if bursts and now - start >= bursts[0][0]:
                _, n = bursts.pop(0)
                self.publish_seqs(range(seq, seq + n))
                seq += n
            if self.ask_dir and now - last_ask >= ASK_POLL_S:
                last_ask = now
                seq = self.take_asks(seq)
            self.publish_seqs([seq])
            seq += 1
            next_at = max(next_at + interval, time.time() - 1.0)
            if now - last_flush >= 1.0:
                self.log.flush()
                last_flush = now
            delay = next_at - time.time()
            if delay > 0:
                time.sleep(delay)
        self.log.flush()
        self.stop.set()


def main():
    ap = argparse.ArgumentParser()
    sub = ap.add_subparsers(dest="what", required=True)
    r = sub.add_parser("receiver")
    r.add_argument("--port", type=int, required=True)
    r.add_argument("--log", required=True)
    r.add_argument("--mode-file", required=True)
    p = sub.add_parser("publisher")
    p.add_argument("--sentinels", required=True)
    p.add_argument("--nodes", required=True)
    p.add_argument("--rate", type=float, default=200)
    p.add_argument("--seconds", type=float, required=True)
    p.add_argument("--bursts", default="")
    p.add_argument("--log", required=True)
    p.add_argument("--reach-log", required=True)
    p.add_argument("--ask-dir", default="")
    p.add_argument("--specials-log", default="")
    args = ap.parse_args()
    worker = Receiver(args.port, args.log, args.mode_file) if args.what == "receiver" \
        else Publisher(args)
    signal.signal(signal.SIGTERM, lambda *_: worker.stop.set())
    signal.signal(signal.SIGINT, lambda *_: worker.stop.set())
    worker.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
