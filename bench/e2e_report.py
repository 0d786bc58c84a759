#!/usr/bin/env python3
"""Side-by-side summary of one run of bench/e2e_bench.sh, and its picture.

Reads the figures file the driver appends to ("<label> <key> <value>" lines; labels
memory, durable, durable3, sweep-memory, sweep-durable) and prints the "(s)" lines:
durable delivery against the in-memory queue from the same run, each with its aim.
With --plot PNG it also draws latency, CPU per record and documents per second
against the publish rate from the sweep passes (needs matplotlib).

    e2e_report.py FIGURES [--plot PNG]

Exit status 0 when the summary could be printed (missing passes are named, not
fatal), 1 when --plot found no sweep figures, 2 on a bad command line or an
unreadable file.
"""
import argparse
import collections
import sys

PER_RECORDS = 100000      # CPU figures are per this many records

# Aims for durable delivery, from the run's in-memory figures.
AIM_SERVICE_CPU = 1.5     # at 2,000 msg/s, durable / in-memory
AIM_REDIS_CPU = 2.0       # at 2,000 msg/s, durable / in-memory
AIM_DOCUMENTS = 1.2       # at 2,000 msg/s, documents per record, durable / in-memory
AIM_P99_MS = 55.0         # at 2,000 msg/s, durable p99 latency
AIM_DRAIN = 0.5           # flat out, durable drain / in-memory drain
AIM_RSS_MB = 24.0         # flat out, durable peak RSS
AIM_THREE_COPIES = 3.0    # Redis CPU of three durable copies / one in-memory owner


def load(path):
    figures = collections.defaultdict(dict)
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 3:
                figures[parts[0]][parts[1]] = float(parts[2])
    return figures


def per100k(fig, phase, what):
    records = fig.get(phase + ".received", 0)
    return fig.get("%s.%s" % (phase, what), 0) * PER_RECORDS / records if records else 0.0


def n(value):
    """A count or rate with thousands separators."""
    return "{:,.0f}".format(value)


def verdict(ok):
    return "met" if ok else "NOT MET"


def ratio_text(num, den):
    return "%.2fx" % (num / den) if den else "n/a"


def summary(figs):
    lines = []
    mem, dur, three = figs.get("memory"), figs.get("durable"), figs.get("durable3")
    if mem is None or dur is None:
        return ["(s) no side-by-side summary: the in-memory or the durable pass is missing"]
    rate = "%s msg/s" % n(mem.get("c.rate", 2000))
    lines.append("(s) DURABLE AGAINST IN-MEMORY, same run (durable / in-memory = ratio):")

    for what, name, aim in (("service_cpu_s", "service CPU", AIM_SERVICE_CPU),
                            ("redis_cpu_s", "Redis CPU", AIM_REDIS_CPU)):
        d, m = per100k(dur, "c", what), per100k(mem, "c", what)
        lines.append("(s) at %s, %s per 100,000 records: %.2f s / %.2f s = %s (aim <= %gx: %s)"
                     % (rate, name, d, m, ratio_text(d, m), aim,
                        verdict(m > 0 and d / m <= aim)))

    d, m = per100k(dur, "c", "documents"), per100k(mem, "c", "documents")
    lines.append("(s) at %s, documents: %s / %s for %s / %s records = %s per record "
                 "(aim <= %gx: %s)"
                 % (rate, n(dur.get("c.documents", 0)), n(mem.get("c.documents", 0)),
                    n(dur.get("c.received", 0)), n(mem.get("c.received", 0)), ratio_text(d, m),
                    AIM_DOCUMENTS, verdict(m > 0 and d / m <= AIM_DOCUMENTS)))

    lines.append("(s) at %s, latency p99: %.1f ms / %.1f ms (aim: durable <= %g ms: %s); "
                 "p50 %.1f ms / %.1f ms"
                 % (rate, dur.get("c.p99_ms", 0), mem.get("c.p99_ms", 0), AIM_P99_MS,
                    verdict(dur.get("c.p99_ms", 1e9) <= AIM_P99_MS), dur.get("c.p50_ms", 0),
                    mem.get("c.p50_ms", 0)))

    d, m = dur.get("a.drain_rate", 0), mem.get("a.drain_rate", 0)
    lines.append("(s) flat out, drain: %s / %s records/s = %s (aim >= %gx: %s)"
                 % (n(d), n(m), ratio_text(d, m), AIM_DRAIN, verdict(m > 0 and d / m >= AIM_DRAIN)))

    def loss(fig):
        published = fig.get("a.published", 0)
        return published - fig.get("a.received_at_end", fig.get("a.received", 0)), published
    dl, dp = loss(dur)
    ml, mp = loss(mem)
    lines.append("(s) flat out, loss: %s of %s / %s of %s (%.0f %%; aim: durable 0: %s)"
                 % (n(dl), n(dp), n(ml), n(mp), 100.0 * ml / mp if mp else 0, verdict(dp > 0 and dl == 0)))

    d, m = dur.get("a.vmhwm_mb", 0), mem.get("a.vmhwm_mb", 0)
    lines.append("(s) flat out, peak RSS (VmHWM after the drain): %.1f MB / %.1f MB "
                 "(aim: durable <= %g MB: %s)"
                 % (d, m, AIM_RSS_MB, verdict(0 < d <= AIM_RSS_MB)))

    if three is None:
        lines.append("(s) three copies: no figures (the pass was skipped or failed)")
        return lines
    t, m = per100k(three, "c", "redis_cpu_s"), per100k(mem, "c", "redis_cpu_s")
    lines.append("(s) three durable copies at %s, Redis CPU per 100,000 records: %.2f s / "
                 "%.2f s (one in-memory owner) = %s (aim <= %gx: %s)"
                 % (rate, t, m, ratio_text(t, m), AIM_THREE_COPIES,
                    verdict(m > 0 and t / m <= AIM_THREE_COPIES)))
    lines.append("(s) three durable copies at %s, CPU per 100,000 records: owner %.2f s, "
                 "both standbys %.2f s; %s documents for %s records; p99 %.1f ms"
                 % (rate, per100k(three, "c", "service_cpu_s"),
                    per100k(three, "c", "standby_cpu_s"), n(three.get("c.documents", 0)),
                    n(three.get("c.received", 0)), three.get("c.p99_ms", 0)))
    return lines


