#!/usr/bin/env python3
"""Live capture at top speed, against tcpdump, inside network namespaces made for the run.

A peer namespace sends the first 65,535 of the 65,536 mixed frames of bench/gen_traffic with
`tcpreplay --topspeed` over a veth pair, REPEAT times for each capturer (one frame fewer than the
store holds: a full store ends the capture by itself, and the burst alone is measured on a
capturer that still runs); each time tcpdump captures on the other end
together with one of the capturers below, both writing a libpcap file to memory (tmpfs: the
program refuses a device such as /dev/null as its output):
  (a) tidewatch --capture --method 3   (b) the window, offscreen, method 3
  (c) tidewatch --capture --method 1   (its share: the IPv4 frames)
  (d) tidewatch --capture --method 2   (e) the Network Monitor provider alone (netmon_delivery)
The capturers run as nobody with no capability of their own: they capture through a copy of the
capture helper (tidewatch-capture, cap_net_raw=ep, in a folder of root's made for the run), as a
member of the group tidewatch does; with "root" as the fourth argument they run as root and open
their sockets themselves, as before the helper.
For each run: frames sent, frames stored, received and dropped by the kernel, the send rate, and
the capturing process's CPU time (user + system), its helper's counted with it, for its whole
life, for the burst alone (until it is stopped) and for the burst and its end (the writing of
its file),
with tcpdump's beside it; then the medians and the median of the runs' ratios. For (b) the
window's longest event-loop stall; for (d) and (e) the provider's batch sizes.

With --filter EXPR, (a), (c) and (d) run twice, without and with the capture filter EXPR (tcpdump
gets it too), and the ratio of their burst CPU, filtered to unfiltered, is printed.

    sudo bench/compare_capture.py [--filter EXPR] [BUILD_DIR [REPEAT [CASES [helper|root]]]]
        (defaults: build/release, built here; 5; abcde, the letters of the capturers to run;
        helper)
"""
import os
import re
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FILTER = None
if len(sys.argv) > 2 and sys.argv[1] == "--filter":
    FILTER = sys.argv[2]
    del sys.argv[1:3]
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "release")
REPEAT = int(sys.argv[2]) if len(sys.argv) > 2 else 5
CASES = sys.argv[3] if len(sys.argv) > 3 else "abcde"
AS_ROOT = len(sys.argv) > 4 and sys.argv[4] == "root"
TAG = str(os.getpid() % 100000)
NS_A, NS_B, IF_A, IF_B = "twbA" + TAG, "twbB" + TAG, "twba" + TAG, "twbb" + TAG
ADDRESS_A = "10.215.0.1"


def run(*args, **kw):
    return subprocess.run(list(args), check=True, capture_output=True, text=True, **kw)


def in_ns(ns, *args):
    return ["ip", "netns", "exec", ns] + list(args)


def capturer(*args):
    """A capturer in namespace A: as nobody through the helper copy, or as root."""
    if AS_ROOT:
        return in_ns(NS_A, *args)
    return in_ns(NS_A, "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                 "--inh-caps=-all", "env", "TIDEWATCH_CAPTURE_HELPER=" + helper,
                 "XDG_CONFIG_HOME=" + work, "XDG_STATE_HOME=" + work, *args)


class Process:
    """A capturer started in namespace A; its CPU time comes from wait4 (ip netns exec execs)."""

    def __init__(self, argv, log):
        self.log = log
        self.file = open(log, "w+")
        self.proc = subprocess.Popen(argv, stdout=self.file, stderr=subprocess.STDOUT)

    def wait_for(self, text, limit=10.0):
        deadline = time.time() + limit
        while time.time() < deadline:
            if text in open(self.log).read():
                return True
            time.sleep(0.05)
        return False

    def finish(self, interrupt=True, limit=60.0):
        if interrupt:
            # Not Popen.send_signal: it reaps a capturer that already ended, and its usage with it.
            os.kill(self.proc.pid, signal.SIGINT)
        deadline = time.time() + limit
        while True:
            pid, status, usage = os.wait4(self.proc.pid, os.WNOHANG)
            if pid:
                break
            if time.time() > deadline:
                self.proc.kill()
                pid, status, usage = os.wait4(self.proc.pid, 0)
                break
            time.sleep(0.05)
        self.proc.returncode = status
        self.file.close()
        return usage.ru_utime + usage.ru_stime, open(self.log).read()


