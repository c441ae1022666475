"""The morvantis-bus benchmark (run by scripts/bench-bus.sh): each measure
on a daemon of its own on a free loopback port; prints the table."""
import logging
import multiprocessing
import os
import selectors
import signal
import socket
import subprocess
import sys
import threading
import time

# python-can's socketcand reader logs every message cut across two reads.
logging.getLogger("can.interfaces.socketcand.socketcand").setLevel(logging.ERROR)

BIN = sys.argv[1]
PROGRAM = os.path.join(BIN, "morvantis-bus")
RTT = os.path.join(BIN, "morvantis-bus-rtt")


class Daemon:
    def __init__(self, *options):
        self.process = subprocess.Popen([PROGRAM, "serve", "--listen", "127.0.0.1:0", *options],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        text=True)
        self.port = int(self.process.stdout.readline().strip().rsplit(":", 1)[1])
        self.address = f"127.0.0.1:{self.port}"

    def cpu_seconds(self):
        """User and system CPU time so far."""
        with open(f"/proc/{self.process.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def peak_kb(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
        return 0

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=20)


def waited_cpu(process):
    """Waits for a child; its user and system CPU time."""
    _, _, usage = os.wait4(process.pid, 0)
    process.returncode = 0
    return usage.ru_utime + usage.ru_stime


def tools_throughput(receivers, count):
    """gen -> daemon -> `receivers` x dump -n: frames delivered per second,
    and the CPU time of the daemon, gen and each dump (mean) in the run.
    The queue holds the whole run, so that a receiver that falls behind
    loses nothing and the count ends."""
    daemon = Daemon("--queue", str(count))
    dumps = [subprocess.Popen([PROGRAM, "dump", "tp", "-n", str(count), "--connect",
                               daemon.address], stdout=subprocess.DEVNULL)
             for _ in range(receivers)]
    time.sleep(0.5)  # the receivers are on the bus
    daemon_before = daemon.cpu_seconds()
    start = time.monotonic()
    gen = subprocess.Popen([PROGRAM, "gen", "tp", "--count", str(count), "--length", "8",
                            "--connect", daemon.address])
    dump_cpu = [waited_cpu(dump) for dump in dumps]
    elapsed = time.monotonic() - start
    gen_cpu = waited_cpu(gen)
    daemon_cpu = daemon.cpu_seconds() - daemon_before
    daemon.stop()
    return receivers * count / elapsed, daemon_cpu, gen_cpu, sum(dump_cpu) / len(dump_cpu)


def round_trip(rate, count, plain=False):
    """Through the daemon, or (plain) through a relay with no protocol."""
    daemon = None if plain else Daemon()
    out = subprocess.run([RTT, "--plain" if plain else daemon.address, str(rate), str(count)],
                         capture_output=True, text=True, timeout=120, check=True).stdout.split()
    if daemon:
        daemon.stop()
    figures = dict(zip(out[::2], out[1::2]))
    return float(figures["p50"]), float(figures["p99"]), int(figures["lost"])


def memory(nodes, count):
    """Peak RSS of the daemon: one sender (gen), one node that stops reading,
    the rest reading everything."""
    daemon = Daemon()
    readers = []
    for _ in range(nodes - 2):
        s = socket.create_connection(("127.0.0.1", daemon.port))
        s.sendall(b"< open mem >< rawmode >")
        readers.append(s)
    stalled = socket.create_connection(("127.0.0.1", daemon.port))
    stalled.sendall(b"< open mem >< rawmode >")
    time.sleep(0.5)
    done = threading.Event()

    def drain():
        selector = selectors.DefaultSelector()
        for s in readers:
            s.setblocking(False)
            selector.register(s, selectors.EVENT_READ)
        while not done.is_set():
            for key, _ in selector.select(0.2):
                try:
                    key.fileobj.recv(1 << 20)
                except BlockingIOError:
                    pass

    thread = threading.Thread(target=drain)
    thread.start()
    subprocess.run([PROGRAM, "gen", "mem", "--count", str(count), "--length", "8",
                    "--connect", daemon.address], check=True, timeout=300)
    time.sleep(1)
    peak = daemon.peak_kb()
    done.set()
    thread.join()
    for s in readers + [stalled]:
        s.close()
    daemon.stop()
    return peak / 1024