def sweep(fig):
    """[(rate, p50, p99, service CPU, Redis CPU per 100k, documents/s)], by rate."""
    rows = []
    for key in fig:
        if key.startswith("p") and key.endswith(".rate"):
            p = key[:-len(".rate")]
            seconds = fig.get(p + ".seconds", 0)
            rows.append((fig[key], fig.get(p + ".p50_ms", 0), fig.get(p + ".p99_ms", 0),
                         per100k(fig, p, "service_cpu_s"), per100k(fig, p, "redis_cpu_s"),
                         fig.get(p + ".documents", 0) / seconds if seconds else 0))
    return sorted(rows)


def plot(figs, out):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib import ticker

    fig, (lat, cpu, docs) = plt.subplots(1, 3, figsize=(15, 4.8))
    modes = (("sweep-memory", "in-memory", "tab:blue"), ("sweep-durable", "durable", "tab:red"))
    rates = set()
    for label, name, colour in modes:
        rows = sweep(figs.get(label, {}))
        rate = [r[0] for r in rows]
        rates.update(rate)
        lat.plot(rate, [r[1] for r in rows], "o-", color=colour, label=name + " p50")
        lat.plot(rate, [r[2] for r in rows], "s--", color=colour, label=name + " p99")
        cpu.plot(rate, [r[3] for r in rows], "o-", color=colour, label=name + ", service")
        cpu.plot(rate, [r[4] for r in rows], "s--", color=colour, label=name + ", Redis")
        docs.plot(rate, [r[5] for r in rows], "o-", color=colour, label=name)
    three = figs.get("durable3")
    if three is not None:
        rate = three.get("c.rate", 2000)
        lat.plot([rate], [three.get("c.p99_ms", 0)], "kx", label="three durable copies p99")
        cpu.plot([rate], [per100k(three, "c", "redis_cpu_s")], "kx",
                 label="three durable copies, Redis")
        cpu.plot([rate], [per100k(three, "c", "service_cpu_s")], "k+",
                 label="three durable copies, owner")
    if not rates:
        print("e2e_report: no sweep figures to draw", file=sys.stderr)
        return False
    plain = ticker.FuncFormatter(lambda v, _: "%g" % v)
    for ax in (lat, cpu, docs):
        ax.set_xscale("log")
        ax.set_xticks(sorted(rates))
        ax.xaxis.set_major_formatter(plain)
        ax.xaxis.set_minor_formatter(ticker.NullFormatter())
        ax.set_xlabel("publish rate (one-record messages/s)")
        ax.grid(True, which="both", alpha=0.3)
        ax.legend(fontsize=8)
    lat.set_yscale("log")
    lat.set_ylabel("latency, publish to receiver (ms)")
    lat.set_title("Latency")
    cpu.set_ylabel("CPU seconds per 100,000 records")
    cpu.set_title("CPU per record")
    docs.set_yscale("log")
    docs.set_ylabel("documents (POST requests) per second")
    docs.set_title("Documents")
    for ax in (lat, docs):
        ax.yaxis.set_major_locator(ticker.LogLocator(subs=(1, 2, 5)))
        ax.yaxis.set_major_formatter(plain)
        ax.yaxis.set_minor_formatter(ticker.NullFormatter())
    fig.suptitle("tarvex end to end: in-memory queue and durable delivery, same run")
    fig.tight_layout()
    fig.savefig(out, dpi=110)
    print("e2e_report: picture in %s" % out)
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("figures")
    parser.add_argument("--plot", metavar="PNG")
    args = parser.parse_args()
    try:
        figs = load(args.figures)
    except OSError as e:
        print("e2e_report: %s" % e, file=sys.stderr)
        return 2
    for line in summary(figs):
        print(line)
    if args.plot and not plot(figs, args.plot):
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