def children(pid):
    """The processes whose parent is pid."""
    found = []
    for entry in os.listdir("/proc"):
        try:
            stat = open(f"/proc/{entry}/stat").read() if entry.isdigit() else ""
            if stat and int(stat[stat.rindex(")") + 2:].split()[1]) == pid:
                found.append(int(entry))
        except (OSError, ValueError):
            pass
    return found


def thread_cpu(pid):
    """CPU time so far of the live threads of the process and of its children (the capture
    helper that streams libpcap's frames to it), in seconds (None when it has ended). A child
    that ends is added to the process's whole-life time by wait4 instead."""
    def nanoseconds(pid):
        with open(f"/proc/{pid}/stat") as stat:
            text = stat.read()
        if text[text.rindex(")") + 2] == "Z":  # ended: its threads' times are gone
            raise OSError("ended")
        total = 0
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/schedstat") as stat:
                total += int(stat.read().split()[0])
        for child in children(pid):
            try:
                total += nanoseconds(child)
            except OSError:
                pass
        return total
    try:
        return nanoseconds(pid) / 1e9
    except OSError:
        return None


def number(pattern, text):
    found = re.search(pattern, text)
    return int(found.group(1)) if found else -1


def kept(pcap, limit, expression):
    """The first `limit` frames of the file that the expression (None: any) keeps, as a file."""
    first, out = os.path.join(work, "first.pcap"), os.path.join(work, "kept.pcap")
    # -c counts the frames an expression keeps, not those read: the first ones are cut out first.
    run("tcpdump", "-Z", "root", "-r", pcap, "-c", str(limit), "-w", first)
    if not expression:
        return first
    run("tcpdump", "-Z", "root", "-r", first, "-w", out, expression)
    return out


def frame_count(pcap):
    data = open(pcap, "rb").read()
    count, at = 0, 24
    while at + 16 <= len(data):
        count += 1
        at += 16 + struct.unpack_from("<I", data, at + 8)[0]
    return count


def ipv4_frames(pcap, limit):
    data = open(pcap, "rb").read()
    count, at = 0, 24
    while at + 16 <= len(data) and limit > 0:
        limit -= 1
        captured = struct.unpack_from("<I", data, at + 8)[0]
        frame = data[at + 16: at + 16 + captured]
        count += len(frame) >= 14 and frame[12:14] == b"\x08\x00"
        at += 16 + captured
    return count


def burst(traffic, capturer_argv, ready_text, self_ending, name, expression=None):
    dump = Process(in_ns(NS_A, "tcpdump", "-i", IF_A, "-n", "-w", os.path.join(files, "tcpdump.pcap"),
                         *([expression] if expression else [])),
                   os.path.join(work, "tcpdump.log"))
    capturer = Process(capturer_argv, os.path.join(work, name + ".log"))
    if not dump.wait_for("listening on") or not capturer.wait_for(ready_text):
        dump.finish()
        capturer.finish()
        sys.exit("compare_capture: a capturer did not start:\n" + open(capturer.log).read())
    time.sleep(0.3)
    before = thread_cpu(capturer.proc.pid), thread_cpu(dump.proc.pid)
    started = time.time()
    replay = run(*in_ns(NS_B, "tcpreplay", "--topspeed", "--limit", str(frames), "-i", IF_B,
                        traffic))
    elapsed = time.time() - started
    sent = number(r"Successful packets:\s+(\d+)", replay.stdout)
    rate = re.search(r"([\d.]+) pps", replay.stdout)
    time.sleep(1.5)
    # The burst alone: until the capture is stopped. tcpdump has written its file by then;
    # tidewatch writes its store after the stop, which the next figure adds.
    at_stop = thread_cpu(capturer.proc.pid), thread_cpu(dump.proc.pid)
    # The burst and what follows it to the end: everything but start-up. A capturer that ended
    # by itself at a full store has no live threads left to read, so the end is its whole-life
    # time.
    cpu, log = capturer.finish(interrupt=not self_ending)
    dump_cpu, dump_log = dump.finish()
    for name in os.listdir(files):
        os.remove(os.path.join(files, name))
    burst_cpu = [None if b is None else a - b for b, a in zip(before, (cpu, dump_cpu))]
    only_burst = [None if b is None or a is None else a - b for b, a in zip(before, at_stop)]
    return {"sent": sent, "rate": float(rate.group(1)) if rate else sent / elapsed,
            "cpu": cpu, "log": log, "dump_cpu": dump_cpu, "burst_cpu": burst_cpu,
            "only_burst": only_burst,
            "dump_stored": number(r"(\d+) packets? captured", dump_log),
            "dump_dropped": number(r"(\d+) packets? dropped by kernel", dump_log)}


