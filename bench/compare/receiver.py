#!/usr/bin/env python3
"""Loopback receiver for bench/compare.sh: binds 127.0.0.1:FIRST_PORT.. (COUNT ports), counts
the datagrams on each and time-stamps (kernel receive time) those of the first port and the
last. On SIGTERM prints one line: packets on the first port, the least on any port, the p50
and p99 of |interval - PTIME| on the first port in microseconds, the p99 of the
first-to-last spread per packet number in microseconds, and the first interval (between the
first two packets) on the first port and on the last, in milliseconds: a first packet that
leaves late shortens it.

Usage: receiver.py FIRST_PORT COUNT PTIME_MS [poll|wake]. By default (poll) it sleeps on its own
timer and then reads what arrived, so that no sender wakes it: on loopback, waking a receiver
that waits on its sockets is charged to the sender, and how much depends on the sender's
priority (a real-time sender keeps its CPU, so the receiver sleeps on the other one and each
datagram costs an inter-processor wake-up). The receive times are the kernel's either way.
"wake" waits on the sockets, as it did before, and so charges each sender the wake-ups that a
remote receiver never costs it."""
import select, signal, socket, struct, sys, time

SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)
first, count, ptime_ms = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
waits = len(sys.argv) > 4 and sys.argv[4] == "wake"
socks = []
for i in range(count):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
    s.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    s.bind(("127.0.0.1", first + i))
    s.setblocking(False)
    socks.append(s)
counts = [0] * count
stamps = {0: [], count - 1: []}
poller = select.epoll()
index = {}
for i, s in enumerate(socks):
    poller.register(s.fileno(), select.EPOLLIN)
    index[s.fileno()] = i
running = True


def stop(*_):
    global running
    running = False


signal.signal(signal.SIGTERM, stop)
signal.signal(signal.SIGINT, stop)


def drain(events):
    for fd, _ in events:
        i = index[fd]
        while True:
            try:
                data, anc, _, _ = socks[i].recvmsg(2048, 64)
            except BlockingIOError:
                break
            counts[i] += 1
            if i in stamps:
                t = None
                for level, kind, payload in anc:
                    if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS:
                        sec, nsec = struct.unpack("qq", payload[:16])
                        t = sec * 1e6 + nsec / 1e3
                stamps[i].append(t if t is not None else time.time() * 1e6)


while running:
    try:
        if waits:
            drain(poller.poll(0.2))
        else:
            # Nobody waits in epoll_wait meanwhile, so a datagram's arrival wakes no one.
            time.sleep(0.05)
            drain(poller.poll(0))
    except InterruptedError:
        continue
drain(poller.poll(0))


def pct(values, p):
    if not values:
        return float("nan")
    values = sorted(values)
    return values[min(len(values) - 1, int(p / 100.0 * len(values)))]


a = stamps[0]
jitter = [abs((a[k] - a[k - 1]) - ptime_ms * 1000.0) for k in range(2, len(a))]
b = stamps[count - 1]
spread = [abs(b[k] - a[k]) for k in range(min(len(a), len(b)))]
def first_interval(t):
    return (t[1] - t[0]) / 1000.0 if len(t) > 1 else float("nan")


print("%d %d %.1f %.1f %.1f %.2f %.2f" % (counts[0], min(counts), pct(jitter, 50),
                                          pct(jitter, 99), pct(spread, 99), first_interval(a),
                                          first_interval(b)))
