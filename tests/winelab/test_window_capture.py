#!/usr/bin/env python3
"""The unchanged Windows program in the capture lab (winelab.py), driven as a user drives it.

On a virtual display: the address typed into its field, Start, a few real TCP exchanges on the
lab's loopback, Stop, and the log copied through the clipboard. tcpdump watched the same
loopback over the same time: the log holds each segment it saw exactly once, with the same end
points, flags and payload, in the same order within each direction of each connection, and
nothing else.

Usage: test_window_capture.py --wine=WINE --preload=LIB --proxy=DLL --prefix=DIR --program=EXE
Exits 0 when it passes, 1 when it fails, 77 after the reason when it cannot run here.
"""

import collections
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winelab  # noqa: E402

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CAPTION = "Quorvel v2.0"
ADDRESS = "127.0.0.1"
FLAG_NAMES = ("URG", "ACK", "PSH", "RST", "SYN", "FIN")
FLAG_BITS = {"URG": 0x20, "ACK": 0x10, "PSH": 0x08, "RST": 0x04, "SYN": 0x02, "FIN": 0x01}
# Long enough for a window's first start on a busy machine, short enough to fail while CTest
# still waits.
SECONDS = 60
# Where a failure leaves the screen, in the working directory.
SCREENSHOT = "winelab-window-failure.png"

# A log line with every column shown: the date, both end points, the six flag cells, the payload.
LINE = re.compile(r"^\d\d\D?\d\d\D?\d{4} \d\d\D?\d\d\D?\d\d "
                  r" *(\d+\.\d+\.\d+\.\d+):(\d+) =>  *(\d+\.\d+\.\d+\.\d+):(\d+) (.{24})(.*)$")


Failure = winelab.Failure


def read_layout():
    """The client area's width and the centre of each control of the window, in pixels at
    96 DPI, from the layout table both front ends build from."""
    with open(os.path.join(SOURCE, "ui", "Layout.h")) as header:
        text = header.read()
    entries = {}
    for match in re.finditer(r'\{"(\w+)", TControlKind::\w+, "(\w+)", (\d+), (\d+), (\d+), (\d+),',
                             text):
        name, parent, left, top, width, height = match.groups()
        entries[name] = (parent, int(left), int(top), int(width), int(height))
    # A number, or the width of a control of the table.
    width = re.search(r'kClientWidth = (?:(\d+)|LayoutOf\("(\w+)"\)\.Width);', text)
    client_width = int(width.group(1)) if width.group(1) else entries[width.group(2)][3]
    centres = {}
    for name, (parent, left, top, width, height) in entries.items():
        x, y = left + width // 2, top + height // 2
        while parent in entries:
            parent, parent_left, parent_top, _, _ = entries[parent]
            x, y = x + parent_left, y + parent_top
        centres[name] = (x, y)
    return client_width, centres


class Window:
    """The program's window on the lab's display, through xdotool and xclip."""

    def __init__(self, lab, program):
        self._lab = lab
        self._program = program
        self.id = winelab.wait_until(f"the window '{CAPTION}' shown", self._find, SECONDS, 0.1)
        geometry = self._xdotool("getwindowgeometry", self.id)
        width = int(re.search(r"Geometry: (\d+)x", geometry).group(1))
        client_width, self._centres = read_layout()
        self._scale = width / client_width  # the window has no frame on a display without WM
        self._xdotool("windowfocus", "--sync", self.id)

    def _xdotool(self, *arguments):
        done = subprocess.run(["xdotool", *arguments], env=self._lab.env, capture_output=True,
                              text=True, timeout=SECONDS)
        if done.returncode not in (0, 1):
            raise Failure(f"xdotool {' '.join(arguments)}: {done.stderr.strip()}")
        return done.stdout

    def _find(self):
        if self._program.poll() is not None:
            raise Failure(f"the program ended with {self._program.returncode} before its window")
        found = self._xdotool("search", "--onlyvisible", "--name", f"^{CAPTION}$").split()
        return found[0] if found else None

    def click(self, control):
        x, y = self._centres[control]
        self._xdotool("mousemove", "--window", self.id, str(round(x * self._scale)),
                      str(round(y * self._scale)), "click", "1")

    def keys(self, *keys):
        self._xdotool("key", *keys)

    def type(self, text):
        self._xdotool("type", text)

    def other_windows(self):
        """The names of the program's other windows shown, a message box among them."""
        names = []
        for window in self._xdotool("search", "--onlyvisible", "--class", "quorvel").split():
            name = self._xdotool("getwindowname", window).strip()
            if window != self.id and name:
                names.append(name)
        return names

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self._lab.env, timeout=SECONDS,
                       capture_output=True)

    def clipboard(self):
        done = subprocess.run(["xclip", "-o", "-selection", "clipboard"], env=self._lab.env,
                              capture_output=True, timeout=SECONDS)
        return done.stdout.decode("utf-8", errors="replace") if done.returncode == 0 else ""


