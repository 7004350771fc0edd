#!/usr/bin/env python3
"""What the reference server of the main job (scripts/run-agent.sh) holds,
for people: waits for the alerts, prints them as a table and saves the alert
documents as the agent posted them.

  demo_alerts.py wait --state-dir DIR --count N [--seconds S]
      waits until the server holds N alerts (exit 1 if S seconds pass first)
  demo_alerts.py show --state-dir DIR --documents-dir OUT
      prints every alert (code, time, account, computer, action text, the
      first line of its message text, the properties) and writes each document's body, byte for byte, to
      OUT/document-ID.xml (UTF-16LE, as posted)
"""

import argparse
import json
import os
import sqlite3
import sys
import textwrap
import time
import urllib.request


def control(state_dir, path):
    with open(os.path.join(state_dir, "address.json")) as file:
        address = json.load(file)["control"]
    with urllib.request.urlopen("http://%s%s" % (address, path), timeout=10) as answer:
        return answer.read()


def rows(state_dir, table):
    return json.loads(control(state_dir, "/control/%s?format=json" % table))


def wait(args):
    deadline = time.monotonic() + args.seconds
    held = -1
    while True:
        count = int(control(args.state_dir, "/control/last?table=alerts"))
        if count != held:
            print("  the server holds %d of %d alerts" % (count, args.count), flush=True)
            held = count
        if count >= args.count:
            return 0
        if time.monotonic() > deadline:
            print("  %d s passed before every alert arrived" % args.seconds)
            return 1
        time.sleep(1)


def table(alerts):
    account = lambda alert: alert["AccountName"] or alert["AccountSID"]
    widths = [max([len(header)] + [len(value(a)) for a in alerts]) for header, value in (
        ("Code", lambda a: a["EventDefinitionCode"]), ("Time (UTC)", lambda a: a["TimeGenerated"]),
        ("Account", account), ("Computer", lambda a: a["ComputerName"]))]
    line = lambda cells: "  ".join(c.ljust(w) for c, w in zip(cells, widths))
    print(line(["Code", "Time (UTC)", "Account", "Computer"]) + "  Action")
    for alert in alerts:
        cells = [alert["EventDefinitionCode"], alert["TimeGenerated"], account(alert),
                 alert["ComputerName"]]
        print(line(cells) + "  " + alert["ActionText"])
        message = alert["EventDump"].strip().splitlines()[:1]
        print(" " * (widths[0] + 2) + "message: " + (message[0] if message else ""))
        for code, value in alert["properties"]:
            print(textwrap.indent("%s = %s" % (code, value), " " * (widths[0] + 2)))


def show(args):
    alerts = rows(args.state_dir, "alerts")
    table(alerts)
    os.makedirs(args.documents_dir, exist_ok=True)
    # The bodies byte for byte, from the server's own store.
    database = sqlite3.connect("file:%s?mode=ro" % os.path.join(args.state_dir,
                                                                "refserver.sqlite"), uri=True)
    documents = database.execute("SELECT id, body FROM documents ORDER BY id").fetchall()
    database.close()
    for identifier, body in documents:
        with open(os.path.join(args.documents_dir, "document-%d.xml" % identifier), "wb") as file:
            file.write(body)
    print("\n%d alerts in %d alert documents; the documents are in %s (UTF-16LE, as posted)"
          % (len(alerts), len(documents), args.documents_dir))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    wait_parser = commands.add_parser("wait")
    wait_parser.add_argument("--state-dir", required=True)
    wait_parser.add_argument("--count", type=int, required=True)
    wait_parser.add_argument("--seconds", type=int, default=90)
    show_parser = commands.add_parser("show")
    show_parser.add_argument("--state-dir", required=True)
    show_parser.add_argument("--documents-dir", required=True)
    args = parser.parse_args()
    return wait(args) if args.command == "wait" else show(args)


if __name__ == "__main__":
    sys.exit(main())
