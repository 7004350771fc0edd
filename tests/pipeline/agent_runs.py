#!/usr/bin/env python3
"""Runs the real agent (kx_agent_host, a process of its own) on a Linux machine
root of the test's own against the reference server named by KX_REFSERVER and
KX_REFSERVER_CONTROL (refserver.py run sets them), and checks what the server
stored.

  deliver   the recorded logs imported and records written with kxeventlog
            become alerts; the agent stopped and started again goes on
            after the last record: no gap, no duplicate
  kill N    the agent killed (SIGKILL) N times while records flow, each
            kill at a moment spread over the first 25 s after its start
            (past two flushes and two send sweeps); every record's alert
            arrives at least once (prints how many arrived twice)
  clear     records, the log cleared while the agent runs, more records:
            the log-cleared record and every later one arrive
"""

import argparse
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import time
import urllib.request

SOURCE = "Microsoft-Windows-Security-Auditing"
# The agent flushes every 5 s and sends every 10 s: a kill up to 25 s after a
# start can come in every window of that cycle.
KILL_CYCLE_SECONDS = 25.0
ACTOR_SID = "S-1-5-18"  # resolves on every machine: NT AUTHORITY\SYSTEM


class Machine:
    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.work)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(os.path.join(self.work, "bin"))
        self.host = os.path.join(self.work, "bin", "KXWkstnSvc")
        shutil.copy(args.host, self.host)
        self.env = dict(os.environ, KX_MACHINE_ROOT=os.path.join(self.work, "root"),
                        KX_COMPUTER_NAME="WS-0042", KX_DNS_DOMAIN="corp.example.test",
                        TZ="Europe/Berlin")
        self.service = os.environ["KX_REFSERVER"]
        self.control = os.environ["KX_REFSERVER_CONTROL"]
        host, port = self.service.split(":")
        self.tool(args.kxreg, "policy", "/enable", "/server", host, "/port", port)
        self.mark = self.last_alert()
        self.agent = None
        self.written = 0

    def tool(self, path, *arguments):
        subprocess.run([path] + list(arguments), env=self.env, check=True,
                       stdout=subprocess.DEVNULL)

    def write_user(self, name):
        """A 4720 that the realistic definitions select, naming the user."""
        strings = [name, "CORP", "S-1-5-21-1-2-3-%d" % (1000 + self.written), ACTOR_SID,
                   "admin", "CORP", "0x3e7", "-", name, "-", name]
        self.tool(self.args.kxeventlog, "write", "--source", SOURCE, "--id", "4720",
                  "--type", "8", "--", *strings)
        self.written += 1

    def start(self):
        self.agent = subprocess.Popen([self.host], env=self.env, stdout=subprocess.PIPE,
                                      text=True)
        line = self.agent.stdout.readline()
        if line.strip() != "running":
            raise SystemExit("the agent did not start: %r" % line)

    def stop(self):
        self.agent.send_signal(signal.SIGTERM)
        self.agent.wait(60)
        self.agent = None

    def kill(self):
        self.agent.kill()
        self.agent.wait(60)
        self.agent = None

    def control_get(self, path):
        with urllib.request.urlopen("http://%s%s" % (self.control, path), timeout=30) as answer:
            return answer.read().decode("utf-8")

    def last_alert(self):
        return int(self.control_get("/control/last?table=alerts").strip() or 0)

    def alerts(self):
        return json.loads(self.control_get("/control/alerts?after=%d&format=json" % self.mark))

    def wait_for(self, count, seconds=120):
        deadline = time.time() + seconds
        while time.time() < deadline:
            alerts = self.alerts()
            if len(alerts) >= count:
                return alerts
            time.sleep(0.5)
        raise SystemExit("only %d of %d alerts arrived" % (len(self.alerts()), count))


def users_of(alerts, prefixes=("live-", "user-", "before-", "after-")):
    """The users that the test's own records created (the recorded logs'
    users left out)."""
    names = []
    for alert in alerts:
        for code, value in alert.get("properties") or []:
            if code == "SAMACCOUNTNAME" and value.startswith(prefixes):
                names.append(value)
    return names


def expected_recorded_codes(folder):
    with open(os.path.join(folder, "expected-alerts.txt"), encoding="utf-8") as f:
        return [line.split()[0] for line in f if " from record " in line]


