#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets from the repository's real
inputs: the recorded Windows logs (imported into .evt files by kxeventlog),
the realistic definitions document, the test message files, the golden cache
file and the patterns the HTTP client uses. Run it again when those change:

  fuzz/make-seeds.py build/linux      (a built linux preset)

Each target's input layout is the one its .cpp reads; FuzzedDataProvider
takes integers from the end of the input and strings from its front.
"""
import glob
import os
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")


def put(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def fdp_string(text):
    """A string as ConsumeRandomLengthString reads it, ended."""
    return text.replace(b"\\", b"\\\\") + b"\\\x01"


def evt_files(build):
    tool = os.path.join(build, "tools", "kxeventlog", "kxeventlog")
    for evtx in sorted(glob.glob(os.path.join(ROOT, "tests", "data", "evtx", "*.evtx"))):
        root = tempfile.mkdtemp()
        try:
            env = dict(os.environ, KX_MACHINE_ROOT=root)
            subprocess.run([tool, "import", evtx], env=env, check=True, capture_output=True)
            subprocess.run([tool, "trim", "--keep", "12"], env=env, check=True,
                           capture_output=True)
            with open(os.path.join(root, "EventLogs", "Security.evt"), "rb") as f:
                yield os.path.splitext(os.path.basename(evtx))[0], f.read()
        finally:
            shutil.rmtree(root)


def records_of(evt):
    start, end = struct.unpack_from("<II", evt, 16)
    offset = start
    while offset < end:
        length = struct.unpack_from("<I", evt, offset)[0]
        yield evt[offset:offset + length]
        offset += length


def main():
    build = sys.argv[1]
    for name, evt in evt_files(build):
        put("evt_file", name, b"\x10\x00" + evt)
        put("evt_file", name + "_small_buffer", b"\x00\x20" + evt)
        records = list(records_of(evt))
        for i, record in enumerate(records[:3]):
            put("event_record", "%s_%d" % (name, i), record)
        put("collector", name, b"".join(records[1:6]))

    definitions = open(os.path.join(ROOT, "data", "definitions", "KXEventDefinitions.xml"),
                       "rb").read()
    text = definitions.decode("utf-8")
    for target in ("definitions", "xml_reader"):
        put(target, "realistic_utf8", b"\x00" + definitions)
        put(target, "realistic_utf16", b"\x01" + text.encode("utf-16-le"))
        # One definition alone keeps the inputs that mutate it small.
        first = text.split("<EventDefinition>")[1].split("</EventDefinition>")[0]
        small = text.split("<EventDefinition>")[0] + "<EventDefinition>" + first + \
            "</EventDefinition></EventDefinitions></Korvex>"
        put(target, "one_definition", b"\x00" + small.encode("utf-8"))

    for dll in sorted(glob.glob(os.path.join(build, "tests", "data", "messages", "*.dll"))):
        put("pe_message_table", os.path.basename(dll), open(dll, "rb").read())

    put("cache_file", "golden.cache",
        open(os.path.join(ROOT, "tests", "data", "alertlog", "golden.cache"), "rb").read())

    headers = (b"HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\n"
               b"Content-Length: 27\r\nSet-Cookie: session=abc; path=/\r\n"
               b"Set-Cookie: lang=de\r\nLocation: 302\r\n\r\n")
    status = struct.pack("<H", 100)  # 200 within 100..599
    put("http_response", "utf8_xml",
        fdp_string(headers) + "<html><b>\u00e4</b></html>".encode("utf-8") + status + b"\x00")
    put("http_response", "cut_html", fdp_string(b"HTTP/1.1 200 OK\r\n\r\n") +
        b"<html><body>" + status + b"\x00")
    put("http_response", "post_ansi", fdp_string(b"HTTP/1.1 500 Error\r\n"
        b"Content-Type: text/plain; charset=windows-1252\r\n\r\n") + b"caf\xe9" + status + b"\x04")

    patterns = [
        (b"\nContent-Length:\\b*{[0-9]+}", b"\nContent-Length: 42\r\n"),
        (b"charset={[A-Za-z0-9\\-_]+}", b"Content-Type: text/xml; charset=utf-8\r\n"),
        (b"Set-Cookie:\\b*{.+?}\\n", b"Set-Cookie: a=1\r\nSet-Cookie: b=2\r\n"),
        (b"{<html>}", b"<HTML><body></body></html>"),
        (b"^{\\w}\\b+{\\z}$", b"Version 12"),
        (b"{(a|b)+}!c\\1", b"abab abba"),
        (b"{[^\"]*}\\q??.*?$", b"say \"hi\" 'there'"),
    ]
    for i, (pattern, text) in enumerate(patterns):
        put("pattern_matcher", "pattern_%d" % i,
            fdp_string(pattern) + fdp_string(pattern) + text + b"\x00" + b"\x04")

    messages = [
        (b"User %1 logged on from %2!s! with %3!d! tries%n", [b"jane", b"WS01", b"3"]),
        (b"%1!-10s!|%2!*.*s!|%3!#x!|%4!c!%0ignored", [b"a", b"5", b"2", b"x"]),
        (b"100%% done%r%t%.%!", []),
    ]
    for i, (text, inserts) in enumerate(messages):
        put("message_format", "message_%d" % i,
            b"".join(fdp_string(s) for s in inserts) + text + bytes([len(inserts)]))

    reg = ("Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brenwick Corporation\\Korvex\\Settings]\r\n"
           "\"KFSServer\"=\"server.corp.example.test\"\r\n\"KFSPort\"=dword:00000050\r\n"
           "@=\"default\"\r\n\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
           "\"Binary\"=hex:01,02,03\r\n\"Gone\"=-\r\n\r\n[-HKEY_CURRENT_USER\\Old]\r\n")
    put("reg_file", "utf16_with_bom", b"\xff\xfe" + reg.encode("utf-16-le"))
    put("reg_file", "utf8", reg.replace("\r\n", "\n").encode("utf-8"))

    paths = ["LDAP://dc1.corp.example.test/CN=Jane Doe,OU=Sales,DC=corp,DC=example,DC=test",
             "LDAP://CN=Smith\\, John,CN=Users,DC=corp,DC=example,DC=test",
             "LDAP://dc1/<WKGUID=a9d1ca15768811d1aded00c04fd8d5cd,DC=corp,DC=example,DC=test>",
             "LDAP://<GUID=0123456789abcdef0123456789abcdef>",
             "CN=Escaped\\0A\\2C,DC=x"]
    for i, path in enumerate(paths):
        # UTF-8 (selector % 3 == 0), set in full; the last one as a distinguished name.
        selector = 12 if path.startswith("CN=") else 0
        put("ldap_path", "path_%d" % i, bytes([selector]) + path.encode("utf-8"))


if __name__ == "__main__":
    main()
