"""Starts morvantis-bus serve on a free loopback port for a test."""
import logging
import os
import signal
import subprocess
import sys
import tempfile

# python-can's socketcand reader logs every message cut across two reads.
logging.getLogger("can.interfaces.socketcand.socketcand").setLevel(logging.ERROR)

PROGRAM = sys.argv[1]


class Daemon:
    def __init__(self, *options):
        self.errors = tempfile.TemporaryFile()
        self.process = subprocess.Popen(
            [PROGRAM, "serve", "--listen", "127.0.0.1:0", *options],
            stdout=subprocess.PIPE, stderr=self.errors, text=True)
        first = self.process.stdout.readline().strip()
        assert first.startswith("listening on 127.0.0.1:"), first
        self.port = int(first.rsplit(":", 1)[1])
        self.address = f"127.0.0.1:{self.port}"

    def bus(self, channel="vcan0"):
        import can
        return can.Bus(interface="socketcand", channel=channel, host="127.0.0.1",
                       port=self.port)

    def tool(self, *args, **kwargs):
        return subprocess.run([PROGRAM, *args, "--connect", self.address],
                              capture_output=True, text=True, timeout=60, **kwargs)

    def memory_kb(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def alive(self):
        return self.process.poll() is None

    def stop(self):
        """Ends the daemon with SIGTERM; its summary."""
        self.process.send_signal(signal.SIGTERM)
        assert self.process.wait(timeout=20) == 0
        self.errors.seek(0)
        return self.errors.read().decode()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.alive():
            self.process.kill()
            self.process.wait()


def check(condition, what):
    if not condition:
        print("FAILED:", what)
        sys.exit(1)
    print("ok:", what)
