#!/usr/bin/env python3
"""The Winsock layer in the capture lab (winelab.py), through the capture thread as the window
runs it: winsock_probe.exe captures on the lab's loopback and prints every record it handed
over once stopped.

- An exchange on 127.0.0.1 and on ::1 against tcpdump on the same loopback: the captures of
  every port, on the typed address 127.0.0.1 and on ::1 alike, each hold every segment tcpdump
  saw, of both IP versions, in order within each direction, and nothing else (the IPv6 ones as
  [::1]:port); the capture of the exchange's port alone holds both directions of that port's
  connections; the capture of a range without any of the exchange's ports holds nothing. The
  probe is stopped as soon as the exchange ends: what arrived before the stop is handed over.
- An address no interface holds, of either version, fails at bind.
- On a loopback without its IPv6 address, a capture of 127.0.0.1 says once that IPv6 is not
  captured there, before anything else, and captures IPv4 all the same.
- Stop under a flood of segments that carry their number and the time they were sent
  (flood.py): at a pace the receive buffer holds whatever the capture thread does, every
  segment sent before the stop is handed over, by the socket of the typed address's version
  and by the other one alike; as fast as the sender goes, beyond what the
  capture takes, the capture still ends within its hand-over bound. Either way no segment
  sent after the stop is shown.

Usage: test_winsock_capture.py --wine=WINE --preload=LIB --proxy=DLL --prefix=DIR --probe=EXE
Exits 0 when it passes, 1 when it fails, 77 after the reason when it cannot run here.
"""

import collections
import os
import select
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winelab  # noqa: E402

ADDRESS = "127.0.0.1"
ADDRESS6 = "::1"
PORT = 5001  # the exchange's
OTHER_PORT = 6001  # a conversation beside it
EVERY_PORT, ITS_PORT, NO_PORT_OF_IT, EVERY_PORT6 = 0, 1, 2, 3
CAPTURES = [(ADDRESS, 1, 65535), (ADDRESS, PORT, PORT), (ADDRESS, PORT + 1, OTHER_PORT - 1),
            (ADDRESS6, 1, 65535)]
NOT_HELD = ["10.9.9.9", "fd00::5"]
FLAG_NAMES = ("URG", "ACK", "PSH", "RST", "SYN", "FIN")
FLAG_BITS = {"URG": 0x20, "ACK": 0x10, "PSH": 0x08, "RST": 0x04, "SYN": 0x02, "FIN": 0x01}
# The layer's own bound on a hand-over (kHandOverLimit), and that with a margin for a busy
# machine.
HAND_OVER_LIMIT_MS = 2000
HAND_OVER_BOUND_MS = HAND_OVER_LIMIT_MS + 800
HAND_OVER_CUT = "the stop's hand-over ran out of time: what the sockets still held is not shown"
FLOOD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "flood.py")
SECONDS = 60


Failure = winelab.Failure


