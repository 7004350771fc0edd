#!/usr/bin/env python3
"""Runs kxpreview over the recorded Security logs with the realistic
definitions and checks what it prints:
  - the alerts of the table, in order, are the ones expected-alerts.txt
    (worked out from the records' insertion strings) lists;
  - the alert documents (--documents) parse as XML and hold the same alerts,
    with the table's times and action texts;
  - a UTF-16LE copy of the definitions gives the same table;
  - a definitions file that is missing, and an unknown option, fail.
"""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

FAILURES = []


def check(condition, message):
    if not condition:
        FAILURES.append(message)
        print("FAILED: " + message)


def run(args, preview, *arguments):
    env = dict(os.environ, KX_MACHINE_ROOT=os.path.join(args.work, "root"),
               KX_COMPUTER_NAME="WS-0042", KX_DNS_DOMAIN="corp.example.test")
    return subprocess.run([preview] + list(arguments), env=env, capture_output=True,
                          text=True, encoding="utf-8", errors="replace")


def table_and_documents(output):
    """The table's alert lines (with their property lines) and the documents."""
    head, _, rest = output.partition(" alerts:\n")
    count = int(re.search(r"(\d+)$", head).group(1))
    parts = rest.split("\ufeff<?xml")
    table = parts[0].splitlines()[1:]  # the header line left out
    documents = ["<?xml" + part for part in parts[1:]]
    alerts = [line for line in table if re.match(r"^WS\S+ ", line)]
    return count, alerts, documents


def expected_codes(folder):
    with open(os.path.join(folder, "expected-alerts.txt"), encoding="utf-8") as file:
        return [m.group(1) for m in re.finditer(r"^(WS\S+) from record", file.read(), re.M)]


def document_events(documents):
    events = []
    for document in documents:
        # The declaration names UTF-16, the text here is already decoded.
        root = ElementTree.fromstring(document.split("?>", 1)[1])
        check(root.tag == "Korvex", "a document's root is Korvex, not %s" % root.tag)
        events += root.findall("./WorkstationEvents/WorkstationEvent")
    return events


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--preview", required=True)
    parser.add_argument("--definitions", required=True)
    parser.add_argument("--evtx-folder", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    files = sorted(glob.glob(os.path.join(args.evtx_folder, "*.evtx")))

    result = run(args, args.preview, "--definitions", args.definitions, "--evtx", *files,
                 "--documents")
    check(result.returncode == 0, "kxpreview exits 0, not %d: %s" % (result.returncode,
                                                                    result.stderr))
    count, alerts, documents = table_and_documents(result.stdout)
    codes = [line.split()[0] for line in alerts]
    check(count == len(alerts), "the table has the %d alerts it announces, not %d"
          % (count, len(alerts)))
    check(codes == expected_codes(args.evtx_folder),
          "the table's alerts are the expected ones: %s" % codes)

    events = document_events(documents)
    check([e.findtext("EventDefinitionCode") for e in events] == codes,
          "the documents hold the table's alerts in its order")
    for line, event in zip(alerts, events):
        check(event.findtext("TimeGenerated") in line and event.findtext("ActionText") in line,
              "the document's time and action text are the table's: %s" % line)
        check(event.findtext("ComputerName") == "WS-0042",
              "the alert names the computer the agent runs on: %s"
              % event.findtext("ComputerName"))

    utf16 = os.path.join(args.work, "KXEventDefinitions-utf16.xml")
    with open(args.definitions, encoding="utf-8") as source:
        text = source.read()
    with open(utf16, "wb") as target:
        target.write(b"\xff\xfe" + text.encode("utf-16-le"))
    again = run(args, args.preview, "--definitions", utf16, "--evtx", *files)
    check(table_and_documents(again.stdout)[1] == alerts,
          "a UTF-16LE definitions file gives the same alerts")

    missing = run(args, args.preview, "--definitions", os.path.join(args.work, "none.xml"),
                  "--evtx", *files)
    check(missing.returncode == 1 and "cannot be read" in missing.stdout,
          "a missing definitions file fails with its name: %d %s"
          % (missing.returncode, missing.stdout))
    unknown = run(args, args.preview, "--bogus")
    check(unknown.returncode == 2 and "usage" in unknown.stderr,
          "an unknown option prints the usage and exits 2")
    print("%d alerts in %d documents checked" % (len(alerts), len(documents)))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
