#!/usr/bin/env python3
"""The capture lab: a Windows program captures real traffic under wine.

The lab runs a Windows program under wine inside a network namespace of its own, whose
loopback is up, with two shims that let the unchanged program's raw Winsock capture work:

- the wine server, which makes every socket of its programs, runs with a preloaded library
  (raw_socket_preload.c) that turns the raw IPv4 or IPv6 socket of protocol 0 a receive-all
  capture opens, which Linux refuses, into a raw TCP socket, which Linux gives root;
- the program finds the lab's ws2_32.dll beside it (ws2_32_proxy.c, with ws2_32=n,b), which
  hands everything on to wine's own ws2_32 but answers WSAIoctl(SIO_RCVALL), which wine lacks.

The raw IPv4 socket receives each datagram with its header. The raw IPv6 socket receives the
TCP segment alone, as Linux delivers it; WSARecvMsg tells its source (the message's name) and
its destination (IPV6_PKTINFO, which wine passes through), as Windows documents they are told.

What the lab cannot show:
- TCP only: the raw sockets receive TCP datagrams and nothing else.
- Only the datagrams addressed to the bound address arrive. On the namespace's loopback every
  datagram of a local exchange is also received, so both directions arrive; on a real card only
  the inbound ones would.
- Whether Windows delivers a datagram to a raw IPv6 socket with its header: the lab delivers it
  without.
- No receive-all semantics: RCVALL_ON and RCVALL_IPLEVEL change nothing, and no other host's
  traffic or promiscuous mode can be seen. RCVALL_OFF stops the socket's receiving (what it
  holds stays to be read), as on Windows; the socket also receives before receive-all is on.
- A raw socket gets the receive buffer it asks for (SO_RCVBUF), as on Windows.
- No elevation prompt (everything runs as root) and no adapter that goes down.
It tests the program's use of Winsock, not Windows.

Usage (the mingw build writes build-mingw/winelab/winelab-run, this with its paths given):
  winelab.py --wine WINE --preload LIB --proxy DLL --prefix DIR
             [--display] [--tcpdump FILE] [--timeout SECONDS] PROGRAM.exe [ARGS...]
It exits with the program's status, or with 77 after the reason when the lab cannot run here.
--display gives the program a virtual display of its own (Xvfb); --tcpdump writes what passed
on the namespace's loopback while the program ran to a capture file (pcap).

As a module, Lab gives a test harness the namespace: Windows programs (windows), Linux
programs (linux), sockets (socket), tcpdump (tcpdump) and the kernel's socket tables (net);
tcp_segments reads the TCP segments of a capture file.
Everything the lab starts ends with it, on every path. A wine prefix serves one lab at a time:
a lab waits for the one before it.
"""

import argparse
import contextlib
import ctypes
import fcntl
import os
import re
import secrets
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

SKIP_STATUS = 77
DLL_OVERRIDES = "mscoree,mshtml=;ws2_32=n,b"
NETNS_PREFIX = "quorvel-winelab-"
CLONE_NEWNET = 0x40000000
PR_SET_CHILD_SUBREAPER = 36
SET_UP_SECONDS = 240  # a first run makes the wine prefix, which takes a while on a busy machine

_libc = ctypes.CDLL(None, use_errno=True)


class Unavailable(Exception):
    """The lab cannot run on this machine; the message says why."""


class Failure(Exception):
    """A test of the lab failed; the message says how."""


def receive(connection, size):
    """Exactly `size` bytes from a connected socket."""
    data = b""
    while len(data) < size:
        chunk = connection.recv(size - len(data))
        if not chunk:
            raise Failure("a connection of the exchange ended early")
        data += chunk
    return data


def test_options(program_option):
    """A lab test's options: --wine, --preload, --proxy, --prefix and `program_option`. From
    here on SIGTERM and SIGHUP end the test by an exit, so that its lab is ended in order."""
    parser = argparse.ArgumentParser()
    for option in ("wine", "preload", "proxy", "prefix", program_option):
        parser.add_argument(f"--{option}", default="")
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, lambda received, _: sys.exit(128 + received))
    return parser.parse_args()


def wait_until(what, probe, seconds, interval=0.05):
    """Polls `probe` until it returns something true, and returns that; fails after `seconds`."""
    deadline = time.monotonic() + seconds
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TimeoutError(f"{what}: not within {seconds} s")
        time.sleep(interval)


def _in_netns(name, command):
    # setpriv: a process of the lab dies with the lab, even when the lab is killed outright.
    return ["ip", "netns", "exec", name, "setpriv", "--pdeathsig", "KILL", "--", *command]