class Probe:
    """winsock_probe.exe in the lab, one capture per (address, first, last)."""

    def __init__(self, lab, program, captures):
        specs = [f"{address}:{first}-{last}" for address, first, last in captures]
        self._process = lab.windows(program, specs, stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self._buffer = b""
        self.lines = []
        winelab.wait_until("the probe ready", lambda: self._read() and "ready" in self.lines,
                           SECONDS)
        self.failures = {}
        for line in self.lines:
            words = line.split(" ", 3)
            if words[0] == "capture" and words[2] == "failed":
                self.failures[int(words[1])] = words[3] if len(words) > 3 else ""

    def _read(self):
        """Takes what the probe wrote so far; True (to go on waiting) while it runs."""
        while select.select([self._process.stdout], [], [], 0)[0]:
            chunk = os.read(self._process.stdout.fileno(), 1 << 16)
            if not chunk:
                break
            self._buffer += chunk
        *complete, self._buffer = self._buffer.split(b"\n")
        self.lines += [line.decode(errors="replace").rstrip("\r") for line in complete]
        if self._process.poll() is not None and "done" not in self.lines:
            raise Failure(f"the probe ended with {self._process.returncode}:\n" +
                          "\n".join(self.lines[-20:]))
        return True

    def stop(self):
        """Stops every capture; (records by capture, drops by capture, milliseconds each took
        to end, (system time before the stop, after it))."""
        self._process.stdin.write(b"stop\n")
        self._process.stdin.close()
        winelab.wait_until("the probe done", lambda: self._read() and "done" in self.lines,
                           SECONDS)
        self._process.wait(SECONDS)
        records, dropped = collections.defaultdict(list), collections.Counter()
        ended, stop = {}, None
        self.notices = collections.defaultdict(list)
        for line in self.lines:
            words = line.split(" ")
            if words[0] == "notice":
                self.notices[int(words[1])].append(line.split(" ", 2)[2])
                records[int(words[1])].append(("notice",))
            elif words[0] == "record":
                flags = () if words[4] == "-" else tuple(words[4].split(","))
                payload = b"" if words[5] == "-" else bytes.fromhex(words[5])
                records[int(words[1])].append((words[2], words[3], flags, payload))
            elif words[0] == "dropped":
                dropped[int(words[1])] += int(words[2])
            elif words[0] == "ended":
                ended[int(words[1])] = None if words[2] == "never" else int(words[2])
            elif words[0] == "stop":
                stop = (int(words[1]), int(words[2]))
        return records, dropped, ended, stop


def exchange(lab, family=socket.AF_INET):
    """TCP conversations on the lab's loopback, Linux to Linux, over IPv4 or IPv6: on PORT a
    request and its reply, one reply of 3000 bytes, a reset, a refused connection; one on
    OTHER_PORT."""
    address = ADDRESS6 if family == socket.AF_INET6 else ADDRESS
    listeners = {}
    for port in (PORT, OTHER_PORT):
        listeners[port] = lab.socket(family, socket.SOCK_STREAM)
        # The port again while the last exchange's connections wait out their time.
        listeners[port].setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listeners[port].bind((address, port))
        listeners[port].listen(4)

    def talk(port, request, reply, client_closes=True, reset=False):
        client = lab.socket(family, socket.SOCK_STREAM)
        client.connect((address, port))
        server, _ = listeners[port].accept()
        client.sendall(request)
        winelab.receive(server, len(request))
        server.sendall(reply)
        winelab.receive(client, len(reply))
        if reset:
            client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        first, second = (client, server) if client_closes else (server, client)
        first.close()
        try:
            if second.recv(1) != b"":
                raise Failure("a peer read more than was sent")
        except ConnectionResetError:
            if not reset:
                raise
        second.close()

    talk(PORT, b"GET /winsock HTTP/1.0\r\n", b"HTTP/1.0 200 OK\r\n")
    talk(PORT, b"PING winsock", b"PONG " + b"0123456789" * 300, client_closes=False)
    talk(PORT, b"RESET ME", b"OK", reset=True)
    talk(OTHER_PORT, b"BESIDE", b"IT")
    for listener in listeners.values():
        listener.close()
    with lab.socket(family, socket.SOCK_STREAM) as refused:
        if refused.connect_ex((address, PORT)) == 0:
            raise Failure("a connection to a closed port was accepted")


def from_tcpdump(path):
    segments = []
    for source, destination, flag_byte, payload in winelab.tcp_segments(path):
        flags = tuple(name for name in FLAG_NAMES if flag_byte & FLAG_BITS[name])
        segments.append((source, destination, flags, payload))
    return segments


def by_direction(segments):
    directions = collections.defaultdict(list)
    for segment in segments:
        if segment == ("notice",):
            continue
        source, destination, flags, payload = segment
        # The capture keeps a segment with a flag of the six only.
        if flags:
            directions[(source, destination)].append((flags, payload))
    return directions


def differences(name, captured, expected):
    problems = []
    captured, expected = by_direction(captured), by_direction(expected)
    for direction in sorted(set(captured) | set(expected)):
        if captured[direction] != expected[direction]:
            def described(segments):
                return ", ".join(" ".join(flags) + (f" {payload[:16]!r}" if payload else "")
                                 for flags, payload in segments)
            problems.append(f"{name}, {direction[0]} => {direction[1]}:\n"
                            f"  captured: {described(captured[direction])}\n"
                            f"  tcpdump:  {described(expected[direction])}")
    return problems


def with_port(segments, port):
    return [segment for segment in segments
            if segment[0].endswith(f":{port}") or segment[1].endswith(f":{port}")]


def test_exchange(lab, probe_program, work):
    pcap = os.path.join(work, "exchange.pcap")
    with lab.tcpdump(pcap, "tcp") as dump:
        probe = Probe(lab, probe_program, CAPTURES)
        if probe.failures:
            raise Failure(f"captures failed to start: {probe.failures}")
        exchange(lab, socket.AF_INET6)
        exchange(lab, socket.AF_INET)
        winelab.wait_until("every connection of the exchange ended",
                           lab.connections_closed, SECONDS)
        dump.stop()
        records, dropped, ended, _ = probe.stop()
    dumped = from_tcpdump(pcap)
    problems = []
    ends = {end for segment in dumped for end in segment[:2]}
    if len(by_direction(dumped)) < 8 or f"[{ADDRESS6}]:{PORT}" not in ends or \
            f"{ADDRESS}:{PORT}" not in ends:
        problems.append(f"tcpdump saw too little: {dumped}")
    problems += differences(f"every port of {ADDRESS}", records[EVERY_PORT], dumped)
    problems += differences(f"every port of {ADDRESS6}", records[EVERY_PORT6], dumped)
    problems += differences(f"port {PORT}", records[ITS_PORT], with_port(dumped, PORT))
    if records[NO_PORT_OF_IT]:
        problems.append(f"a range without the exchange's ports kept {records[NO_PORT_OF_IT]}")
    if dropped:
        problems.append(f"drops reported: {dict(dropped)}")
    if probe.notices:
        problems.append(f"notices on a loopback with both versions: {dict(probe.notices)}")
    for capture, took in ended.items():
        if took is None or took > HAND_OVER_LIMIT_MS:
            problems.append(f"capture {capture} took {took} ms to end after the stop")
    if problems:
        raise Failure("\n".join(problems))
    print(f"exchange: the captures of {ADDRESS} and {ADDRESS6} and tcpdump agree on "
          f"{len(records[EVERY_PORT])} segments of both versions, {len(records[ITS_PORT])} of "
          f"port {PORT}")


def test_addresses_no_interface_holds(lab, probe_program, work):
    probe = Probe(lab, probe_program, [(address, 1, 65535) for address in NOT_HELD])
    probe.stop()
    expected = {i: f"Capture on '{address}' failed at bind: no interface holds this address "
                   "(error 10049)" for i, address in enumerate(NOT_HELD)}
    if probe.failures != expected:
        raise Failure(f"failures: {probe.failures}, not {expected}")
    print(f"addresses no interface holds: {', '.join(NOT_HELD)} fail at bind")


def test_a_loopback_without_ipv6(lab, probe_program, work):
    """The last test: the lab's loopback keeps no IPv6 address after it."""
    subprocess.run(["ip", "-n", lab.netns, "-6", "address", "flush", "dev", "lo"], check=True)
    probe = Probe(lab, probe_program, [(ADDRESS, 1, 65535)])
    if probe.failures:
        raise Failure(f"the capture failed to start: {probe.failures}")
    exchange(lab, socket.AF_INET)
    winelab.wait_until("every connection of the exchange ended",
                       lab.connections_closed, SECONDS)
    records, _, _, _ = probe.stop()
    notice = "IPv6 is not captured on this interface: it has no IPv6 address"
    if probe.notices[0] != [notice] or records[0][0] != ("notice",):
        raise Failure(f"notices {dict(probe.notices)}, the first entry {records[0][:1]}")
    if len(by_direction(records[0])) < 4:
        raise Failure(f"too little captured over IPv4: {records[0]}")
    print(f"loopback without IPv6: '{notice}' first, then {len(records[0]) - 1} segments")


class Flood:
    """flood.py in the lab, at `rate` segments a second (0: as fast as it goes)."""

    def __init__(self, lab, work, rate, ipv6=False):
        self._log = os.path.join(work, "flood.log")
        self._process = lab.linux([sys.executable, FLOOD, f"--rate={rate}", f"--log={self._log}"] +
                                  (["--ipv6"] if ipv6 else []),
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self._buffer = b""
        self.sent = 0

    def _read(self):
        while select.select([self._process.stdout], [], [], 0)[0]:
            chunk = os.read(self._process.stdout.fileno(), 4096)
            if not chunk:
                break
            self._buffer += chunk
        *complete, self._buffer = self._buffer.split(b"\n")
        for line in complete:
            self.sent = int(line.split()[1])
        if self._process.poll() is not None:
            raise Failure("the flood ended: " + self._process.stderr.read().decode())
        return True

    def wait_sent(self, count):
        winelab.wait_until(f"{count} segments of the flood sent",
                           lambda: self._read() and self.sent >= count, SECONDS)

    def stop(self):
        """Ends the flood; when each segment was sent, in system microseconds."""
        self._process.terminate()
        _, errors = self._process.communicate(timeout=SECONDS)
        if self._process.returncode != 0:
            raise Failure(f"the flood failed: {errors.decode()}")
        with open(self._log, "rb") as log:
            return struct.unpack(f"<{os.path.getsize(self._log) // 8}q", log.read())


def flooded(lab, probe_program, work, rate, sent_before_stop, ipv6=False):
    """The flood's segments a capture of ADDRESS showed, once stopped with `sent_before_stop`
    sent: (sequence numbers, their send stamps, when each segment was sent, the stop's (before,
    after), milliseconds to the end)."""
    probe = Probe(lab, probe_program, [(ADDRESS, 1, 65535)])
    if probe.failures:
        raise Failure(f"the capture failed to start: {probe.failures}")
    flood = Flood(lab, work, rate, ipv6)
    try:
        flood.wait_sent(sent_before_stop)
        records, dropped, ended, stop = probe.stop()
    finally:
        sent_at = flood.stop()
    if dropped:
        raise Failure(f"drops reported: {dict(dropped)}")
    numbers, stamps = [], []
    for record in records[0]:
        parsed = flood_payload(record[3]) if len(record) == 4 else None
        if parsed:
            numbers.append(parsed[0])
            stamps.append(parsed[1])
    if not numbers:
        raise Failure("the capture showed nothing of the flood")
    problems = []
    if numbers != sorted(set(numbers)):
        problems.append("the flood's segments are out of order or repeated")
    late = [(number, stamp) for number, stamp in zip(numbers, stamps) if stamp > stop[1]]
    if late:
        problems.append(f"{len(late)} segments sent after the stop are shown, the first "
                        f"{late[0][0]}, {late[0][1] - stop[1]} us after it")
    if ended[0] is None or ended[0] > HAND_OVER_BOUND_MS:
        problems.append(f"the capture took {ended[0]} ms to end after the stop, beyond "
                        f"{HAND_OVER_BOUND_MS} ms")
    if problems:
        raise Failure("\n".join(problems))
    return numbers, sent_at, stop, ended[0], probe.notices[0]


def flood_payload(payload):
    words = payload.split()
    if len(words) == 3 and words[0] == b"flood":
        return int(words[1]), int(words[2])
    return None


def test_stop_under_a_paced_flood(lab, probe_program, work):
    # 5000 a second for a second: less than the receive buffer holds, whatever the thread does.
    for ipv6 in (False, True):
        version = "IPv6" if ipv6 else "IPv4"
        numbers, sent_at, stop, took, _ = flooded(lab, probe_program, work, 5000, 5000, ipv6)
        before = [number for number, at in enumerate(sent_at) if at < stop[0]]
        missing = sorted(set(before) - set(numbers))
        if missing:
            raise Failure(f"{version}: {len(missing)} of the {len(before)} segments sent before "
                          f"the stop are not shown, the first {missing[0]}")
        print(f"paced flood over {version}: the {len(before)} segments sent before the stop "
              f"shown, none after; ended {took} ms after the stop")


def test_stop_under_a_full_flood(lab, probe_program, work):
    numbers, sent_at, _, took, notices = flooded(lab, probe_program, work, 0, 200000)
    # A hand-over that used all its time says so, unless it had just emptied the sockets.
    if took >= HAND_OVER_LIMIT_MS + 100 and notices != [HAND_OVER_CUT]:
        raise Failure(f"a hand-over of {took} ms ended with the notices {notices}")
    print(f"full flood: {len(numbers)} of {len(sent_at)} segments shown, none sent after the "
          f"stop; ended {took} ms after the stop; notices {notices}")


def main():
    options = winelab.test_options("probe")
    if not os.path.isfile(options.probe):
        print(f"the probe is not built: '{options.probe}'", file=sys.stderr)
        return 1
    work = tempfile.mkdtemp(prefix="winelab-winsock-")
    try:
        with winelab.Lab(options.wine, options.preload, options.proxy, options.prefix) as lab:
            for test in (test_exchange, test_addresses_no_interface_holds,
                         test_stop_under_a_paced_flood, test_stop_under_a_full_flood,
                         test_a_loopback_without_ipv6):
                started = time.monotonic()
                test(lab, options.probe, work)
                print(f"{test.__name__}: passed in {time.monotonic() - started:.1f} s")
        return 0
    except winelab.Unavailable as reason:
        print(f"SKIP: the capture lab under wine {reason}", file=sys.stderr)
        return winelab.SKIP_STATUS
    except (Failure, TimeoutError) as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
