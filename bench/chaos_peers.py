"""The two outside parties of the chaos soak: the receiver the copies post to and the
publisher that feeds almTopic. Each runs as its own process, started by chaos_run.py:

  chaos_peers.py receiver --port P --log FILE --mode-file FILE
  chaos_peers.py publisher --sentinels P,P,P --nodes P,P,P --rate R --seconds S
                           --bursts T:N,... --log FILE --reach-log FILE

Receiver log, one line per request:  <time> <copy> <status> <count> <seq,seq,...>
  status: 200, 500, reset, stall (client gone before the late reply), refused is
  never logged (no connection is taken).
Publisher log, one line per message: <time> <seq> <reply> <reach>
  reply: subscribers on the master that took the PUBLISH, E (not sent: no master),
  U (sent, no reply); reach: reply plus the subscribers of replicas linked to that
  master at the last sample (copies subscribe on replicas first).
"""
import argparse
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

    def __init__(self, port, timeout=1.0):
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
            return data[:-2].decode(errors="replace")
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
        while len(body) < length:
            chunk = conn.recv(min(1 << 20, length - len(body)))
            if not chunk:
                return None, None
            body += chunk
        return headers, body

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
        reason = {200: "OK", 500: "Internal Server Error"}[code]
        conn.sendall(b"HTTP/1.1 %d %s\r\nContent-Length: %d\r\nConnection: close\r\n\r\n%s"
                     % (code, reason.encode(), len(body), body))

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


def control_text(seq, now):
    return ('[{"classname":"Control","occurtime":"%d","occurms":"%d","devicekey":"K%d",'
            '"appsysid":"3","chardesc":"closed","userattr[0]":"op01","userattr[1]":"WS05",'
            '"groupname":"ST07"}]' % (int(now), int(now * 1000) % 1000, seq))


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

    def publish(self, seqs):
        """PUBLISH one message per seq, pipelined; one log line each."""
        now = time.time()
        c = self.connection()
        lines = []
        if c is None:
            lines = ["%.3f %d E 0\n" % (now, s) for s in seqs]
        else:
            try:
                c.send(b"".join(Resp.encode("PUBLISH", "almTopic", control_text(s, now))
                                for s in seqs))
                sent = True
            except OSError:
                sent = False
            rejected = False
            for s in seqs:
                r = None
                if sent:
                    try:
                        r = c.read()
                    except (OSError, ConnectionError, ValueError):
                        sent = False
                if isinstance(r, int):
                    lines.append("%.3f %d %d %d\n" % (now, s, r, r + self.replica_subs))
                elif isinstance(r, RespError):  # READONLY after a switch-over: not published
                    rejected = True
                    lines.append("%.3f %d E 0\n" % (now, s))
                else:
                    lines.append("%.3f %d U 0\n" % (now, s))
            if not sent or rejected:
                self.drop()
        self.log.writelines(lines)

    def run(self):
        threading.Thread(target=self.sample_reach, daemon=True).start()
        time.sleep(0.5)
        start = time.time()
        seq = 0
        interval = 1.0 / self.rate
        next_at = start
        last_flush = start
        bursts = list(self.bursts)
        while not self.stop.is_set():
            now = time.time()
            if now - start >= self.seconds:
                break
            if bursts and now - start >= bursts[0][0]:
                _, n = bursts.pop(0)
                self.publish(range(seq, seq + n))
                seq += n
            self.publish([seq])
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
    args = ap.parse_args()
    worker = Receiver(args.port, args.log, args.mode_file) if args.what == "receiver" \
        else Publisher(args)
    signal.signal(signal.SIGTERM, lambda *_: worker.stop.set())
    signal.signal(signal.SIGINT, lambda *_: worker.stop.set())
    worker.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
