"""Bus timing: at 500 kbit/s a run of known frames takes the time their bits
take, within 5 %, and among frames waiting at once the lowest identifier
goes first."""
import re
import socket
import threading
import time

from daemon import Daemon, check

BITRATE = 500_000
RUN = 6500  # frames, about 1.1 s of bus time


def frame_bits(ident, extended, remote, data):
    """A classic frame's length on the wire with its stuff bits, from start
    of frame to the end of the intermission."""
    def field(value, width):
        return format(value, f"0{width}b")
    rtr = "1" if remote else "0"
    if extended:
        bits = "0" + field(ident >> 18, 11) + "11" + field(ident & 0x3FFFF, 18) + rtr + "00"
    else:
        bits = "0" + field(ident, 11) + rtr + "00"
    bits += field(len(data), 4) + ("" if remote else "".join(field(b, 8) for b in data))
    crc = 0
    for bit in bits:
        crc = ((crc << 1) ^ (0x4599 if (int(bit) ^ (crc >> 14)) & 1 else 0)) & 0x7FFF
    bits += field(crc, 15)
    # Stuffing: after five equal bits one of the other value, which counts
    # towards the next run.
    stuffed, run, last = 0, 0, None
    for bit in bits:
        run = run + 1 if bit == last else 1
        last = bit
        if run == 5:
            stuffed += 1
            last = "1" if bit == "0" else "0"
            run = 1
    return len(bits) + stuffed + 1 + 2 + 7 + 3


def known_frame(i):
    length = i % 9
    return (i % 0x40, False, False, bytes((i * 37 + k) & 0xFF for k in range(length)))


def send_text(ident, extended, remote, data):
    name = "sendrtr" if remote else "send"
    width = 8 if extended else 3
    body = f"{ident:0{width}X} {len(data)}" + "".join(f" {b:02X}" for b in data)
    return f"< {name} {body} >".encode()


def node(daemon, receiving):
    s = socket.create_connection(("127.0.0.1", daemon.port), timeout=10)
    assert s.recv(64) == b"< hi >"
    s.sendall(b"< open timed >" + (b"< rawmode >" if receiving else b""))
    expected = b"< ok >< ok >" if receiving else b"< ok >"
    got = b""
    while len(got) < len(expected):
        got += s.recv(64)
    assert got == expected, got
    return s


# A data frame with its data, or a remote frame with its length.
FRAME = re.compile(rb"< (frame|rtr) ([0-9A-F]+) (\d+)\.(\d{6}) ([0-9A-F]*) >")


def main():
    with Daemon("--bitrate", str(BITRATE)) as daemon:
        receiver = node(daemon, True)
        runner = node(daemon, False)
        # Waiting at once, while the run holds the bus: arbitration order is
        # 0F0, 100 data, 100 remote, 100 extended (same top 11 bits), 300.
        late = [(0x300, False, False, b"\x03"), (0x100 << 18, True, False, b"\x04"),
                (0x100, False, True, b""), (0x100, False, False, b"\x01"),
                (0x0F0, False, False, b"\x00\x00")]
        others = [node(daemon, False) for _ in late]
        total = RUN + len(late)
        received = []  # (arrival, ident text, bus seconds, data text)

        def receive():
            data = b""
            deadline = time.monotonic() + 30
            while len(received) < total and time.monotonic() < deadline:
                chunk = receiver.recv(65536)
                now = time.monotonic()
                if not chunk:
                    break
                data += chunk
                end = data.rfind(b">") + 1
                for m in FRAME.finditer(data[:end]):
                    data_text = (b"R" if m.group(1) == b"rtr" else b"") + m.group(5)
                    received.append((now, m.group(2), int(m.group(3)) + int(m.group(4)) / 1e6,
                                     data_text))
                data = data[end:]

        thread = threading.Thread(target=receive)
        thread.start()
        run = [known_frame(i) for i in range(RUN)]
        runner.sendall(b"".join(send_text(*f) for f in run))
        time.sleep(0.3)
        for s, frame in zip(others, late):
            s.sendall(send_text(*frame))
        thread.join()
        check(len(received) == total, f"all {total} frames arrive")

        def key(ident, extended, remote, data):
            return (f"{ident:08X}" if extended else f"{ident:03X}",
                    f"R{len(data)}" if remote else data.hex().upper())
        got = [(r[1].decode(), r[3].decode()) for r in received]
        check(got[:RUN] == [key(*f) for f in run], "the run arrives whole and in order first")
        waiting = [key(*f) for f in late]
        order = [waiting[i] for i in (4, 3, 2, 1, 0)]
        check(got[RUN:] == order,
              "frames waiting at once: lowest identifier first, standard before extended, "
              "data before remote")

        # The run: from the end of its first frame to the end of its last,
        # the bits of the others.
        bits = sum(frame_bits(*f) for f in run[1:])
        expected = bits / BITRATE
        on_bus = received[RUN - 1][2] - received[0][2]
        on_clock = received[RUN - 1][0] - received[0][0]
        check(abs(on_bus / expected - 1) < 0.05,
              f"the bus's own times: {on_bus:.4f} s for {bits} bits ({expected:.4f} s)")
        check(abs(on_clock / expected - 1) < 0.05,
              f"the receiver's clock: {on_clock:.4f} s for {expected:.4f} s")
        for s in [receiver, runner, *others]:
            s.close()
        daemon.stop()


main()
