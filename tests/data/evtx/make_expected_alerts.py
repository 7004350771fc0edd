#!/usr/bin/env python3
"""Writes expected-alerts.txt: the alert items that the realistic definitions
(data/definitions/KXEventDefinitions.xml) build from the recorded Security
logs of this folder, worked out from the records' insertion strings.

The records come from `kxeventlog list --json` of a machine root into which
every .evtx file of this folder was imported in file-name order:

    export KX_MACHINE_ROOT=$(mktemp -d)
    build/linux/tools/kxeventlog/kxeventlog import tests/data/evtx/*.evtx
    build/linux/tools/kxeventlog/kxeventlog list --json > records.json
    tests/data/evtx/make_expected_alerts.py records.json > tests/data/evtx/expected-alerts.txt

What the machine knows, as the test sets it up:
- the directory of the records' domain (Samba, profile "recorded") holds the
  objects of DIRECTORY below and the accounts of ACCOUNTS, which name the
  domain's SIDs as the directory does for a member computer;
- no parameter or message files are registered, so "%%n" references stay as
  they are and every record's message is the "cannot be found" text;
- the computer's own name is "<computer>", its DNS domain "offsec.lan";
- the time zone is Europe/Berlin;
- the 5137 record is moved to the second in which the directory created the
  object it names, "<jump01-time>" (the test fills in both placeholders).

An item is written as its fields and properties, one per line; carriage
returns, line feeds and tabs in values are written as \\r, \\n and \\t.
EventDump shows only the message's first line.
"""

import datetime
import json
import sys
import xml.etree.ElementTree as ElementTree
import zoneinfo

DEFINITIONS = "data/definitions/KXEventDefinitions.xml"
ACCOUNTS = {
    "S-1-5-21-4230534742-2542757381-3142984815-1111": "OFFSEC\\admmig",
    "S-1-5-21-4230534742-2542757381-3142984815-1158": "OFFSEC\\lambda-user",
}
BASE = "DC=offsec,DC=lan"
DIRECTORY = {
    "honey-pot1": {"dn": "CN=honey-pot1,OU=Test-OU,OU=OFFSEC-COMPANY," + BASE,
                   "guid": "{259162F1-58E4-4EE9-9B9C-2BAF2A03D376}",
                   "sid": "S-1-5-21-4230534742-2542757381-3142984815-1159"},
    "hacker2": {"dn": "CN=hacker2,CN=Users," + BASE,
                "sid": "S-1-5-21-4230534742-2542757381-3142984815-1242"},
    "JUMP01": {"dn": "CN=JUMP01,CN=Servers,CN=OFFSEC-PREMISE,CN=Sites,CN=Configuration," + BASE,
               "class": "server", "created": "record"},
}
MOVED_EVENT = 5137
BERLIN = zoneinfo.ZoneInfo("Europe/Berlin")


def parent(dn):
    """The distinguished name without its first element."""
    i = 0
    while i < len(dn):
        if dn[i] == "\\":
            i += 2
        elif dn[i] == ",":
            return dn[i + 1:]
        else:
            i += 1
    return ""


def clean(text):
    text = text.strip()
    if "\n" in text:
        text = text[:text.index("\n")].strip()
    return text


def matches(pattern, text):
    value = text.strip()
    for c in "\t\r\n":
        value = value.replace(c, "|")
    items = [i.lower() for i in value.split("|") if i]
    for alternative in (a.lower() for a in pattern.split("|") if a):
        for item in items:
            if alternative.startswith("(") and ")" in alternative[1:]:
                k = alternative.index(")", 1)
                operator, operand = alternative[1:k], alternative[k + 1:]
                if operator == "contains" and operand in item:
                    return True
                if operator == "!contains" and operand not in item:
                    return True
                if operator in ("contains", "!contains"):
                    continue
            if item == alternative:
                return True
    return False


def string(record, n):
    strings = record["strings"]
    return strings[n - 1] if 1 <= n <= len(strings) else ""


def load_definitions():
    root = ElementTree.parse(DEFINITIONS).getroot()
    definitions = []
    for d in root.iter("EventDefinition"):
        definitions.append({
            "code": d.findtext("EventDefinitionCode"),
            "event": int(d.findtext("EventCode")),
            "type": int(d.findtext("EventTypeID")),
            "source": d.findtext("EventSource").lower(),
            "log": d.findtext("LogName").lower(),
            "enabled": d.findtext("IsEnabled") == "true" and d.findtext("IsIncluded") == "true",
            "text": d.findtext("FormatText"),
            "strings": [(int(s.findtext("StringNumber")), s.findtext("StringValue"))
                        for s in d.iter("EventDefinitionString")],
            "properties": [(p.findtext("PropertyCode"), p.findtext("PropertyValue"),
                            p.findtext("PropertyType"), p.findtext("StoreInDatabase") == "true")
                           for p in d.iter("EventDefinitionProperty")],
        })
    return definitions