def capture_socket_open(lab):
    """Whether the capture's socket is open and bound to ADDRESS: the lab's raw TCP socket."""
    bound = "%08X:0006" % struct.unpack("<I", socket.inet_aton(ADDRESS))[0]
    return any(line.split()[1] == bound for line in lab.net("raw").splitlines()[1:])


def exchange(lab):
    """A few TCP exchanges on the lab's loopback, Linux to Linux; the messages sent."""
    sent = []
    listener = lab.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind((ADDRESS, 0))
    listener.listen(4)
    address = listener.getsockname()

    def connect():
        client = lab.socket(socket.AF_INET, socket.SOCK_STREAM)
        client.connect(address)
        server, _ = listener.accept()
        return client, server

    def talk(client, server, request, reply):
        client.sendall(request)
        winelab.receive(server, len(request))
        server.sendall(reply)
        winelab.receive(client, len(reply))
        sent.extend((request, reply))

    # Messages that end in CR LF; the client closes first.
    client, server = connect()
    talk(client, server, b"GET /winelab HTTP/1.0\r\n", b"HTTP/1.0 200 OK\r\n")
    client.close()
    if server.recv(1) != b"":
        raise Failure("the server read more than the request")
    server.close()
    # Without CR LF, one of 3000 bytes; the server closes first.
    client, server = connect()
    talk(client, server, b"PING winelab", b"PONG " + b"0123456789" * 300)
    server.close()
    if client.recv(1) != b"":
        raise Failure("the client read more than the reply")
    client.close()
    # Ended by a reset.
    client, server = connect()
    talk(client, server, b"RESET ME", b"OK")
    client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    client.close()
    try:
        server.recv(1)
        raise Failure("the server saw no reset")
    except ConnectionResetError:
        pass
    server.close()
    listener.close()
    # Refused: nothing listens there any more.
    with lab.socket(socket.AF_INET, socket.SOCK_STREAM) as refused:
        if refused.connect_ex(address) == 0:
            raise Failure("a connection to a closed port was accepted")
    return sent


def shown_payload(payload):
    # The log drops one CR LF at a payload's end.
    if len(payload) > 1 and payload.endswith(b"\r\n"):
        payload = payload[:-2]
    return payload.decode("ascii", errors="backslashreplace")


def segments_from_tcpdump(path):
    """(source, destination, flags, payload) of each TCP segment of the capture file that the
    log shows (one of the six flags set), in order."""
    segments = []
    for source, destination, flag_byte, payload in winelab.tcp_segments(path):
        flags = tuple(name for name in FLAG_NAMES if flag_byte & FLAG_BITS[name])
        if flags:
            segments.append((source, destination, flags, shown_payload(payload)))
    return segments


def segments_from_log(text):
    segments = []
    for line in text.replace("\r\n", "\n").split("\n"):
        if not line:
            continue
        match = LINE.match(line)
        if not match:
            raise Failure(f"a log line of an unknown form: {line!r}")
        source, source_port, destination, destination_port, cells, payload = match.groups()
        flags = tuple(cells[4 * i:4 * i + 3] for i in range(6) if cells[4 * i:4 * i + 3].strip())
        segments.append((f"{source}:{source_port}", f"{destination}:{destination_port}", flags,
                         payload))
    return segments


def by_direction(segments):
    directions = collections.defaultdict(list)
    for source, destination, flags, payload in segments:
        directions[(source, destination)].append((" ".join(flags), payload))
    return directions


