#!/usr/bin/python3
"""The demo's peer node on a socketcand bus (morvantis-bus, or a real
socketcand): joins the bus with python-can and answers every data frame with
the same data under the identifier plus one, until it is ended (SIGTERM or
SIGINT). The first line it prints says that it is on the bus.

    /usr/bin/python3 demo/peer.py --port PORT [--host 127.0.0.1] [--bus vcan0]
"""
import argparse
import logging
import signal
import sys

import can

# python-can's socketcand reader logs every message it cannot use, such as
# remote frames, which it does not take.
logging.getLogger("can.interfaces.socketcand.socketcand").setLevel(logging.ERROR)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--bus", default="vcan0")
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

    bus = can.Bus(interface="socketcand", channel=args.bus, host=args.host, port=args.port)
    print(f"peer: python-can {can.__version__} on {args.bus} at {args.host}:{args.port}",
          flush=True)
    try:
        while True:
            frame = bus.recv(timeout=1.0)
            if frame is None or frame.is_error_frame:
                continue
            # python-can marks every frame it receives as extended; the
            # answer goes out with the identifier's own width (3 or 8 hex
            # digits on the wire), which is what tells the two kinds apart.
            bus.send(can.Message(arbitration_id=frame.arbitration_id + 1,
                                 is_extended_id=frame.arbitration_id > 0x7FF,
                                 data=frame.data))
    except KeyboardInterrupt:
        pass
    finally:
        bus.shutdown()


if __name__ == "__main__":
    main()
