"""End to end: python-can 4.1 and the tools as clients of the daemon."""
import os
import subprocess
import tempfile
import threading
import time

import can

from daemon import Daemon, check

BURST = 100_000


def frames_both_ways(daemon):
    a, b = daemon.bus(), daemon.bus()
    sent = []
    for extended in (False, True):
        for length in range(9):
            ident = (0x1ABCDE00 if extended else 0x700) + length
            sent.append(can.Message(arbitration_id=ident, is_extended_id=extended,
                                    data=bytes(range(0xF0, 0xF0 + length))))
    for message in sent:
        a.send(message)
    got = [b.recv(5) for _ in sent]
    check([(m.arbitration_id, bytes(m.data)) for m in got]
          == [(m.arbitration_id, bytes(m.data)) for m in sent],
          "standard and extended, lengths 0-8, a to b")
    b.send(sent[3])
    back = a.recv(5)
    check(back is not None and back.arbitration_id == sent[3].arbitration_id, "b to a")
    check(a.recv(0.2) is None, "the sender does not get its own frames")
    a.shutdown()
    b.shutdown()


def burst(daemon):
    sender, first, second = daemon.bus("burst"), daemon.bus("burst"), daemon.bus("burst")
    results = {}

    def receive(name, bus):
        numbers = []
        while len(numbers) < BURST:
            message = bus.recv(10)
            if message is None:
                break
            numbers.append(int.from_bytes(message.data, "little"))
        results[name] = numbers

    threads = [threading.Thread(target=receive, args=(n, b))
               for n, b in (("first", first), ("second", second))]
    for thread in threads:
        thread.start()
    for i in range(BURST):
        sender.send(can.Message(arbitration_id=i & 0x7FF, is_extended_id=False,
                                data=i.to_bytes(3, "little")))
    for thread in threads:
        thread.join()
    check(results["first"] == list(range(BURST)), f"a burst of {BURST} arrives complete, in order")
    check(results["second"] == results["first"], "two receivers see the same order")
    for bus in (sender, first, second):
        bus.shutdown()


def tools(daemon, workdir):
    dump = subprocess.Popen([daemon_program(), "dump", "tools", "-n", "3", "--connect",
                             daemon.address], stdout=subprocess.PIPE, text=True)
    logdump = subprocess.Popen([daemon_program(), "dump", "tools", "-L", "-n", "3", "--connect",
                                daemon.address], stdout=subprocess.PIPE, text=True)
    time.sleep(0.3)
    sent = daemon.tool("send", "tools", "123#DEADBEEF", "12345678#", "7FF#R3")
    check(sent.returncode == 0, "send")
    out, _ = dump.communicate(timeout=20)
    check(out == "  tools  123   [4]  DE AD BE EF\n  tools  12345678   [0]\n"
                 "  tools  7FF   [3]  remote request\n", "dump prints candump lines")
    log, _ = logdump.communicate(timeout=20)
    check([line.split(" ", 1)[1] for line in log.splitlines()]
          == ["tools 123#DEADBEEF", "tools 12345678#", "tools 7FF#R3"], "dump -L prints log lines")

    bad = daemon.tool("send", "tools", "123#11", "12#11")
    check(bad.returncode == 2 and '"12#11"' in bad.stderr, "bad notation: exit 2, names the part")

    # play: the log just dumped, onto another bus, with its timing and fast.
    path = os.path.join(workdir, "dumped.log")
    with open(path, "w") as f:
        f.write("(100.000000) x 001#01\n(100.200000) y 002#02\n(100.400000) x 003#03\n")
    bus = daemon.bus("replay")
    start = time.monotonic()
    played = daemon.tool("play", path, "--bus", "replay")
    elapsed = time.monotonic() - start
    got = [bus.recv(5).arbitration_id for _ in range(3)]
    check(played.returncode == 0 and got == [1, 2, 3] and 0.35 < elapsed < 5,
          "play keeps the log's order and timing")
    played = daemon.tool("play", path, "--bus", "replay", "--fast")
    got = [bus.recv(5).arbitration_id for _ in range(3)]
    check(played.returncode == 0 and got == [1, 2, 3], "play --fast")
    with open(path, "a") as f:
        f.write("(101.0) x 1234#11\n")
    played = daemon.tool("play", path, "--bus", "replay", "--fast")
    check(played.returncode == 2 and "line 4" in played.stderr and bus.recv(0.3) is None,
          "a bad log line: exit 2, nothing sent")

    gen = daemon.tool("gen", "replay", "--count", "1000", "--length", "2", "--extended")
    got = [bus.recv(5) for _ in range(1000)]
    check(gen.returncode == 0 and all(m is not None for m in got)
          and [int.from_bytes(m.data, "little") for m in got] == [i & 0xFFFF for i in range(1000)],
          "gen sends its count in order")
    bus.shutdown()


def daemon_program():
    import sys
    return sys.argv[1]


def log_read_back(workdir):
    path = os.path.join(workdir, "bus.log")
    with Daemon("--log", path) as daemon:
        a, b = daemon.bus("logged"), daemon.bus("logged")
        sent = [can.Message(arbitration_id=0x100 + i, is_extended_id=False,
                            data=bytes([i] * (i % 9))) for i in range(50)]
        sent.append(can.Message(arbitration_id=0x18FEF100, is_extended_id=True, data=b"\x01"))
        for message in sent:
            a.send(message)
        for _ in sent:
            b.recv(5)
        summary = daemon.stop()
    read = list(can.LogReader(path))
    check([(m.arbitration_id, m.is_extended_id, bytes(m.data)) for m in read]
          == [(m.arbitration_id, m.is_extended_id, bytes(m.data)) for m in sent],
          "the --log file, read back with can.LogReader, equals what was sent")
    check("bus logged: 51 frames" in summary and "bad messages: 0" in summary,
          "summary at exit")


def log_write_fails():
    # /dev/full: every write fails. The bus goes on; the failure is told
    # once, and the summary counts the lines lost.
    with Daemon("--log", "/dev/full") as daemon:
        a, b = daemon.bus("full"), daemon.bus("full")
        for i in range(20):
            a.send(can.Message(arbitration_id=i, is_extended_id=False, data=b"\x01"))
        got = [b.recv(5) for _ in range(20)]
        a.shutdown()
        b.shutdown()
        summary = daemon.stop()
    check(all(m is not None for m in got), "a log that cannot be written: the bus goes on")
    check(summary.count("cannot write the log /dev/full") == 1
          and "log /dev/full: 20 lines lost" in summary,
          "the log's write error is told once and counted in the summary")


def main():
    with tempfile.TemporaryDirectory() as workdir:
        with Daemon("--queue", "262144") as daemon:
            frames_both_ways(daemon)
            burst(daemon)
            tools(daemon, workdir)
            daemon.stop()
        log_read_back(workdir)
        log_write_fails()


main()
