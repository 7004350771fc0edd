#!/usr/bin/env python3
"""Runs the agent's executable installed as a service (KXWkstnSvc -install,
-start, -stop) on a Linux machine root of the test's own against the
reference server named by KX_REFSERVER and KX_REFSERVER_CONTROL, while
Security records the definitions select keep arriving, and checks from what
the server stored that every record's alert arrived at least once (prints
how many arrived more than once).

  outage      the server refuses connections, then answers 503, for several
              send sweeps; once back, the alerts written meanwhile arrive in
              the order they were written
  restart     the service stopped and started ten times
  kill        the service process killed with SIGKILL three times, each kill
              at a moment spread over the first 25 s after its start
  disk        the folder of the executable (the cache files') unwritable for
              a while, then writable again
  hostile M.. the server answers posts with each fault mode M in turn
              (endless, huge, stall, drop): the service's peak RSS stays
              bounded and delivery resumes when the server behaves
  clear       the log cleared while the service runs: the records after the
              clear arrive, also those numbered below the ones read before
  fresh       a fresh install whose server answers 500 to every GET for its
              first 40 s, so that no definitions can be had: the alerts of
              the recorded logs (--evtx) waiting in the log all arrive, once
              each, within a minute after the server answers again

Exit code 77: the case cannot run here (said why).
"""

import argparse
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pipeline"))
from agent_runs import Machine, check, expected_recorded_codes, kill_offsets, users_of  # noqa: E402,E501

SERVICE = "KXWkstnSvc"
PREFIX = "rec-"
SKIP = 77
# A bound on memory, far below what holding a hostile answer would take (a
# gigabyte and more). A response is cut at 16 MiB, but the doubling body
# buffer and the freed smaller buffers the allocator keeps put the peak of a
# capped answer at about 48 MB above the resting 17 MB.
PEAK_RSS_LIMIT_KB = 96 * 1024
# The agent flushes every 5 s and sends every 10 s: an outage of 40 s spans
# four send sweeps and about eight cache files.
OUTAGE_SECONDS = 40
UNWRITABLE_SECONDS = 20
FRESH_FAULT_SECONDS = 40
FRESH_DELIVERY_SECONDS = 60


