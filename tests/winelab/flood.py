#!/usr/bin/env python3
"""A flood of TCP segments on a network namespace's loopback, for the capture lab's tests and
benchmarks: run it inside the namespace (Lab.linux).

Each segment is a reset from 127.0.0.1:SOURCE to 127.0.0.1:DESTINATION (with --ipv6, from
[::1]:SOURCE to [::1]:DESTINATION), which nothing answers, whose payload is "flood SEQUENCE
STAMP": its number from 0 and the system time (microseconds since 1970) just before it was
sent. Its TCP checksum is left zero: the receiving TCP drops it unanswered, as it would any
reset of no connection; a capture sees it first.

Usage: flood.py [--rate SEGMENTS_PER_SECOND] [--count N] [--log FILE] [--ipv6]
Sends at the rate (0: as fast as it can) until it has sent N segments (0: until SIGTERM or
SIGINT). It prints "sent N" on standard output every 1000 segments and once it ends; --log
writes, for each segment in order, the system time just after it was sent, as little-endian
64-bit microseconds.
"""

import argparse
import array
import signal
import socket
import struct
import sys
import time

SOURCE_PORT = 40001
DESTINATION_PORT = 40002
PAYLOAD = "flood {:010d} {:016d}"
PAYLOAD_SIZE = len(PAYLOAD.format(0, 0))


def segment(sequence, stamp, ipv6=False):
    """The IPv4 datagram (the kernel fills its length, identification and checksum), or for
    IPv6 the TCP segment alone (the kernel puts the IPv6 header in front)."""
    payload = PAYLOAD.format(sequence, stamp).encode()
    tcp = struct.pack("!HHIIBBHHH", SOURCE_PORT, DESTINATION_PORT, sequence, 0, 5 << 4, 0x04,
                      0, 0, 0)
    if ipv6:
        return tcp + payload
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 0, 0, 0, 64, socket.IPPROTO_TCP, 0,
                     socket.inet_aton("127.0.0.1"), socket.inet_aton("127.0.0.1"))
    return ip + tcp + payload


def parse(payload):
    """(sequence, stamp) of a flood segment's payload, or None."""
    words = payload.split()
    if len(words) == 3 and words[0] == b"flood":
        return int(words[1]), int(words[2])
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rate", type=float, default=0)
    parser.add_argument("--count", type=int, default=0)
    parser.add_argument("--log")
    parser.add_argument("--ipv6", action="store_true")
    options = parser.parse_args()
    stopping = []
    for number in (signal.SIGTERM, signal.SIGINT):
        signal.signal(number, lambda *_: stopping.append(True))
    sent_at = array.array("q")
    if options.ipv6:
        out = socket.socket(socket.AF_INET6, socket.SOCK_RAW, socket.IPPROTO_TCP)
        destination = ("::1", 0)
    else:
        out = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
        destination = ("127.0.0.1", 0)
    started = time.monotonic()
    sequence = 0
    while not stopping and (options.count == 0 or sequence < options.count):
        if options.rate > 0:
            due = started + sequence / options.rate
            ahead = due - time.monotonic()
            if ahead > 0:
                time.sleep(min(ahead, 0.01))
                continue
        out.sendto(segment(sequence, time.time_ns() // 1000, options.ipv6), destination)
        sent_at.append(time.time_ns() // 1000)
        sequence += 1
        if sequence % 1000 == 0:
            print(f"sent {sequence}", flush=True)
    print(f"sent {sequence}", flush=True)
    if options.log:
        with open(options.log, "wb") as log:
            if sys.byteorder != "little":
                sent_at.byteswap()
            sent_at.tofile(log)
    return 0


if __name__ == "__main__":
    sys.exit(main())