def deliver(machine, args):
    machine.tool(args.kxeventlog, "import", "--shift-to-now",
                 *sorted(os.path.join(args.evtx, name) for name in os.listdir(args.evtx)
                         if name.endswith(".evtx")))
    for i in range(5):
        machine.write_user("live-%d" % i)
    recorded = expected_recorded_codes(args.evtx)
    machine.start()
    first = machine.wait_for(len(recorded) + 5)
    machine.stop()
    for i in range(5, 10):
        machine.write_user("live-%d" % i)
    machine.start()
    machine.wait_for(len(recorded) + 10)
    time.sleep(12)  # a flush and a sweep more: a duplicate would have arrived
    machine.stop()
    alerts = machine.alerts()
    codes = [a["EventDefinitionCode"] for a in alerts]
    check(codes[:len(recorded)] == recorded, "recorded alerts in record order: %s" % codes)
    check(users_of(alerts) == ["live-%d" % i for i in range(10)],
          "live alerts once each, in order: %s" % users_of(alerts))
    live = alerts[len(recorded)]
    check(live["ActionText"] == "NT AUTHORITY\\SYSTEM created the user account CORP\\live-0 on WS-0042"
          " at " + live["ActionText"].rsplit(" at ", 1)[-1], "action text: %s" % live["ActionText"])
    check(live["ComputerName"] == "WS-0042" and live["ComputerDomain"] == "corp.example.test",
          "computer: %s %s" % (live["ComputerName"], live["ComputerDomain"]))
    check(live["properties"][:2] == [["TARGETACCOUNT", "CORP\\live-0"],
                                                 ["TARGETSID", "S-1-5-21-1-2-3-1000"]],
          "properties: %s" % live["properties"])
    check(len(alerts) == len(recorded) + 10, "no duplicate: %d alerts" % len(alerts))
    del first
    print("deliver: %d alerts, each once" % len(alerts))


def kill_offsets(rng, count):
    """How long after its start each kill comes: one in each of count equal
    slices of the cycle, in random order, so that few kills still cover it."""
    offsets = [(i + rng.random()) * KILL_CYCLE_SECONDS / count for i in range(count)]
    rng.shuffle(offsets)
    return offsets


def kill(machine, args):
    rng = random.Random(args.seed)
    print("seed %d" % args.seed)
    machine.start()
    for offset in kill_offsets(rng, args.count):
        deadline = time.time() + offset
        while time.time() < deadline:
            machine.write_user("user-%d" % machine.written)
            time.sleep(rng.uniform(0.05, 0.3))
        machine.kill()
        machine.start()
    machine.write_user("user-%d" % machine.written)
    written = ["user-%d" % i for i in range(machine.written)]
    deadline = time.time() + 180
    while set(written) - set(users_of(machine.alerts())) and time.time() < deadline:
        time.sleep(0.5)
    time.sleep(12)  # a flush and a sweep more: a duplicate would have arrived
    machine.stop()
    names = users_of(machine.alerts())
    missing = sorted(set(written) - set(names))
    twice = len(names) - len(set(names))
    print("kill: %d kills spread over %.0f s after each start, %d records: %d alerts delivered,"
          " %d lost, %d duplicated (%.2f per kill)"
          % (args.count, KILL_CYCLE_SECONDS, len(written), len(set(names) & set(written)),
             len(missing), twice, twice / float(args.count)))
    check(not missing, "alerts lost: %s" % missing[:20])


def clear(machine, args):
    for i in range(3):
        machine.write_user("before-%d" % i)
    machine.start()
    machine.wait_for(3)
    machine.tool(args.kxeventlog, "clear")
    machine.tool(args.kxeventlog, "write", "--source", "Microsoft-Windows-Eventlog", "--id",
                 "1102", "--type", "8", "--", ACTOR_SID, "admin", "CORP", "0x3e7")
    for i in range(3):
        machine.write_user("after-%d" % i)
    alerts = machine.wait_for(7)
    machine.stop()
    codes = [a["EventDefinitionCode"] for a in alerts]
    check("WS1102" in codes, "the log-cleared alert: %s" % codes)
    check(users_of(alerts)[-3:] == ["after-0", "after-1", "after-2"], "later records: %s"
          % users_of(alerts))
    print("clear: the 1102 and every later record arrived")


def check(condition, message):
    if not condition:
        raise SystemExit("FAILED: " + message)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host", required=True)
    parser.add_argument("--kxeventlog", required=True)
    parser.add_argument("--kxreg", required=True)
    parser.add_argument("--evtx", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("test", choices=["deliver", "kill", "clear"])
    parser.add_argument("count", type=int, nargs="?", default=20)
    args = parser.parse_args()
    machine = Machine(args)
    try:
        {"deliver": deliver, "kill": kill, "clear": clear}[args.test](machine, args)
    finally:
        if machine.agent:
            machine.agent.kill()
    return 0


if __name__ == "__main__":
    sys.exit(main())
