#!/usr/bin/env python3
"""Writes the golden cache file and the alert document that it makes.

Written from the formats themselves, not from the agent's code, so that the
agent's tests compare its bytes with an independent rendering:

  golden.cache  the items below in the cache file format
  golden.xml    the alert document of that file (UTF-16LE with byte-order
                mark), times shown in Europe/Berlin, the zone the tests run in

Run it again only when the items change: ./make_golden.py
"""
import os
import struct
import time

MARKER = 0x0BADF00D
LATEST_LOCAL_TIME = 32535244799  # 3001-01-01 07:59:59 UTC

# (ComputerName, ComputerDomain, AccountSID, AccountName, EventDefinitionCode,
#  ActionText, TimeGenerated, EventDump, [(code, value), ...])
ITEMS = [
    ("WS-0042", "corp.example.test", "S-1-5-21-1004336348-1177238915-682003330-1104",
     "CORP\\j\u00f6rg.m\u00fcller", "KX4720",
     "User account J\u00f6rg \U0001F600 created by CORP\\admin",
     1721038830,  # 2024-07-15 10:20:30 UTC, summer time in Berlin
     "A user account was created.\r\n\r\nSubject:\r\n\tAccount Name:\tadmin\r\n"
     "\tAccount Domain:\tCORP\r\n\r\nNew Account:\r\n\tAccount Name:\tj\u00f6rg \U0001D11E",
     [("TARGETACCOUNT", "CORP\\j\u00f6rg.m\u00fcller"), ("SUBJECTACCOUNT", "CORP\\admin")]),
    ("WS-0042", "", "", "", "KX1102", "", 0, "", []),
    ("DC1", "example.test", "S-1-5-18", "NT AUTHORITY\\SYSTEM", "KX5136",
     "Attribute <description> changed & logged",
     1425445567,  # 2015-03-04 05:06:07 UTC, winter time
     "Dump with ]]> inside, <tags> & ampersands &amp; and a ]]> again",
     [("", ""), ("ATTRIBUTE", "description"), ("VALUE", "a\x01b <c> & ]]>")]),
    ("WS-0043", "corp.example.test", "S-1-5-21-1-2-3-500", "CORP\\Administrator", "KX4740",
     "Account locked out", -1, "Locked out.", [("TARGETACCOUNT", "CORP\\Administrator")]),
    ("WS-0043", "corp.example.test", "S-1-5-21-1-2-3-500", "CORP\\Administrator", "KX4740",
     "Far future", LATEST_LOCAL_TIME + 1, "", []),
    ("WS-0043", "corp.example.test", "S-1-5-21-1-2-3-500", "CORP\\Administrator", "KX4740",
     "Latest time", LATEST_LOCAL_TIME, "", []),
]


def utf16(text):
    return text.encode("utf-16-le")


def cache_string(text):
    data = utf16(text) + b"\0\0"
    return struct.pack("<I", len(data)) + data


def cache_item(item):
    name, domain, sid, account, code, action, generated, dump, properties = item
    out = struct.pack("<I", MARKER)
    for text in (account, sid, action, domain, name, code, dump):
        out += cache_string(text)
    out += struct.pack("<qI", generated, len(properties))
    for prop_code, prop_value in properties:
        out += cache_string(prop_code) + cache_string(prop_value)
    return out


def escape(text):
    text = text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
    return "".join(c if c in "\t\n\r" or c >= " " else "\ufffd" for c in text)


def rendered_time(seconds):
    if seconds < 0 or seconds > LATEST_LOCAL_TIME:
        return ""
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(seconds))


def element(depth, name, text):
    return "\r\n%s<%s>%s</%s>" % ("  " * depth, name, escape(text), name)


def document_event(item):
    name, domain, sid, account, code, action, generated, dump, properties = item
    out = "\r\n    <WorkstationEvent>"
    for tag, text in (("TimeGenerated", rendered_time(generated)), ("ComputerDomain", domain),
                      ("ComputerName", name), ("AccountName", account), ("AccountSID", sid),
                      ("EventDefinitionCode", code), ("ActionText", action),
                      ("EventDump", "<![CDATA[%s]]>" % dump)):
        out += element(3, tag, text)
    if not properties:
        return out + "\r\n      <EventProperties></EventProperties>\r\n    </WorkstationEvent>"
    out += "\r\n      <EventProperties>"
    for prop_code, prop_value in properties:
        out += "\r\n        <EventProperty>"
        out += element(5, "PropertyCode", prop_code) + element(5, "PropertyValue", prop_value)
        out += "\r\n        </EventProperty>"
    return out + "\r\n      </EventProperties>\r\n    </WorkstationEvent>"


def main():
    os.environ["TZ"] = "Europe/Berlin"
    time.tzset()
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "golden.cache"), "wb") as f:
        f.write(struct.pack("<I", len(ITEMS)) + b"".join(cache_item(i) for i in ITEMS))
    text = ('\ufeff<?xml version="1.0" encoding="UTF-16"?>\r\n<Korvex>\r\n  <WorkstationEvents>'
            + "".join(document_event(i) for i in ITEMS)
            + "\r\n  </WorkstationEvents>\r\n</Korvex>")
    with open(os.path.join(here, "golden.xml"), "wb") as f:
        f.write(utf16(text))


if __name__ == "__main__":
    main()