def described(segments):
    return ", ".join(f"{flags}" + (f" {payload[:24]!r}" + ("..." if len(payload) > 24 else "")
                                   if payload else "") for flags, payload in segments)


def compare(logged, dumped, sent):
    problems = []
    if not dumped:
        problems.append("tcpdump saw no segment")
    logged_directions, dumped_directions = by_direction(logged), by_direction(dumped)
    for direction in sorted(set(logged_directions) | set(dumped_directions)):
        if logged_directions[direction] != dumped_directions[direction]:
            problems.append(f"{direction[0]} => {direction[1]}:\n"
                            f"  log:     {described(logged_directions[direction])}\n"
                            f"  tcpdump: {described(dumped_directions[direction])}")
    payloads = collections.Counter(segment[3] for segment in logged)
    for message in map(shown_payload, sent):
        if payloads[message] != 1:
            problems.append(f"{message[:24]!r} is in the log {payloads[message]} times, not once")
    if problems:
        raise Failure("the log and tcpdump differ:\n" + "\n".join(problems))


def drive(lab, window, dump):
    """What a user does, up to the log in the clipboard; the log's text and the messages sent."""
    # The address, typed over what the field holds, then read back through the clipboard.
    window.click("EditIp")
    window.keys("ctrl+a")
    window.type(ADDRESS)
    window.keys("ctrl+a", "ctrl+c")
    winelab.wait_until(f"the address field holding {ADDRESS}",
                       lambda: window.clipboard() == ADDRESS, SECONDS, 0.1)

    window.click("Btn_StartStop")

    def started():
        if window.other_windows():
            raise Failure(f"Start showed {window.other_windows()}")
        return capture_socket_open(lab)
    winelab.wait_until("the capture's socket open after Start", started, SECONDS)

    sent = exchange(lab)
    winelab.wait_until("every connection of the exchange ended",
                       lab.connections_closed, SECONDS)
    dump.stop()

    window.click("Btn_StartStop")
    winelab.wait_until("the capture's socket closed after Stop",
                       lambda: not capture_socket_open(lab), SECONDS)
    if window.other_windows():
        raise Failure(f"Stop showed {window.other_windows()}")
    window.click("Ecr")
    window.keys("ctrl+a", "ctrl+c")

    def copied_log():
        text = window.clipboard()
        return text if text != ADDRESS else None
    return winelab.wait_until("the log copied (an empty log copies nothing)", copied_log,
                              SECONDS, 0.1), sent


def run(lab, program_path, work):
    pcap = os.path.join(work, "lo.pcap")
    with open(os.path.join(work, "program.log"), "w") as output, \
            lab.tcpdump(pcap, "tcp") as dump:
        program = lab.windows(program_path, stdin=subprocess.DEVNULL, stdout=output,
                              stderr=subprocess.STDOUT)
        window = Window(lab, program)
        try:
            text, sent = drive(lab, window, dump)
        except (Failure, TimeoutError) as failure:
            shot = os.path.abspath(SCREENSHOT)
            window.screenshot(shot)
            raise Failure(f"{failure} (the screen then: {shot})") from None
    logged, dumped = segments_from_log(text), segments_from_tcpdump(pcap)
    compare(logged, dumped, sent)
    print(f"the log and tcpdump agree on {len(logged)} segments")


def main():
    options = winelab.test_options("program")
    for tool, package in (("xdotool", "xdotool"), ("xclip", "xclip")):
        if not shutil.which(tool):
            print(f"SKIP: the window test in the capture lab needs {tool} ({package})",
                  file=sys.stderr)
            return winelab.SKIP_STATUS
    if not os.path.isfile(options.program):
        print(f"the program is not built: '{options.program}'", file=sys.stderr)
        return 1
    work = tempfile.mkdtemp(prefix="winelab-window-")
    try:
        with winelab.Lab(options.wine, options.preload, options.proxy, options.prefix,
                         display=True) as lab:
            run(lab, options.program, work)
        return 0
    except winelab.Unavailable as reason:
        print(f"SKIP: the capture lab under wine {reason}", file=sys.stderr)
        return winelab.SKIP_STATUS
    except (Failure, TimeoutError) as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        log = os.path.join(work, "program.log")
        if os.path.exists(log) and os.path.getsize(log):
            print("The program's output:\n" + open(log, errors="replace").read(),
                  file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
