#!/usr/bin/env python3
"""The Winsock capture under a loopback flood, in the capture lab (tests/winelab): figures,
not a test. Run as root after the mingw build (build-mingw/winelab/bench-winsock-flood gives
the paths); each part takes about a minute.

1. The layer: bench_winsock_flood.exe captures 127.0.0.1 through the capture thread while
   flood.py sends numbered resets at rising rates for SECONDS each. A rate is kept up when
   every segment sent was taken and, when the flood ended, at most 5 % still waited in the
   socket's buffer (which would hide a lag for a while).
2. CPU per segment: the unchanged quorvel.exe, capturing (Start pressed on a virtual display,
   as test_window_capture.py does), against `tcpdump -w /dev/null` on the same loopback, each
   under the same flood: the CPU time of its process over the flood and until it is idle
   again, per segment sent. For quorvel.exe, the wine server's time (every socket call of a
   wine program passes through it) is given apart.

Both run under the lab's shims: a raw TCP socket of Linux behind wine's Winsock, which is not
Windows' own stack; the figures compare the program with tcpdump on this machine, no more.

Usage: bench_winsock_flood.py --wine=WINE --preload=LIB --proxy=DLL --prefix=DIR
       --bench=EXE --program=EXE [--seconds S] [--rates R,R,...] [--cpu-rate R] [--only PART]
"""

import argparse
import os
import select
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
LAB = os.path.join(os.path.dirname(HERE), "tests", "winelab")
sys.dont_write_bytecode = True
sys.path.insert(0, LAB)
import winelab  # noqa: E402
import test_window_capture as window_test  # noqa: E402

FLOOD = os.path.join(LAB, "flood.py")
ADDRESS = "127.0.0.1"


class Lines:
    """The lines a process writes on its standard output, as they come."""

    def __init__(self, process):
        self.process = process
        self.lines = []
        self._buffer = b""

    def read(self):
        while select.select([self.process.stdout], [], [], 0)[0]:
            chunk = os.read(self.process.stdout.fileno(), 1 << 16)
            if not chunk:
                break
            self._buffer += chunk
        *complete, self._buffer = self._buffer.split(b"\n")
        self.lines += [line.decode(errors="replace").strip() for line in complete]
        return self.lines

    def wait(self, what, predicate, seconds=60):
        return winelab.wait_until(what, lambda: predicate(self.read()), seconds)

    def last(self, word):
        for line in reversed(self.read()):
            if line.startswith(word + " "):
                return line.split()
        return None