def selects(definition, record):
    if not (definition["event"] == record["eventCode"] and definition["type"] == record["eventType"]
            and definition["source"] == record["source"].lower() and definition["log"] == "security"
            and definition["enabled"]):
        return False
    return all(n > len(record["strings"]) or matches(pattern, string(record, n))
               for n, pattern in definition["strings"])


def directory_object(key, value):
    for name, entry in DIRECTORY.items():
        if entry.get(key, "").lower() == value.lower():
            return entry
    return None


def evaluate(record, code, value, kind, store):
    """The (stored, name, value) results of one property rule."""
    flag = store
    kind = kind.lower()
    if kind == "account":
        n, _, m = value.replace("/", "\\").partition("\\")
        return [(flag, code, "%s\\%s" % (string(record, int(n)), string(record, int(m))))]
    if kind in ("normal", "raw", "strip"):
        v = clean(string(record, int(value)))
        if kind == "raw" and v.startswith("%"):
            v = v[1:]
        if kind == "strip":
            for c in "\r\n\t":
                v = v.replace(c, " ")
        return [(flag, code, v)]
    upper = code.upper()
    if upper == "PARENTOU:SID":
        found = directory_object("sid", string(record, int(value)))
        return [(True, "ParentOU", parent(found["dn"]))] if found else []
    if upper == "PARENTOU:GUID":
        found = directory_object("guid", string(record, int(value)))
        # A live object's name comes back in lower case.
        return [(True, "ParentOU", parent(found["dn"].lower()))] if found else []
    if upper == "PARENTOU:DN":
        return [(True, "ParentOU", parent(string(record, int(value))))]
    if upper == "FCCO":
        class_number, base_number = (int(x) for x in value.split("|"))
        object_class = string(record, class_number)
        found = directory_object("dn", string(record, base_number))
        if not found or found.get("class") != object_class or record["eventCode"] != MOVED_EVENT:
            return []
        return [(False, "OBJNAME", found["dn"]), (True, "OBJTYP", object_class),
                (True, "ParentOU", parent(found["dn"]))]
    if upper in ("BEFORE", "AFTER"):
        return []
    return [(True, code, piece) for piece in string(record, int(value)).split("\t") if piece]


def build(record, definition):
    item = {"account": "", "sid": "", "text": definition["text"], "properties": []}
    for rule in definition["properties"]:
        for stored, name, value in evaluate(record, *rule):
            item["text"] = item["text"].replace("%%[PROP:%s]" % name.upper(), value)
            if name.upper() == "NEWACTORACCOUNT":
                item["account"] = value
                item["sid"] = next((s for s, a in ACCOUNTS.items() if a.lower() == value.lower()), "")
            if name.upper() == "NEWACTORSID":
                item["account"] = ACCOUNTS.get(value, "")
                item["sid"] = value
            if stored:
                item["properties"].append((name, value))
    moved = record["eventCode"] == MOVED_EVENT
    utc = datetime.datetime.fromtimestamp(record["timeGeneratedSeconds"], datetime.timezone.utc)
    local = utc.astimezone(BERLIN).strftime("%m/%d/%y %H:%M:%S")
    text = item["text"].replace("%[TIMEGENERATED]", "<jump01-local>" if moved else local)
    text = text.replace("%[ACTORACCOUNT]", item["account"])
    item["text"] = text.replace("%[COMPUTERNAME]", "<computer>")
    item["time"] = "<jump01-time>" if moved else utc.strftime("%Y-%m-%d %H:%M:%S")
    return item


def escaped(text):
    return text.replace("\r", "\\r").replace("\n", "\\n").replace("\t", "\\t")


def describe(record, definition, item):
    lines = ["%s from record %d (event %d)" % (definition["code"], record["recordNumber"],
                                              record["eventCode"]),
             "  ComputerName: <computer>",
             "  ComputerDomain: offsec.lan",
             "  AccountSID: " + escaped(item["sid"]),
             "  AccountName: " + escaped(item["account"]),
             "  TimeGenerated: " + item["time"],
             "  ActionText: " + escaped(item["text"]),
             "  EventDump: The description for Event ID ( %d ) in Source ( %s ) cannot be found. "
             "The following information is part of the event:" % (record["eventCode"],
                                                                   record["source"])]
    lines += ["  %s: %s" % (name, escaped(value)) for name, value in item["properties"]]
    return lines


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        records = json.load(f)
    definitions = load_definitions()
    print("# Written by make_expected_alerts.py from the records' insertion strings.")
    for record in records:
        definition = next((d for d in definitions if selects(d, record)), None)
        if definition:
            print("\n".join(describe(record, definition, build(record, definition))))


if __name__ == "__main__":
    main()