def case(label, argv, ready_text, self_ending, name, patterns, expected, expression=None):
    """REPEAT bursts of one capturer beside tcpdump: a line for each, then the medians. A VM's
    processor time varies from run to run by more than the differences looked for, so single
    runs say little; the ratio of each run is taken within that run."""
    runs = []
    if label[1] not in CASES:
        return runs
    print(label)
    for _ in range(REPEAT):
        r = burst(traffic, argv, ready_text, self_ending, name, expression)
        r["stored"], r["received"], r["dropped"] = (number(pattern, r["log"]) for pattern in patterns)
        own, dump = r["burst_cpu"]
        r["ratio"] = own / max(dump, 1e-6) if own is not None and dump is not None else None
        alone, dump_alone = r["only_burst"]
        r["burst_ratio"] = (alone / max(dump_alone, 1e-6)
                            if alone is not None and dump_alone is not None else None)
        runs.append(r)
        print(f"  sent {r['sent']} at {r['rate']:.0f}/s; stored {r['stored']} of {expected}, "
              f"kernel received {r['received']}, dropped {r['dropped']}; CPU whole life "
              f"{r['cpu'] * 1e3:.1f} ms (tcpdump {r['dump_cpu'] * 1e3:.1f}); burst and end "
              + (f"{own * 1e3:.1f} ms (tcpdump {dump * 1e3:.1f}), ratio {r['ratio']:.2f}"
                 if r["ratio"] is not None else "not measured")
              + ("; burst alone " + f"{alone * 1e3:.1f} ms (tcpdump {dump_alone * 1e3:.1f}), "
                 f"ratio {r['burst_ratio']:.2f}" if r["burst_ratio"] is not None else "")
              + f"; tcpdump stored {r['dump_stored']}, dropped {r['dump_dropped']}")
    if not runs:
        return runs
    sent = max(statistics.median(r["sent"] for r in runs), 1)
    whole = statistics.median(r["cpu"] for r in runs)
    whole_dump = statistics.median(r["dump_cpu"] for r in runs)
    print(f"  all runs stored {expected}: {all(r['stored'] == expected for r in runs)}; most "
          f"dropped {max(r['dropped'] for r in runs)}")
    print(f"  median CPU whole life {whole * 1e3:.1f} ms ({whole / sent * 1e6:.2f} us/frame), "
          f"tcpdump {whole_dump * 1e3:.1f} ms, ratio {whole / max(whole_dump, 1e-6):.2f}")
    for what, cpu, ratio in (("the burst and the end", "burst_cpu", "ratio"),
                             ("the burst alone", "only_burst", "burst_ratio")):
        measured = [r for r in runs if r[ratio] is not None]
        if not measured:
            continue
        own = statistics.median(r[cpu][0] for r in measured)
        dump = statistics.median(r[cpu][1] for r in measured)
        print(f"  median CPU for {what} {own * 1e3:.1f} ms ({own / sent * 1e6:.3f} "
              f"us/frame), tcpdump {dump * 1e3:.1f} ms ({dump / sent * 1e6:.3f} us/frame); median "
              f"ratio {statistics.median(r[ratio] for r in measured):.2f}")
    return runs


if os.geteuid() != 0:
    sys.exit("compare_capture: needs root (network namespaces)")
for tool in ("tcpdump", "tcpreplay", "ip"):
    if subprocess.run(["sh", "-c", "command -v " + tool], capture_output=True).returncode:
        sys.exit(f"compare_capture: {tool} is not installed (scripts/setup test)")
if not os.path.exists(os.path.join(BUILD, "build.ninja")):
    run("cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo")
run("ninja", "-C", BUILD, "tidewatch", "tidewatch-capture", "gen_traffic", "bench_live_window",
    "netmon_delivery")

work = tempfile.mkdtemp()
files = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
rights = tempfile.mkdtemp()  # root's, 0755: a folder only root can change
for folder, mode in ((work, 0o777), (files, 0o777), (rights, 0o755)):
    os.chmod(folder, mode)