def flood(lab, rate, count):
    """Runs flood.py to its end: (segments sent, seconds it took)."""
    started = time.monotonic()
    process = lab.linux([sys.executable, FLOOD, f"--rate={rate}", f"--count={count}"],
                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    out, errors = process.communicate(timeout=600)
    if process.returncode != 0:
        raise RuntimeError(f"flood.py: {errors}")
    return int(out.split()[-1]), time.monotonic() - started


def layer_round(lab, bench, rate, seconds):
    process = lab.windows(bench, [ADDRESS], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT)
    out = Lines(process)
    out.wait("the capture ready", lambda lines: "ready" in lines or process.poll() is not None)
    if "ready" not in out.lines:
        raise RuntimeError(f"bench_winsock_flood.exe: {out.lines}")
    sent, took = flood(lab, rate, int(rate * seconds) if rate else int(400000 * seconds))

    def taken():
        last = out.last("taken")
        return int(last[1]) if last else 0
    at_end = taken()
    # What waited in the socket's buffer: taken until nothing more comes for two seconds.
    seen, still = at_end, time.monotonic()
    while taken() < sent and time.monotonic() - still < 2:
        if taken() != seen:
            seen, still = taken(), time.monotonic()
        time.sleep(0.05)
    process.stdin.write(b"stop\n")
    process.stdin.close()
    out.wait("the capture's end", lambda lines: any("dropped" in line for line in lines))
    process.wait(60)
    final = out.last("taken")
    return {"rate": rate, "sent": sent, "seconds": took, "at_end": at_end,
            "taken": int(final[1]), "dropped": int(final[3])}


def part_layer(options):
    print(f"1. The Winsock layer through the capture thread, {options.seconds} s per rate")
    print(f"{'asked/s':>9} {'sent/s':>9} {'sent':>9} {'taken':>9} {'lost':>8} "
          f"{'waiting at end':>15}  kept up")
    best = 0
    with winelab.Lab(options.wine, options.preload, options.proxy, options.prefix) as lab:
        for rate in [int(r) for r in options.rates.split(",")] + [0]:
            r = layer_round(lab, options.bench, rate, options.seconds)
            lost = r["sent"] - r["taken"]
            waiting = (r["sent"] - r["at_end"]) / max(r["sent"], 1)
            kept = lost == 0 and waiting <= 0.05 and r["dropped"] == 0
            if kept and rate:
                best = max(best, r["sent"] / r["seconds"])
            print(f"{rate or 'full':>9} {r['sent'] / r['seconds']:>9.0f} {r['sent']:>9} "
                  f"{r['taken']:>9} {lost:>8} {waiting:>14.0%}  {'yes' if kept else 'no'}")
            if rate and not kept:
                break
    print(f"kept up with {best:.0f} segments/s at most")
    return best


def pids(lab, name):
    found = []
    listed = subprocess.run(["ip", "netns", "pids", lab.netns], capture_output=True, text=True)
    for pid in listed.stdout.split():
        try:
            with open(f"/proc/{pid}/comm") as comm:
                if comm.read().strip() == name:
                    found.append(int(pid))
        except FileNotFoundError:
            pass
    return found


def cpu_seconds(pid_list):
    """The CPU time of the processes' threads, in nanoseconds from the scheduler's own count
    (finer than utime and stime's ticks); a thread that ended meanwhile is not counted."""
    total = 0
    for pid in pid_list:
        for task in os.listdir(f"/proc/{pid}/task"):
            try:
                with open(f"/proc/{pid}/task/{task}/schedstat") as stat:
                    total += int(stat.read().split()[0])
            except FileNotFoundError:
                pass
    return total / 1e9


def measured(lab, processes, rate, seconds):
    """CPU seconds of each named group over a flood and until they are idle: (sent, {name:
    seconds})."""
    before = {name: cpu_seconds(group) for name, group in processes.items()}
    sent, _ = flood(lab, rate, int(rate * seconds))
    # Until they are idle: under 2 % of a core over a quarter of a second (the window's timer
    # ticks on), or 30 s.
    last, until = None, time.monotonic() + 30
    while time.monotonic() < until:
        now = sum(cpu_seconds(group) for group in processes.values())
        if last is not None and now - last < 0.005:
            break
        last = now
        time.sleep(0.25)
    return sent, {name: cpu_seconds(group) - before[name] for name, group in processes.items()}


def part_cpu(options, rate):
    print(f"\n2. CPU per segment at {rate} segments/s for {options.seconds} s")
    with winelab.Lab(options.wine, options.preload, options.proxy, options.prefix,
                     display=True) as lab:
        program = lab.windows(options.program, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        window = window_test.Window(lab, program)
        window.click("EditIp")
        window.keys("ctrl+a")
        window.type(ADDRESS)
        window.click("Btn_StartStop")
        winelab.wait_until("the capture's socket open",
                           lambda: window_test.capture_socket_open(lab), 60)
        groups = {"quorvel.exe": pids(lab, "quorvel.exe"),
                  "wineserver": pids(lab, "wineserver64") or pids(lab, "wineserver")}
        sent, cpu = measured(lab, groups, rate, options.seconds)
        window.click("Btn_StartStop")
        for name, seconds in cpu.items():
            print(f"{name:>12}: {seconds:6.2f} s CPU, {seconds / sent * 1e6:7.2f} us a segment")

        dump = lab.linux(["tcpdump", "-i", "lo", "-n", "-w", "/dev/null"],
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        said = b""

        def listening():
            nonlocal said
            if select.select([dump.stderr], [], [], 0)[0]:
                said += os.read(dump.stderr.fileno(), 4096)
            return b"listening on" in said
        winelab.wait_until("tcpdump listening", listening, 30)
        sent, cpu = measured(lab, {"tcpdump": [dump.pid]}, rate, options.seconds)
        dump.send_signal(signal.SIGINT)
        said += dump.communicate(timeout=30)[1]
        print(f"{'tcpdump':>12}: {cpu['tcpdump']:6.2f} s CPU, "
              f"{cpu['tcpdump'] / sent * 1e6:7.2f} us a segment "
              f"({said.decode(errors='replace').strip().splitlines()[-1]})")


def main():
    parser = argparse.ArgumentParser()
    for option in ("wine", "preload", "proxy", "prefix", "bench", "program"):
        parser.add_argument(f"--{option}", required=True)
    parser.add_argument("--seconds", type=float, default=5)
    parser.add_argument("--rates", default="2500,5000,10000,15000,20000,30000,40000,60000")
    parser.add_argument("--cpu-rate", type=int, default=0,
                        help="the flood's rate for part 2 (default: what part 1 kept up with)")
    parser.add_argument("--only", choices=("layer", "cpu"))
    options = parser.parse_args()
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, lambda received, _: sys.exit(128 + received))
    try:
        best = part_layer(options) if options.only != "cpu" else 0
        if options.only != "layer":
            part_cpu(options, options.cpu_rate or int(best // 1000 * 1000) or 20000)
    except winelab.Unavailable as reason:
        print(f"the capture lab under wine {reason}", file=sys.stderr)
        return winelab.SKIP_STATUS
    return 0


if __name__ == "__main__":
    sys.exit(main())