def python_can_receiver(interface, options, count, ready, result):
    import can
    bus = can.Bus(interface=interface, **options)
    ready.set()
    got = 0
    start = None
    while got < count:
        message = bus.recv(5)
        if message is None:
            break
        if start is None:
            start = time.monotonic()
        got += 1
    result.put((got, time.monotonic() - (start or time.monotonic())))
    bus.shutdown()


def python_can(interface, options, count):
    """One python-can process sends `count` frames as fast as it can, another
    receives them: frames received per second, and how many arrived."""
    import can
    ready = multiprocessing.Event()
    result = multiprocessing.Queue()
    receiver = multiprocessing.Process(target=python_can_receiver,
                                       args=(interface, options, count, ready, result))
    receiver.start()
    ready.wait(10)
    time.sleep(0.3)
    bus = can.Bus(interface=interface, **options)
    for i in range(count):
        bus.send(can.Message(arbitration_id=i & 0x7FF, is_extended_id=False,
                             data=i.to_bytes(8, "little")))
    got, elapsed = result.get(timeout=120)
    receiver.join()
    bus.shutdown()
    return got / elapsed if elapsed > 0 else 0.0, got


def main():
    rows = []

    def cpu(daemon_cpu, gen_cpu, dump_cpu, receivers):
        each = " each" if receivers > 1 else ""
        return (f"; CPU daemon {daemon_cpu:.2f} s, gen {gen_cpu:.2f} s, "
                f"dump {dump_cpu:.2f} s{each}")

    one, *one_cpu = tools_throughput(1, 2_000_000)
    rows.append(("daemon throughput, 1 sender -> 1 receiver (gen -> dump), 2,000,000 frames",
                 f"{one:,.0f} frames/s" + cpu(*one_cpu, 1), ">= 1,000,000 frames/s"))
    eight, *eight_cpu = tools_throughput(8, 500_000)
    rows.append(("daemon throughput, 1 sender -> 8 receivers (gen -> 8 x dump), 500,000 frames",
                 f"{eight:,.0f} deliveries/s" + cpu(*eight_cpu, 8),
                 ">= 1,000,000 deliveries/s"))
    p50, p99, lost = round_trip(10_000, 50_000)
    rows.append(("round trip via an echoing node, 10,000 frames/s, 50,000 frames",
                 f"p50 {p50:.0f} us, p99 {p99:.0f} us" + (f" ({lost} lost)" if lost else ""),
                 "p50 <= 30 us, p99 <= 200 us"))
    p50, p99, lost = round_trip(10_000, 50_000, plain=True)
    rows.append(("the same four hops through a plain relay process, no protocol",
                 f"p50 {p50:.0f} us, p99 {p99:.0f} us" + (f" ({lost} lost)" if lost else ""),
                 "(this machine's floor)"))
    peak = memory(100, 400_000)
    rows.append(("daemon memory, 100 nodes, one reader stalled (peak RSS)", f"{peak:.1f} MB",
                 "< 64 MB"))
    daemon = Daemon("--queue", "262144")
    rate, got = python_can("socketcand", {"channel": "pc", "host": "127.0.0.1",
                                          "port": daemon.port}, 100_000)
    daemon.stop()
    rows.append(("python-can 4.1 through the daemon (socketcand)", f"{rate:,.0f} frames/s"
                 + ("" if got == 100_000 else f" ({100_000 - got} lost)"), "(comparison)"))
    load = ", ".join(f"{value:.1f}" for value in os.getloadavg())
    print(f"\nmorvantis-bus on {os.cpu_count()} cores, loopback, load average {load}")
    print("| measure | result | goal |\n|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")


if __name__ == "__main__":
    main()