helper = os.path.join(rights, "tidewatch-capture")
if not AS_ROOT:
    run("cp", os.path.join(BUILD, "tidewatch-capture"), helper)
    run("setcap", "cap_net_raw=ep", helper)
os.environ["XDG_CONFIG_HOME"] = work  # the runs' settings stay out of the user's
os.environ["XDG_STATE_HOME"] = work
traffic = os.path.join(work, "traffic.pcap")
run(os.path.join(BUILD, "bench", "gen_traffic"), traffic)
frames = 65535
try:
    run("ip", "netns", "add", NS_A)
    run("ip", "netns", "add", NS_B)
    run("ip", "link", "add", IF_A, "type", "veth", "peer", "name", IF_B)
    run("ip", "link", "set", IF_A, "netns", NS_A)
    run("ip", "link", "set", IF_B, "netns", NS_B)
    for ns, interface, address in ((NS_A, IF_A, ADDRESS_A), (NS_B, IF_B, "10.215.0.2")):
        run(*in_ns(ns, "sysctl", "-qw", f"net.ipv6.conf.{interface}.disable_ipv6=1"))
        run(*in_ns(ns, "ip", "addr", "add", address + "/24", "dev", interface))
        run(*in_ns(ns, "ip", "link", "set", interface, "up"))
    tidewatch = os.path.join(BUILD, "tidewatch")
    window = os.path.join(BUILD, "bench", "bench_live_window")
    out = os.path.join(files, "capture.pcap")

    stored_patterns = (r"(\d+) packets captured", r"(\d+) packets received", r"(\d+) packets dropped")

    def filtered(label, argv, name, ipv4_share=False):
        """A capture without the filter, then with it; their burst CPU compared."""
        runs = {}
        for expression in [None] + ([FILTER] if FILTER else []):
            selected = kept(traffic, frames, expression)
            expected = ipv4_frames(selected, frames) if ipv4_share else frame_count(selected)
            runs[expression] = case(label + (f", filter {expression!r}" if expression else ""),
                                    argv + (["--filter", expression] if expression else []),
                                    "Capturing (", False, name, stored_patterns, expected,
                                    expression)
        if FILTER and runs[None] and runs[FILTER]:
            cpu = [statistics.median(r["only_burst"][0] for r in runs[e]) for e in (None, FILTER)]
            print(f"  burst alone, filtered to unfiltered CPU: {cpu[1] * 1e3:.1f} / "
                  f"{cpu[0] * 1e3:.1f} ms = {cpu[1] / max(cpu[0], 1e-6):.2f}")
        return runs[None]

    filtered("(a) tidewatch --capture --method 3",
             capturer(tidewatch, "--capture", "--method", "3", "--device", IF_A, "--write", out), "a")
    b = case("(b) the window, offscreen, method 3",
             capturer(window, "--method", "3", "--device", IF_A, "--frames", str(frames),
                   "--seconds", "30"),
             "ready", True, "b", (r"stored (\d+)", r"received (\d+)", r"dropped (\d+)"), frames)
    stalls = [number(r"stall (\d+) ms", r["log"]) for r in b]
    print(f"  longest event-loop stall of each run {stalls} ms (target: at most 100)")
    filtered("(c) tidewatch --capture --method 1 (IPv4 share)",
             capturer(tidewatch, "--capture", "--method", "1", "--address", ADDRESS_A, "--write",
                      out), "c", ipv4_share=True)
    d = filtered("(d) tidewatch --capture --method 2",
                 capturer(tidewatch, "--capture", "--method", "2", "--device", IF_A, "--write",
                          out), "d")
    for r in d:
        print("  " + (re.search(r"\d+ batches from the provider.*", r["log"]) or ["no batches"])[0])
    e = case("(e) the Network Monitor provider alone, each frame copied once",
             capturer(os.path.join(BUILD, "bench", "netmon_delivery"), IF_A), "listening on",
             False, "e", (r"(\d+) frames,", r"(\d+) received by the kernel", r"(\d+) dropped"),
             frames)
    for r in e:
        print("  " + (re.search(r"\d+ batches, .*", r["log"]) or ["no batches"])[0])
finally:
    subprocess.run(["ip", "netns", "del", NS_A], capture_output=True)
    subprocess.run(["ip", "netns", "del", NS_B], capture_output=True)
    subprocess.run(["rm", "-rf", work, files, rights])
