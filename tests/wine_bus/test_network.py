#!/usr/bin/python3
"""The simulated driver's network mode under Wine, end to end: two Windows
applications (bus_node.exe on the real morvantis.dll and the simulated
VCAND32.DLL, MORVANTIS_BUS set) and python-can 4.1 as nodes of a
morvantis-bus bus on a free loopback port.

    /usr/bin/python3 test_network.py --node bus_node.exe --daemon morvantis-bus \\
        --wine-run scripts/wine-run

Node A runs without a settings file (its channel takes every frame), node B
with acceptance filters in its MORVANTIS.INI. Prints one line per check and
"N passed, N failed"; exits 0 when all passed.
"""
import argparse
import logging
import os
import queue
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time

import can

# python-can's socketcand reader warns about every remote frame it skips.
logging.getLogger("can.interfaces.socketcand.socketcand").setLevel(logging.ERROR)

PATTERN = "E0E1E2E3E4E5E6E7"  # what a read record holds beyond the frame's length
OFFLINE_BOX = ("Could not ActivateChannel\\n Reason: PORT_IS_OFFLINE (e.g. CANCAB not "
               "connected) (code 113) !")
QUEUE = 1024  # the library's receive queue, in events
MEMORY_SLACK = 1 << 20  # bytes the node may grow by over a flood it does not read


def sequence_frame(i):
    """Frame i of the test sequence as bus_node.cpp computes it:
    (extended, identifier, data)."""
    extended = i % 3 == 1
    ident = (0x10000000 | ((i * 0x9E3779B1) & 0x0FFFFFFF)) if extended else (i * 0x2D) & 0x7FF
    data = bytes(((i >> (8 * (k % 4))) ^ (0xA5 + 0x3B * k)) & 0xFF for k in range(i % 9))
    return extended, ident, data


def notation(extended, ident, data):
    """A data frame as the daemon's candump -L log writes it."""
    return f"{ident:0{8 if extended else 3}X}#{data.hex().upper()}"


def message(extended, ident, data):
    return can.Message(arbitration_id=ident, is_extended_id=extended, data=data)


class Failed(Exception):
    pass


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def __call__(self, condition, what, detail=""):
        if condition:
            self.passed += 1
            print("ok:", what, flush=True)
        else:
            self.failed += 1
            print("FAILED:", what, detail, flush=True)
        return condition


