"""Hostile clients: the daemon stays up, bounded, and the others get everything."""
import random
import socket
import subprocess
import sys
import tempfile
import time

from daemon import Daemon, check


def daemon_program():
    return sys.argv[1]

FLOOD = 400_000


def connect(daemon):
    s = socket.create_connection(("127.0.0.1", daemon.port), timeout=5)
    assert s.recv(64) == b"< hi >"
    return s


def answers(s, wait=0.3):
    s.settimeout(wait)
    data = b""
    try:
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    except socket.timeout:
        pass
    return data


def main():
    with Daemon("--queue", "16384", "--max-connections", "64", "--max-buses", "8") as daemon:
        # Random bytes: answered with errors, the connection stays.
        s = connect(daemon)
        rng = random.Random(8)
        s.sendall(bytes(rng.randrange(256) for _ in range(200_000)))
        s.sendall(b"< open r >< echo >")
        check(answers(s, 1.0).endswith(b"< ok >< echo >"), "random bytes: still answered after")
        s.close()

        # A message that never ends: bounded, answered once, then usable.
        s = connect(daemon)
        s.sendall(b"< open n >< send 123 1 " + b"1" * 5_000_000)
        s.sendall(b" >< echo >")
        data = answers(s, 1.0)
        check(data.count(b"< error message too long >") == 1 and data.endswith(b"< echo >"),
              "a message that never ends")
        s.close()

        # An over-long bus name: error, connection closed.
        s = connect(daemon)
        s.sendall(b"< open " + b"b" * 100 + b" >")
        data = answers(s)
        check(data.startswith(b"< error"), "an over-long bus name is refused")

        # Too many buses and too many connections: refused politely.
        held = []
        for i in range(6):  # with r and n, eight buses
            held.append(connect(daemon))
            held[-1].sendall(f"< open bus{i} >".encode())
        check(all(answers(c, 0.1) == b"< ok >" for c in held), "up to eight buses open")
        s = connect(daemon)
        s.sendall(b"< open ninth >")
        check(answers(s).startswith(b"< error too many buses"), "buses are limited")
        more = [socket.create_connection(("127.0.0.1", daemon.port)) for _ in range(60)]
        check(answers(more[-1]).startswith(b"< error too many connections"),
              "connections are limited, refused with an error")
        for c in held + more:
            c.close()

        # A thousand connections opened and dropped.
        for _ in range(1000):
            socket.create_connection(("127.0.0.1", daemon.port)).close()
        time.sleep(0.3)
        check(daemon.alive(), "a thousand connections opened and dropped")

        # A reader that stalls while others flood the bus.
        stalled = connect(daemon)
        stalled.sendall(b"< open bus0 >< rawmode >")
        time.sleep(0.1)
        # More than the kernel's socket buffers hold for the stalled node.
        received = tempfile.TemporaryFile(mode="w+")
        reader = subprocess.Popen([daemon_program(), "dump", "bus0", "-L", "-n", str(FLOOD),
                                   "--connect", daemon.address], stdout=received)
        time.sleep(0.3)
        gen = daemon.tool("gen", "bus0", "--count", str(FLOOD), "--rate", "300000",
                          "--length", "3")
        try:
            reader.wait(timeout=20)
        except subprocess.TimeoutExpired:
            reader.kill()
        received.seek(0)
        numbers = [int.from_bytes(bytes.fromhex(line.split("#")[1]), "little")
                   for line in received]
        check(gen.returncode == 0 and numbers == list(range(FLOOD)),
              "the reading node gets every frame")
        memory = daemon.memory_kb()
        check(memory < 64 * 1024, f"memory stays bounded ({memory} kB)")
        # The stalled node, reading at last: an overflow error frame, then
        # its newest frames.
        stalled.settimeout(5)
        woke = time.time()
        data = b""
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and not (
                b"< error 004 " in data and b"< frame" in data.split(b"< error 004 ", 1)[1]):
            data += stalled.recv(65536)
        check(b"< error 004 " in data and b"< frame" in data.split(b"< error 004 ", 1)[1],
              "the stalled node is told of its overflow before its next frame")
        told = float(data.split(b"< error 004 ", 1)[1].split(b" ", 1)[0])
        check(told > woke - 0.1, "the overflow report bears the time it was told")
        summary = daemon.stop()
        check("dropped" in summary and "bad messages: " in summary,
              "the summary counts the drops")


main()