def _quiet(command, **kwargs):
    return subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True, **kwargs)


def _end(process, seconds):
    try:
        process.wait(seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def _kill_all_in(netns):
    """Kills every process of a namespace, until none is left."""
    def pids():
        listed = subprocess.run(["ip", "netns", "pids", netns], capture_output=True, text=True)
        return [int(pid) for pid in listed.stdout.split()]

    def none_left():
        for pid in pids():
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
        _reap_children()
        return not pids()
    wait_until(f"the processes of {netns} ending", none_left, 30)


def _reap_children():
    """Collects the children that have ended, wine's orphans among them."""
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if not pid:
            return


def read_pcap(path):
    """The frames of a classic pcap file of link type Ethernet, as (offset, seconds, frame)."""
    with open(path, "rb") as file:
        data = file.read()
    records = []
    if len(data) < 24:
        return records
    magic, = struct.unpack_from("<I", data, 0)
    if magic not in (0xA1B2C3D4, 0xA1B23C4D):
        raise ValueError(f"{path}: not a pcap file of this machine's byte order")
    scale = 1e-6 if magic == 0xA1B2C3D4 else 1e-9
    if struct.unpack_from("<I", data, 20)[0] != 1:
        raise ValueError(f"{path}: not Ethernet")
    at = 24
    while at + 16 <= len(data):
        seconds, fraction, length, _ = struct.unpack_from("<IIII", data, at)
        if at + 16 + length > len(data):
            break  # being written
        records.append((at, seconds + fraction * scale, data[at + 16:at + 16 + length]))
        at += 16 + length
    return records


def ipv4_of(frame):
    """The IPv4 datagram an Ethernet frame carries, or None."""
    if len(frame) >= 34 and frame[12:14] == b"\x08\x00":
        return frame[14:]
    return None


def tcp_segments(path):
    """(source, destination, flag byte, payload) of each TCP segment of a capture file, in
    order; the end points as the program's log writes them, "192.0.2.1:80" or
    "[2001:db8::1]:80". IPv6 datagrams with extension headers are left out: the lab's
    exchanges send none."""
    segments = []
    for _, _, frame in read_pcap(path):
        datagram = ipv4_of(frame)
        if datagram and datagram[9] == 6:
            header = (datagram[0] & 0x0F) * 4
            total, = struct.unpack_from("!H", datagram, 2)
            segment = datagram[header:total]
            source = socket.inet_ntoa(datagram[12:16])
            destination = socket.inet_ntoa(datagram[16:20])
        elif len(frame) >= 54 and frame[12:14] == b"\x86\xdd" and frame[20] == 6:
            datagram = frame[14:]
            payload_length, = struct.unpack_from("!H", datagram, 4)
            segment = datagram[40:40 + payload_length]
            source = f"[{socket.inet_ntop(socket.AF_INET6, datagram[8:24])}]"
            destination = f"[{socket.inet_ntop(socket.AF_INET6, datagram[24:40])}]"
        else:
            continue
        source_port, destination_port = struct.unpack_from("!HH", segment, 0)
        segments.append((f"{source}:{source_port}", f"{destination}:{destination_port}",
                         segment[13], segment[(segment[12] >> 4) * 4:]))
    return segments


class Tcpdump:
    """tcpdump on the namespace's loopback, writing a capture file, from start to stop.

    Stop first sends the lab's mark, a UDP datagram to 127.0.0.1 port 9, waits until tcpdump has
    written it, so that everything before it is in the file, then cuts it off: the file holds
    exactly what passed before the stop.
    """

    def __init__(self, lab, path, expression=None):
        self._lab = lab
        self._path = path
        self._mark = b"winelab mark " + secrets.token_hex(8).encode()
        # Not --immediate-mode: its small ring loses packets after a large one.
        command = ["tcpdump", "-i", "lo", "-n", "-U", "-Z", "root", "-w", path]
        if expression:
            command.append(f"({expression}) or (udp dst port 9)")
        self._process = lab.linux(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self._stderr = b""
        # tcpdump says "listening on lo" once its capture is open.
        wait_until("tcpdump listening", self._listening, 30)

    def _listening(self):
        if self._process.poll() is not None:
            raise RuntimeError("tcpdump ended: " + self._stderr.decode(errors="replace") +
                               self._process.stderr.read().decode(errors="replace"))
        while select.select([self._process.stderr], [], [], 0)[0]:
            chunk = os.read(self._process.stderr.fileno(), 4096)
            if not chunk:
                break
            self._stderr += chunk
        return b"listening on" in self._stderr

    def _mark_offset(self):
        for offset, _, frame in read_pcap(self._path):
            datagram = ipv4_of(frame)
            if datagram and datagram[9] == 17:
                header = (datagram[0] & 0x0F) * 4
                port, = struct.unpack_from("!H", datagram, header + 2)
                if port == 9 and datagram[header + 8:] == self._mark:
                    return offset
        return None

    def stop(self):
        if self._process is None:
            return
        try:
            with self._lab.socket(socket.AF_INET, socket.SOCK_DGRAM) as mark:
                mark.sendto(self._mark, ("127.0.0.1", 9))
            offset = wait_until("tcpdump writing the lab's mark", self._mark_offset, 30)
        finally:
            self._process.send_signal(signal.SIGINT)
            try:
                self._stderr += self._process.communicate(timeout=30)[1]
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
            self._process.stderr.close()
            self._process = None
        os.truncate(self._path, offset)
        dropped = re.search(rb"(\d+) packets? dropped by kernel", self._stderr)
        if not dropped or int(dropped.group(1)) != 0:
            raise RuntimeError("tcpdump lost packets: " + self._stderr.decode(errors="replace"))

    def __enter__(self):
        return self

    def __exit__(self, kind, value, traceback):
        if kind is None:
            self.stop()
        elif self._process is not None:
            self._process.kill()
            self._process.wait()
            self._process.stderr.close()
            self._process = None


class Lab:
    """A network namespace with its loopback up, and a wine server in it that makes raw TCP
    sockets of the raw sockets of protocol 0; optionally a virtual display. Use with `with`."""

    def __init__(self, wine, preload, proxy, prefix, display=False):
        self.wine = wine
        self.wineserver = os.path.join(os.path.dirname(wine or ""), "wineserver")
        self.preload = preload
        self.proxy = proxy
        self.prefix = os.path.abspath(prefix)
        self.display = display
        self.netns = f"{NETNS_PREFIX}{os.getpid()}"
        self._lock = None
        self._netns_made = False
        self._xvfb = None
        self._server = None
        self._stage = None
        self._programs = []
        self.env = None

    # -- What the lab needs --------------------------------------------------------------------

    def unavailable(self):
        """Why the lab cannot run here, or None."""
        if os.geteuid() != 0:
            return "needs root (a network namespace and raw sockets)"
        for tool, package in (("ip", "iproute2"), ("setpriv", "util-linux"),
                              ("tcpdump", "tcpdump")):
            if not shutil.which(tool):
                return f"needs {tool} ({package})"
        if self.display and not shutil.which("Xvfb"):
            return "needs Xvfb (xvfb)"
        if not self.wine or not os.access(self.wine, os.X_OK):
            return f"needs wine64 (wine64), not found at '{self.wine or ''}'"
        if not os.access(self.wineserver, os.X_OK):
            return f"needs wineserver beside wine, not found at '{self.wineserver}'"
        if not self.preload or not os.path.isfile(self.preload):
            return ("needs the Linux build's preload library: build it (target "
                    "quorvel_winelab_preload) and configure the mingw build with "
                    "-DQUORVEL_WINELAB_PRELOAD=<build>/lib/libquorvel_winelab_preload.so"
                    f" (given: '{self.preload or ''}')")
        if not self.proxy or not os.path.isfile(self.proxy):
            return f"needs the mingw build's ws2_32 proxy, not found at '{self.proxy or ''}'"
        return None

    # -- Set-up and tear-down ------------------------------------------------------------------

    def __enter__(self):
        reason = self.unavailable()
        if reason:
            raise Unavailable(reason)
        try:
            self._set_up()
        except BaseException:
            self._tear_down()
            raise
        return self

    def __exit__(self, kind, value, traceback):
        self._tear_down()

    def _set_up(self):
        # Wine's own processes outlive the program that started them: they become ours, to be
        # collected.
        _libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
        os.makedirs(self.prefix, exist_ok=True)
        self._lock = open(self.prefix + ".lock", "w")
        wait_until("the wine prefix, used by another lab", self._try_lock, 600, 0.2)
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES=DLL_OVERRIDES)
        self.env.pop("LD_PRELOAD", None)
        self._remove_stale()

        made = _quiet(["ip", "netns", "add", self.netns])
        if made.returncode != 0:
            raise Unavailable(f"cannot create a network namespace: {made.stderr.strip()}")
        self._netns_made = True
        if _quiet(["ip", "-n", self.netns, "link", "set", "lo", "up"]).returncode != 0:
            raise RuntimeError("cannot bring the namespace's loopback up")

        if self.display:
            self._start_display()
        else:
            self.env.pop("DISPLAY", None)
        self._start_server()
        if not os.path.exists(os.path.join(self.prefix, "system.reg")):
            # A new prefix: the registry is written when the server ends, so a prefix whose
            # making was cut short is made again.
            boot = subprocess.run(_in_netns(self.netns, [self.wine, "wineboot", "--init"]),
                                  env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  timeout=SET_UP_SECONDS)
            if boot.returncode != 0:
                raise RuntimeError(f"wineboot --init ended with {boot.returncode}")
        self._stage = tempfile.mkdtemp(prefix="winelab-")
        os.symlink(os.path.abspath(self.proxy), os.path.join(self._stage, "ws2_32.dll"))

    def _try_lock(self):
        try:
            fcntl.flock(self._lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return True
        except BlockingIOError:
            return False

    def _remove_stale(self):
        """What a lab killed outright left: its namespace, with what still runs there."""
        names = subprocess.run(["ip", "netns", "list"], capture_output=True, text=True).stdout
        for line in names.splitlines():
            name = (line.split() or [""])[0]
            pid = name[len(NETNS_PREFIX):]
            if name.startswith(NETNS_PREFIX) and pid.isdigit() and \
                    not os.path.exists(f"/proc/{pid}"):
                _kill_all_in(name)
                _quiet(["ip", "netns", "del", name])
        _quiet([self.wineserver, "-k"], env=self.env, timeout=60)

    def _start_display(self):
        read_end, write_end = os.pipe()
        try:
            self._xvfb = subprocess.Popen(
                _in_netns(self.netns, ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                       "1280x1024x24", "-nolisten", "tcp"]),
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
            os.close(write_end)
            write_end = -1
            number = b""
            # Xvfb writes its display's number once it accepts clients.
            with os.fdopen(read_end, "rb", buffering=0) as pipe:
                read_end = -1
                deadline = time.monotonic() + 60
                while not number.endswith(b"\n"):
                    if not select.select([pipe], [], [], max(0, deadline - time.monotonic()))[0]:
                        raise TimeoutError("Xvfb: no display within 60 s")
                    chunk = pipe.read(16)
                    if not chunk:
                        raise RuntimeError("Xvfb ended before it had a display")
                    number += chunk
            self.env["DISPLAY"] = ":" + number.decode().strip()
        finally:
            for fd in (read_end, write_end):
                if fd >= 0:
                    os.close(fd)

    def _start_server(self):
        self._server = subprocess.Popen(
            _in_netns(self.netns, ["env", f"LD_PRELOAD={os.path.abspath(self.preload)}",
                                   self.wineserver, "-f", "-p"]),
            env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE)
        # Until it listens, a wine program would start a server of its own, without the preload.
        wait_until("the wine server listening", self._server_listening, 60)
        with open(f"/proc/{self._server.pid}/maps") as maps:
            if os.path.realpath(self.preload) not in maps.read():
                raise RuntimeError("the wine server runs without the preload library")

    def _server_listening(self):
        if self._server.poll() is not None:
            raise RuntimeError("the wine server ended: " +
                               self._server.stderr.read().decode(errors="replace").strip())
        inodes = set()
        try:
            for fd in os.listdir(f"/proc/{self._server.pid}/fd"):
                target = os.readlink(f"/proc/{self._server.pid}/fd/{fd}")
                if target.startswith("socket:["):
                    inodes.add(target[8:-1])
        except FileNotFoundError:
            return False
        for line in self.net("unix").splitlines()[1:]:
            fields = line.split()
            # Flags 00010000: a listening socket.
            if len(fields) >= 7 and fields[3] == "00010000" and fields[6] in inodes:
                return True
        return False

    def _tear_down(self):
        # A stop asked for meanwhile comes once all is down.
        stops = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}
        blocked = signal.pthread_sigmask(signal.SIG_BLOCK, stops)
        try:
            self._take_down()
        finally:
            signal.pthread_sigmask(signal.SIG_SETMASK, blocked)

    def _take_down(self):
        problems = []

        def attempt(what, step):
            try:
                step()
            except Exception as error:  # the other steps still run
                problems.append(f"{what}: {error}")

        if self._server is not None:
            attempt("wineserver -k", lambda: _quiet([self.wineserver, "-k"], env=self.env,
                                                    timeout=60))
            attempt("the wine server ending", lambda: _end(self._server, 30))
            self._server.stderr.close()
            self._server = None
        if self._xvfb is not None:
            self._xvfb.terminate()  # which removes its lock files
            attempt("Xvfb ending", lambda: _end(self._xvfb, 30))
            self._xvfb = None
        if self._netns_made:
            # A wine process caught starting when its server ended waits for it for ever.
            attempt("the namespace's processes ending", lambda: _kill_all_in(self.netns))
        for program in self._programs:
            attempt("a program ending", lambda: _end(program, 30))
        self._programs = []
        _reap_children()
        if self._netns_made:
            attempt("ip netns del", lambda: _quiet(["ip", "netns", "del", self.netns],
                                                   check=True))
            self._netns_made = False
        if self._stage:
            shutil.rmtree(self._stage, ignore_errors=True)
            self._stage = None
        if self._lock:
            self._lock.close()
            self._lock = None
        for problem in problems:
            print(f"winelab: tear-down: {problem}", file=sys.stderr)

    # -- What a test uses ----------------------------------------------------------------------

    def windows(self, program, arguments=(), **popen):
        """Starts a Windows program under wine in the namespace, with the lab's ws2_32 beside
        it (the program is linked into a directory of the lab's own)."""
        staged = os.path.join(self._stage, os.path.basename(program))
        if not os.path.lexists(staged):
            os.symlink(os.path.abspath(program), staged)
        process = subprocess.Popen(_in_netns(self.netns, [self.wine, staged, *arguments]),
                                   env=self.env, **popen)
        self._programs.append(process)
        return process

    def linux(self, command, **popen):
        """Starts a Linux program in the namespace, with the lab's display, if any."""
        return subprocess.Popen(_in_netns(self.netns, command), env=self.env, **popen)

    def socket(self, family, kind, protocol=0):
        """A socket of the namespace (the calling thread enters it for the while)."""
        home = os.open("/proc/thread-self/ns/net", os.O_RDONLY | os.O_CLOEXEC)
        target = os.open(f"/run/netns/{self.netns}", os.O_RDONLY | os.O_CLOEXEC)
        try:
            if _libc.setns(target, CLONE_NEWNET) != 0:
                raise OSError(ctypes.get_errno(), f"cannot enter {self.netns}")
            try:
                return socket.socket(family, kind, protocol)
            finally:
                if _libc.setns(home, CLONE_NEWNET) != 0:
                    raise OSError(ctypes.get_errno(), "cannot return from the namespace")
        finally:
            os.close(home)
            os.close(target)

    def net(self, table):
        """A kernel socket table of the namespace, /proc/net/<table> (tcp, raw, unix...)."""
        with open(f"/proc/{self._server.pid}/net/{table}") as file:
            return file.read()

    def connections_closed(self):
        """Whether every TCP connection of the namespace has ended, its last segment received."""
        time_wait = "06"
        return all(line.split()[3] == time_wait
                   for table in ("tcp", "tcp6") for line in self.net(table).splitlines()[1:])

    def tcpdump(self, path, expression=None):
        """tcpdump on the namespace's loopback into `path` until stopped (see Tcpdump)."""
        return Tcpdump(self, path, expression)


def main():
    parser = argparse.ArgumentParser(
        description="Runs a Windows program in the capture lab under wine.")
    parser.add_argument("--wine", required=True)
    parser.add_argument("--preload", default="")
    parser.add_argument("--proxy", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--display", action="store_true")
    parser.add_argument("--tcpdump", metavar="FILE")
    parser.add_argument("--timeout", type=float, default=600)
    parser.add_argument("program")
    parser.add_argument("arguments", nargs=argparse.REMAINDER)
    options = parser.parse_args()
    # Ends the lab in order also when stopped.
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, lambda received, _: sys.exit(128 + received))
    try:
        with Lab(options.wine, options.preload, options.proxy, options.prefix,
                 options.display) as lab:
            dump = (lab.tcpdump(os.path.abspath(options.tcpdump)) if options.tcpdump
                    else contextlib.nullcontext())
            with dump:
                program = lab.windows(options.program, options.arguments,
                                      stdin=subprocess.DEVNULL)
                try:
                    return program.wait(options.timeout)
                except subprocess.TimeoutExpired:
                    print(f"winelab: {options.program} did not end within {options.timeout} s",
                          file=sys.stderr)
                    return 124
    except Unavailable as reason:
        print(f"SKIP: the capture lab under wine {reason}", file=sys.stderr)
        return SKIP_STATUS


if __name__ == "__main__":
    sys.exit(main())