class ServiceMachine(Machine):
    """The machine of agent_runs.py with the agent installed as its service
    and controlled through the executable's own command line."""

    def __init__(self, args):
        args.host = args.service
        super().__init__(args)
        self.folder = os.path.dirname(self.host)
        shutil.copy(os.path.join(os.path.dirname(args.service), SERVICE + ".dll"), self.folder)
        self.names = []
        self.command("-install")

    def command(self, *arguments, required=True):
        result = subprocess.run([self.host] + list(arguments), env=self.env, text=True,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        if required and result.returncode != 0:
            raise SystemExit("FAILED: %s %s exited with %d: %s"
                             % (SERVICE, " ".join(arguments), result.returncode, result.stdout))
        return result

    def start(self):
        result = self.command("-start", required=False)
        # The service manager may have restarted a killed service first.
        if result.returncode != 0 and not self.running():
            raise SystemExit("FAILED: %s -start exited with %d: %s"
                             % (SERVICE, result.returncode, result.stdout))

    def running(self):
        try:
            with open(self.status_path()) as f:
                fields = f.read().split()
        except OSError:
            return False
        return len(fields) > 3 and fields[3] == "4" and process_exists(int(fields[1]))

    def status_path(self):
        return os.path.join(self.env["KX_MACHINE_ROOT"], "Services", SERVICE + ".status")

    def stop(self):
        self.command("-stop")

    def pid(self):
        """The service process, as its status record in the service manager
        names it."""
        with open(self.status_path()) as f:
            return int(f.read().split()[1])

    def kill(self):
        pid = self.pid()
        os.kill(pid, signal.SIGKILL)
        deadline = time.time() + 30
        while time.time() < deadline and process_exists(pid):
            time.sleep(0.01)

    def peak_rss_kb(self):
        with open("/proc/%d/status" % self.pid()) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
        raise SystemExit("FAILED: no VmHWM for the service")

    def write(self):
        name = "%s%d" % (PREFIX, len(self.names))
        self.write_user(name)
        self.names.append(name)
        return name

    def flow(self, seconds, rng):
        """Records for that long, a few a second."""
        first = len(self.names)
        deadline = time.time() + seconds
        while time.time() < deadline:
            self.write()
            time.sleep(rng.uniform(0.05, 0.3))
        return self.names[first:]

    def arrived(self):
        return users_of(self.alerts(), (PREFIX,))

    def wait_for_every_alert(self, seconds=120):
        deadline = time.time() + seconds
        while True:
            arrived = self.arrived()
            missing = sorted(set(self.names) - set(arrived))
            if not missing:
                return arrived
            if time.time() > deadline:
                raise SystemExit("FAILED: %d of %d alerts lost, e.g. %s"
                                 % (len(missing), len(self.names), missing[:10]))
            time.sleep(0.5)

    def faulted_posts(self, mark, mode):
        rows = json.loads(self.control_get("/control/requests?after=%d&format=json" % mark))
        return sum(1 for r in rows if r["path"] == "/EventPost" and r["fault"] == mode)

    def last_request(self):
        return int(self.control_get("/control/last?table=requests").strip() or 0)

    def set_fault(self, mode, **options):
        query = "".join("&%s=%s" % item for item in options.items())
        self.control_get("/control/fault?mode=%s%s" % (mode, query))

    def cache_files(self):
        return [n for n in os.listdir(self.folder) if n.startswith("KX_") and n.endswith(".tmp")]


def process_exists(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split(") ")[-1][0] != "Z"
    except OSError:
        return False


def duplicates(arrived):
    return len(arrived) - len(set(arrived))


def first_arrivals(arrived, names):
    wanted, order = set(names), []
    for name in arrived:
        if name in wanted:
            order.append(name)
            wanted.discard(name)
    return order


def report(case, machine, detail=""):
    arrived = machine.wait_for_every_alert()
    print("%s: %d records, every alert arrived; %d arrived more than once%s"
          % (case, len(machine.names), duplicates(arrived), detail))


def outage(machine, rng):
    machine.start()
    machine.flow(2, rng)
    machine.wait_for_every_alert()
    before = len(machine.alerts())
    machine.set_fault("refuse")
    during = machine.flow(OUTAGE_SECONDS / 2, rng)
    machine.set_fault("503")
    during += machine.flow(OUTAGE_SECONDS / 2, rng)
    stored = len(machine.alerts()) - before
    files = len(machine.cache_files())
    machine.set_fault("none")
    check(stored == 0, "%d alerts stored while the server was away" % stored)
    machine.flow(2, rng)
    arrived = machine.wait_for_every_alert()
    order = first_arrivals(arrived, during)
    check(order == during, "the alerts of the outage arrived out of order: %s"
          % [n for n, m in zip(order, during) if n != m][:10])
    report("outage", machine, "; %d written during %d s without a server (%d cache files),"
           " arrived oldest first" % (len(during), OUTAGE_SECONDS, files))


def restart(machine, rng):
    machine.start()
    for _ in range(10):
        machine.flow(rng.uniform(0.5, 2.0), rng)
        machine.stop()
        machine.flow(0.3, rng)
        machine.start()
    machine.flow(1, rng)
    report("restart", machine, " (10 stops and starts)")


def kill(machine, rng, count=3):
    machine.start()
    for offset in kill_offsets(rng, count):
        machine.flow(offset, rng)
        machine.kill()
        machine.start()
    machine.flow(1, rng)
    report("kill", machine, " (%d kills with SIGKILL spread over the first 25 s after a start)"
           % count)


class UnwritableFolder:
    """Makes a folder refuse new files: chmod for a user, a read-only bind
    mount of the folder onto itself for root, whom chmod does not stop (in
    a mount namespace of this process's own, so nothing is left behind)."""

    def __init__(self, folder):
        self.folder = folder
        self.means = None

    def __enter__(self):
        if os.geteuid() != 0:
            os.chmod(self.folder, 0o555)
            self.means = "chmod 555"
        elif subprocess.run(["mount", "--bind", self.folder, self.folder]).returncode == 0:
            self.means = "a read-only bind mount"
            if subprocess.run(["mount", "-o", "remount,bind,ro", self.folder]).returncode != 0:
                self.__exit__()
                self.means = None
        if not self.means or not refuses_files(self.folder):
            self.__exit__()
            print("disk: SKIPPED, cannot make %s unwritable here (%s)"
                  % (self.folder, self.means or "no bind mount as root"))
            sys.exit(SKIP)
        return self

    def __exit__(self, *_):
        if self.means == "chmod 555":
            os.chmod(self.folder, 0o755)
        elif self.means:
            subprocess.run(["umount", self.folder], check=True)
        check(not refuses_files(self.folder), "the folder stayed unwritable")


def refuses_files(folder):
    probe = os.path.join(folder, "KX_probe.tmp")
    try:
        with open(probe, "w") as f:
            f.write("probe")
        os.remove(probe)
        return False
    except OSError:
        return True


def in_own_mount_namespace():
    """Root's bind mount goes into a mount namespace of this process's own
    (the service it starts lives there too), so a failed run leaves none."""
    if os.geteuid() != 0 or os.environ.get("KX_RELIABILITY_NAMESPACE"):
        return
    unshare = shutil.which("unshare")
    if unshare and subprocess.run([unshare, "--mount", "--propagation", "private", "true"],
                                  stderr=subprocess.DEVNULL).returncode == 0:
        os.environ["KX_RELIABILITY_NAMESPACE"] = "1"
        os.execv(unshare, [unshare, "--mount", "--propagation", "private", sys.executable]
                 + sys.argv)


def disk(machine, rng):
    machine.start()
    machine.flow(2, rng)
    machine.wait_for_every_alert()
    with UnwritableFolder(machine.folder) as unwritable:
        during = machine.flow(UNWRITABLE_SECONDS, rng)
        early = set(during) & set(machine.arrived())
        files = machine.cache_files()
        check(process_exists(machine.pid()), "the service ended while it could not write")
    check(not early, "alerts arrived that no cache file could hold: %s" % sorted(early)[:5])
    check(not files, "cache files were written to the unwritable folder: %s" % files)
    machine.flow(2, rng)
    report("disk", machine, "; %d written during %d s with the folder unwritable (%s)"
           % (len(during), UNWRITABLE_SECONDS, unwritable.means))


# How each mode misbehaves, and how many posts it must have spoilt before the
# server behaves again. The stall outlasts the agent's 30 s receive time-out.
HOSTILE = {
    "endless": ({}, 2),
    "huge": ({"size": 1024 * 1024 * 1024}, 2),
    "stall": ({"delay": 40000, "times": 1}, 1),
    "drop": ({}, 2),
}


def hostile(machine, rng, modes):
    for mode in modes:
        options, spoilt = HOSTILE[mode]
        machine.start()
        machine.flow(1, rng)
        twice_before = duplicates(machine.wait_for_every_alert())
        resting = machine.peak_rss_kb()
        mark = machine.last_request()
        machine.set_fault(mode, path="/EventPost", **options)
        deadline = time.time() + 90
        while machine.faulted_posts(mark, mode) < spoilt and time.time() < deadline:
            machine.flow(1, rng)
        seen = machine.faulted_posts(mark, mode)
        check(seen >= spoilt, "%s: only %d spoilt posts" % (mode, seen))
        machine.set_fault("none")
        machine.flow(1, rng)
        arrived = machine.wait_for_every_alert()
        peak = machine.peak_rss_kb()
        machine.stop()
        print("hostile %s: %d spoilt posts, peak RSS (VmHWM) %.1f MB (%.1f MB before the"
              " fault), delivery resumed; %d records, %d alerts arrived more than once"
              % (mode, seen, peak / 1024.0, resting / 1024.0, len(machine.names),
                 duplicates(arrived) - twice_before))
        check(peak < PEAK_RSS_LIMIT_KB, "%s: peak RSS %d kB over the bound of %d kB"
              % (mode, peak, PEAK_RSS_LIMIT_KB))


def clear(machine, rng):
    machine.start()
    for _ in range(30):
        machine.write()
    machine.wait_for_every_alert()
    machine.tool(machine.args.kxeventlog, "clear", "--log", "Security")
    # Fewer records than before first: their numbers lie below the one kept.
    cleared = len(machine.names)
    for _ in range(5):
        machine.write()
    machine.wait_for_every_alert()
    machine.flow(3, rng)
    report("clear", machine, "; %d written after the clear" % (len(machine.names) - cleared))


def fresh(machine, rng):
    del rng
    evtx = machine.args.evtx
    files = sorted(os.path.join(evtx, n) for n in os.listdir(evtx) if n.endswith(".evtx"))
    now = int(time.time())
    for index, path in enumerate(files):
        # One recording every ten minutes, the last one ending now: the
        # hours before the agent's first start.
        machine.tool(machine.args.kxeventlog, "import", "--end-at",
                     str(now - (len(files) - 1 - index) * 600), path)
    recorded = expected_recorded_codes(evtx)
    machine.set_fault("500", method="GET", **{"for": FRESH_FAULT_SECONDS * 1000})
    back = time.time() + FRESH_FAULT_SECONDS
    machine.start()
    alerts = []
    while time.time() < back + FRESH_DELIVERY_SECONDS and len(alerts) < len(recorded):
        time.sleep(0.5)
        alerts = machine.alerts()
    arrived = time.time() - back
    check(len(alerts) >= len(recorded), "%d of the %d recorded alerts arrived within %d s after"
          " the server answered again" % (len(alerts), len(recorded), FRESH_DELIVERY_SECONDS))
    rows = json.loads(machine.control_get("/control/requests?after=0&format=json"))
    faulted = sum(1 for r in rows if r["method"] == "GET" and r["fault"] == "500")
    check(faulted > 0, "no GET of the agent was answered 500")
    time.sleep(12)  # a flush and a sweep more: a duplicate would have arrived
    codes = [a["EventDefinitionCode"] for a in machine.alerts()]
    check(codes == recorded, "the recorded alerts once each, in record order: %s" % codes)
    print("fresh: %d recorded alerts, each once, the last %.0f s after the server answered"
          " GETs again (%d GETs answered 500 in the first %d s)"
          % (len(codes), arrived, faulted, FRESH_FAULT_SECONDS))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--service", required=True, help="the built KXWkstnSvc")
    parser.add_argument("--kxeventlog", required=True)
    parser.add_argument("--kxreg", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--evtx", help="fresh: the folder of the recorded logs")
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("case",
                        choices=["outage", "restart", "kill", "disk", "hostile", "clear", "fresh"])
    parser.add_argument("modes", nargs="*", help="hostile: %s" % ", ".join(HOSTILE))
    args = parser.parse_args()
    if any(mode not in HOSTILE for mode in args.modes):
        parser.error("hostile modes: %s" % ", ".join(HOSTILE))
    if args.case == "disk":
        in_own_mount_namespace()
    rng = random.Random(args.seed)
    print("seed %d" % args.seed)
    started = time.time()
    machine = ServiceMachine(args)
    try:
        if args.case == "hostile":
            hostile(machine, rng, args.modes)
        else:
            globals()[args.case](machine, rng)
    finally:
        machine.command("-uninstall", "-silent", required=False)
    print("%s: %.0f s" % (args.case, time.time() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