class Daemon:
    """morvantis-bus serve on 127.0.0.1 (PORT 0: a free port), logging every
    frame; its standard error (the summaries) goes to a file."""

    def __init__(self, program, workdir, port=0):
        self.errors_path = os.path.join(workdir, f"daemon-{port}.err")
        self.log_path = os.path.join(workdir, f"bus-{port}.log")
        with open(self.errors_path, "wb") as errors:
            self.process = subprocess.Popen(
                [program, "serve", "--listen", f"127.0.0.1:{port}", "--log", self.log_path],
                stdout=subprocess.PIPE, stderr=errors, text=True)
        first = self.process.stdout.readline().strip()
        if not first.startswith("listening on 127.0.0.1:"):
            self.kill()
            raise Failed(f"morvantis-bus did not start: {first!r}")
        self.port = int(first.rsplit(":", 1)[1])

    def bus(self):
        return can.Bus(interface="socketcand", channel="vcan0", host="127.0.0.1",
                       port=self.port)

    def summary(self):
        """The summary the daemon writes on SIGUSR1: {bus: (frames, nodes)}."""
        done = os.path.getsize(self.errors_path)
        self.process.send_signal(signal.SIGUSR1)
        end = time.monotonic() + 5
        while time.monotonic() < end:
            with open(self.errors_path) as errors:
                errors.seek(done)
                text = errors.read()
            if "bad messages:" in text:
                return {bus: (int(frames), int(nodes)) for bus, frames, nodes in re.findall(
                    r"bus (\S+): (\d+) frames, (\d+) nodes?", text)}
            time.sleep(0.02)
        raise Failed("no summary from the daemon")

    def logged(self, count):
        """The last `count` frames of the log, in notation, once the log
        holds every frame the bus has carried."""
        carried = self.summary()["vcan0"][0]
        end = time.monotonic() + 5
        while True:
            with open(self.log_path) as log:
                lines = [line.split()[2] for line in log if line.strip()]
            if len(lines) >= carried or time.monotonic() > end:
                return lines[-count:]
            time.sleep(0.05)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=20)

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class Node:
    """bus_node.exe under Wine in `workdir`, on the bus at `port`."""

    def __init__(self, name, args, workdir, port):
        self.name = name
        env = dict(os.environ, MORVANTIS_BUS=f"127.0.0.1:{port}/vcan0")
        self.process = subprocess.Popen([args.wine_run, args.node], cwd=workdir, env=env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True, bufsize=1)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\r\n"))
        self.lines.put(None)

    def line(self, timeout):
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise Failed(f"node {self.name}: no answer within {timeout} s") from None
        if line is None:
            raise Failed(f"node {self.name} ended")
        return line

    def tell(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()

    def ask(self, command, timeout=10):
        self.tell(command)
        return self.line(timeout)

    def ready(self):
        if self.line(60) != "ready":
            raise Failed(f"node {self.name} did not start")

    def quit(self):
        self.tell("quit")
        self.process.wait(timeout=20)

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class Receiver(threading.Thread):
    """Takes up to `count` frames from python-can as (identifier, data),
    while the sender sends. python-can 4.1 loses a frame whose text it gets
    in three or more pieces (a read that ends no message drops a character
    of it): keeping up with the sender keeps the daemon's writes whole."""

    def __init__(self, bus, count):
        super().__init__(daemon=True)
        self.bus = bus
        self.count = count
        self.got = []
        self.start()

    def run(self):
        while len(self.got) < self.count:
            frame = self.bus.recv(5)
            if frame is None:
                break
            self.got.append((frame.arbitration_id, bytes(frame.data)))

    def result(self):
        self.join()
        return self.got


def read_many(node, first, count):
    """Frames first.. of the sequence, read and compared by the node."""
    node.tell(f"readmany {first} {count} 5000 {count}")
    line = node.line(10)
    while line.startswith("progress "):
        line = node.line(10)
    return line


def run(args, check, workdir):
    dirs = {name: os.path.join(workdir, name) for name in ("a", "b")}
    for path in dirs.values():
        os.mkdir(path)
    # B takes standard identifiers 120-12F and extended ones 18FEF100-18FEF1FF.
    with open(os.path.join(dirs["b"], "MORVANTIS.INI"), "w", newline="\r\n") as ini:
        ini.write("[MORVANTIS]\nGLOBALMASKSTD=0x7F0\nGLOBALCODESTD=0x120\n"
                  "GLOBALMASKXTD=0x1FFFFF00\nGLOBALCODEXTD=0x18FEF100\n")
    daemon = Daemon(args.daemon, workdir)
    cleanup = [daemon.kill]
    try:
        a = Node("A", args, dirs["a"], daemon.port)
        cleanup.append(a.kill)
        b = Node("B", args, dirs["b"], daemon.port)
        cleanup.append(b.kill)
        a.ready()
        b.ready()
        for node in (a, b):
            result, _, *boxes = node.ask("init").split("\t")
            check(result == "0" and not boxes, f"CAN_Init of {node.name} joins the bus",
                  f"{result} {boxes}")
        peer = daemon.bus()
        check(daemon.summary().get("vcan0", (0, 0))[1] == 3, "the daemon counts 3 nodes")

        # Acceptance filters from B's settings file, on frames from the bus;
        # A takes them all.
        filtered = [(0x100, False, False), (0x12F, False, True), (0x18FEF200, True, False),
                    (0x120, False, True), (0x18FEF1AB, True, True), (0x7FF, False, False),
                    (0x1FFFFFFF, True, False), (0x12A, False, True)]
        for ident, extended, _ in filtered:
            peer.send(message(extended, ident, b"\x01"))
        passed = []
        while 0x12A not in passed:
            result, _, ident, *_ = b.ask("read ext 2000").split()
            if result != "0":
                break
            passed.append(int(ident, 16) & 0x1FFFFFFF)
        check(passed == [ident for ident, _, passes in filtered if passes],
              "B's settings file filters the frames from the bus", passed)
        check(a.ask("drain 300") == f"{len(filtered)} 0", "A without settings takes every frame")

        # Remote frames between the two applications: the record reads like
        # a data frame of the request's length, with no data.
        remote = [(a, b, "rtr", "std", 0x123, 3, "000000E3E4E5E6E7"),
                  (a, b, "extrtr", "ext", 0x18FEF1FF, 8, "0000000000000000"),
                  (b, a, "rtr", "std", 0x7FF, 0, PATTERN),
                  (b, a, "extrtr", "ext", 0x1FFFFFFF, 5, "0000000000E5E6E7")]
        wrong = []
        for sender, receiver, kind, read, ident, length, data in remote:
            sent = sender.ask(f"send {kind} {ident:X} {length} 1122334455667788")
            got = receiver.ask(f"read {read} 2000")
            shown = ident | (0x80000000 if read == "ext" else 0)
            if sent != "0" or got != f"0 00 {shown:X} {length:02X} {data}":
                wrong.append(f"{kind} {ident:X} from {sender.name}: {sent} / {got}")
        check(not wrong, "remote frames between the two applications", wrong)

        # Frames accepted just before CAN_Exit still go out, also when the
        # exit comes before the network thread has sent them; then B leaves.
        first, count, rounds = 40000, 1400, 20
        receiver = Receiver(peer, rounds * count)
        answers = []
        for r in range(rounds):
            again = "\ninit" if r < rounds - 1 else ""
            b.tell(f"sendmany {first + r * count} {count} 20000\nexit{again}")
            answers += [b.line(30), b.line(10)] + ([b.line(10).split()[0]] if again else [])
        got = receiver.result()
        exited = answers[-1]
        expected = [sequence_frame(i) for i in range(first, first + rounds * count)]
        check(got == [(i, d) for _, i, d in expected],
              f"{rounds} times {count} frames sent right before CAN_Exit all reach the bus",
              f"received {len(got)}; B answered {set(answers)}")
        check(exited == "0" and daemon.summary()["vcan0"][1] == 2,
              "CAN_Exit takes B off the bus: the daemon counts 2 nodes")
        b.quit()
        a.ask("drain 300")  # what B sent

        # Both ways between A and python-can: both kinds, every length.
        table = [(False, 0x000, 0), (True, 0x10000000, 0), (False, 0x001, 1),
                 (True, 0x1ABCDE01, 1), (False, 0x0F2, 2), (True, 0x12345678, 2),
                 (False, 0x123, 3), (True, 0x18FEF100, 3), (False, 0x2AA, 4),
                 (True, 0x1F0F0F0F, 4), (False, 0x3C5, 5), (True, 0x15555555, 5),
                 (False, 0x4F0, 6), (True, 0x1AAAAAAA, 6), (False, 0x555, 7),
                 (True, 0x1C0FFEE7, 7), (False, 0x7FF, 8), (True, 0x1FFFFFFF, 8)]
        rows = [(extended, ident, bytes((0x5A + 0x25 * k + length) & 0xFF for k in range(length)))
                for extended, ident, length in table]
        receiver = Receiver(peer, len(rows))
        answers = [a.ask(f"send {'ext' if extended else 'std'} {ident:X} {len(data)} "
                         f"{(data + bytes.fromhex(PATTERN)[len(data):]).hex()}")
                   for extended, ident, data in rows]
        got = receiver.result()
        check(answers == ["0"] * len(rows) and got == [(ident, data) for _, ident, data in rows],
              "python-can receives A's frames byte for byte", f"{answers} {got}")
        check(daemon.logged(len(rows)) == [notation(*row) for row in rows],
              "the bus carries A's frames with their identifier kinds")
        wrong = []
        for extended, ident, data in rows:
            peer.send(message(extended, ident, data))
            got = a.ask(f"read {'ext' if extended else 'std'} 2000")
            shown = ident | (0x80000000 if extended else 0)
            want = f"0 00 {shown:X} {len(data):02X} {data.hex().upper()}{PATTERN[2 * len(data):]}"
            if got != want:
                wrong.append(f"{got} != {want}")
        check(not wrong, "A reads python-can's frames into its records byte for byte", wrong)

        # Ten thousand in a row, each way.
        first, count = 0, 10000
        receiver = Receiver(peer, count)
        answer = a.ask(f"sendmany {first} {count} 30000", 40)
        expected = [sequence_frame(i) for i in range(first, first + count)]
        got = receiver.result()
        check(answer.split()[0] == str(count) and got == [(i, d) for _, i, d in expected],
              f"{count} frames from A reach python-can complete and in order",
              f"{answer}, received {len(got)}")
        check(daemon.logged(count) == [notation(*frame) for frame in expected],
              f"the bus carries A's {count} frames as sent")
        first, step = 10000, 500
        a.tell(f"readmany {first} {count} 30000 {step}")
        sent = read = 0
        answer = None
        while answer is None:
            # At most two steps ahead of what A has read: within its queue.
            while sent < count and sent < read + 2 * step:
                peer.send(message(*sequence_frame(first + sent)))
                sent += 1
            line = a.line(40)
            if line.startswith("progress "):
                read = int(line.split()[1])
            else:
                answer = line
        check(answer == f"{count} 0 0", f"{count} frames from python-can reach A complete, "
              "in order, byte for byte", answer)

        # A flood while A does not read: the next read reports the overrun,
        # later frames arrive intact, A's memory stays where it was.
        before = [int(n) for n in a.ask("memory").split()]
        frames = daemon.summary()["vcan0"][0]
        flood = 60000
        for i in range(flood):
            peer.send(message(False, 0x100, i.to_bytes(4, "little") * 2))
        end = time.monotonic() + 20
        while daemon.summary()["vcan0"][0] < frames + flood and time.monotonic() < end:
            time.sleep(0.1)
        got = a.ask("read std 2000")
        check(got.split()[:2] == ["-1", "01"], "after the flood A's next read reports the overrun",
              got)
        drained = [int(n) for n in a.ask("drain 300").split()]
        check(drained[0] >= QUEUE - 1, "A's queue held what it could take", drained)
        first, count = 20000, 100
        for i in range(first, first + count):
            peer.send(message(*sequence_frame(i)))
        answer = read_many(a, first, count)
        check(answer == f"{count} 0 0", "frames after the flood arrive intact", answer)
        after = [int(n) for n in a.ask("memory").split()]
        check(all(later - earlier < MEMORY_SLACK for earlier, later in zip(before, after)),
              f"A's memory stays flat over a flood of {flood} frames "
              f"(working set, private bytes: {before} -> {after})")

        # The daemon stopped: sends fail at once; restarted on the same port:
        # A is back by itself.
        daemon.stop()
        peer.shutdown()
        result, elapsed = a.ask("untilrefused 5000").split()
        check(result == "-1" and int(elapsed) < 1000,
              "with the daemon stopped CAN_Send_Msg fails within a second", f"{elapsed} ms")
        daemon = Daemon(args.daemon, workdir, daemon.port)
        cleanup.append(daemon.kill)
        peer = daemon.bus()
        result, elapsed = a.ask("untilaccepted 5000").split()
        check(result == "0", "after a restart of the daemon A sends again",
              f"{result} after {elapsed} ms")
        got = Receiver(peer, 1).result()
        check(got == [(0x555, b"\x5a")], "python-can receives it", got)
        peer.send(message(False, 0x321, b"\x01"))
        got = a.ask("read std 2000")
        check(got.split()[:2] == ["-1", "01"], "A's first read after the gap reports the overrun",
              got)
        first, count = 30000, 10
        for i in range(first, first + count):
            peer.send(message(*sequence_frame(i)))
        answer = read_many(a, first, count)
        check(answer == f"{count} 0 0", "later frames reach A intact", answer)

        check(a.ask("exit") == "0" and daemon.summary()["vcan0"][1] == 1,
              "CAN_Exit takes A off the bus: the daemon counts 1 node")
        peer.shutdown()

        # No daemon at all: CAN_Init fails with the library's box, soon.
        daemon.stop()
        result, elapsed, *boxes = a.ask("init", 30).split("\t")
        check(result == "-1" and boxes == [OFFLINE_BOX] and int(elapsed) < 5000,
              "with no daemon CAN_Init fails with PORT_IS_OFFLINE within seconds",
              f"{result} {elapsed} ms {boxes}")
        a.quit()
    finally:
        for end in reversed(cleanup):
            end()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--node", required=True)
    parser.add_argument("--daemon", required=True)
    parser.add_argument("--wine-run", required=True)
    args = parser.parse_args()
    # The nodes run in directories of their own.
    for name in ("node", "daemon", "wine_run"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    check = Checks()
    start = time.monotonic()
    with tempfile.TemporaryDirectory() as workdir:
        try:
            run(args, check, workdir)
        except (Failed, OSError, subprocess.TimeoutExpired) as error:
            check(False, "the run ended early:", str(error))
    print(f"({time.monotonic() - start:.1f} s)")
    print(f"{check.passed} passed, {check.failed} failed")
    return 0 if check.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
