#!/usr/bin/env python3
"""Reference server: plays the Korvex Foundation service for tests, demos and
operators trying the agent without the real server.

Endpoints (service port):
  GET  /GetConfigValue?Name=NAME   <Success>true</Success> and <ConfigValue>
  GET  /EventDefinitions/VERSION   the definitions document (--definitions), its
                                   charset from its byte order mark, else its
                                   XML declaration, else utf-8
  POST /EventPost                  a UTF-16 XML alert document; stored in SQLite
  GET  /Sample?status=&type=&body=&header=   a response made to order (tests)

Control (control port, and the service port while it accepts connections):
  GET  /control/status
  GET  /control/fault?mode=MODE[&delay=MS][&times=N][&path=PREFIX][&size=BYTES]
                      [&method=METHOD][&for=MS]
       MODE: none, refuse, 500, 502, 503, 504, slow, stall, html, drop, endless,
       huge, portal, cut. With times, only the next N requests misbehave; with
       path, only requests whose path starts with PREFIX misbehave (and count
       towards N); the others are answered normally.
       refuse closes the service port, so that connecting fails as it does
       with no server at all; a refused attempt never reaches the server and
       cannot be counted, so there times=N means N periods of delay ms
       (default 1000): the port listens again after N * delay ms.
       huge answers 200 with a Content-Length of size bytes (default 1 GiB),
       streamed, never held in memory.
       With method, only requests of that method (GET, POST) misbehave;
       with for, the fault ends by itself after MS milliseconds.
  GET  /control/fault?mode=redirect[&status=CODE][&location=URL][&path=PREFIX]
       answers with a redirection (default 302 to /Sample?body=moved)
  GET  /control/tls?cert=FILE&key=FILE   the service port's certificate for
       the connections that follow (with serve --tls)
  GET  /control/config?name=NAME&value=VALUE   (no value: forget NAME)
  GET  /control/config?name=NAME&answer=BODY   answer NAME with exactly BODY
  POST /control/definitions        replaces the definitions document (body)
  GET  /control/requests|documents|alerts?after=ID[&format=json|tsv]
  GET  /control/last?table=requests|documents|alerts   the newest id

Subcommands: serve, start, stop, run, list (see --help of each).
Standard library only.
"""

import argparse
import base64
import html
import json
import os
import re
import select
import signal
import socket
import sqlite3
import ssl
import sys
import threading
import time
import urllib.parse
import xml.etree.ElementTree as ET
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

FAULT_MODES = ("none", "refuse", "500", "502", "503", "504", "slow", "stall", "html", "drop",
               "endless", "huge", "portal", "cut")
# A redirection instead of the answer, as a moved service or a proxy sends.
FAULT_MODES += ("redirect",)
DEFAULT_REDIRECT = (302, "/Sample?body=moved")
# A proxy's or captive portal's own page, whole, with status 200.
PORTAL_PAGE = ("<html><head><title>Sign in</title></head><body><p>Sign in to use this network."
               "</p></body></html>")
# What a gateway in front of the service answers while the service is away.
GATEWAY_FAULTS = {"502": "Bad Gateway", "503": "Service Unavailable", "504": "Gateway Timeout"}
DEFAULT_DELAYS = {"slow": 5000, "stall": 60000, "refuse": 1000}
HUGE_DEFAULT_SIZE = 1024 * 1024 * 1024
MAX_REQUEST_BODY = 128 * 1024 * 1024
ENDLESS_LIMIT = 4 * 1024 * 1024 * 1024
ALERT_FIELDS = ("TimeGenerated", "ComputerDomain", "ComputerName", "AccountName",
                "AccountSID", "EventDefinitionCode", "ActionText", "EventDump")

SCHEMA = """
CREATE TABLE IF NOT EXISTS requests (
    id INTEGER PRIMARY KEY, received_at TEXT, method TEXT, path TEXT,
    headers TEXT, body_length INTEGER, fault TEXT);
CREATE TABLE IF NOT EXISTS documents (
    id INTEGER PRIMARY KEY, request_id INTEGER, received_at TEXT,
    content_type TEXT, content_length INTEGER, body BLOB, alert_count INTEGER,
    parse_error TEXT);
CREATE TABLE IF NOT EXISTS alerts (
    id INTEGER PRIMARY KEY, document_id INTEGER, position INTEGER,
    TimeGenerated TEXT, ComputerDomain TEXT, ComputerName TEXT, AccountName TEXT,
    AccountSID TEXT, EventDefinitionCode TEXT, ActionText TEXT, EventDump TEXT,
    properties TEXT);
"""


def now_text():
    return time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime()) + "Z"


def log(message):
    sys.stderr.write("%s %s\n" % (now_text(), message))
    sys.stderr.flush()


# --------------------------------------------------------------------------
# Storage

class Store:
    """Every request and every posted document, durably in SQLite."""

    def __init__(self, path, sync):
        self.lock = threading.Lock()
        self.db = sqlite3.connect(path, check_same_thread=False, isolation_level=None)
        self.db.execute("PRAGMA journal_mode=WAL")
        self.db.execute("PRAGMA synchronous=%s" % sync.upper())
        self.db.executescript(SCHEMA)

    def add_request(self, method, path, headers, body_length, fault):
        with self.lock:
            cursor = self.db.execute(
                "INSERT INTO requests (received_at, method, path, headers, body_length, fault)"
                " VALUES (?, ?, ?, ?, ?, ?)",
                (now_text(), method, path, headers, body_length, fault))
            return cursor.lastrowid

    def add_document(self, request_id, content_type, body, alerts, error):
        with self.lock:
            self.db.execute("BEGIN IMMEDIATE")
            try:
                cursor = self.db.execute(
                    "INSERT INTO documents (request_id, received_at, content_type,"
                    " content_length, body, alert_count, parse_error) VALUES (?, ?, ?, ?, ?, ?, ?)",
                    (request_id, now_text(), content_type, len(body), body, len(alerts), error))
                document_id = cursor.lastrowid
                for position, alert in enumerate(alerts):
                    self.db.execute(
                        "INSERT INTO alerts (document_id, position, %s, properties)"
                        " VALUES (?, ?, %s, ?)" % (", ".join(ALERT_FIELDS),
                                                   ", ".join("?" * len(ALERT_FIELDS))),
                        [document_id, position] + [alert[f] for f in ALERT_FIELDS]
                        + [json.dumps(alert["properties"], ensure_ascii=False)])
                self.db.execute("COMMIT")
            except BaseException:
                self.db.execute("ROLLBACK")
                raise
            return document_id

    def last(self, table):
        if table not in ("requests", "documents", "alerts"):
            raise ValueError("unknown table %r" % table)
        with self.lock:
            return self.db.execute("SELECT COALESCE(MAX(id), 0) FROM %s" % table).fetchone()[0]

    def rows(self, table, after):
        with self.lock:
            cursor = self.db.execute("SELECT * FROM %s WHERE id > ? ORDER BY id" % table, (after,))
            names = [d[0] for d in cursor.description]
            return [dict(zip(names, row)) for row in cursor.fetchall()]


def parse_alert_document(body):
    """The alerts of a UTF-16 alert document, or raises ValueError."""
    if body.startswith(b"\xff\xfe") or body.startswith(b"\xfe\xff"):
        text = body.decode("utf-16")
    elif len(body) > 1 and body[1] == 0:
        text = body.decode("utf-16-le")
    else:
        text = body.decode("utf-8")
    upper = text.upper()
    if "<!DOCTYPE" in upper or "<!ENTITY" in upper:
        raise ValueError("document type declarations are not accepted")
    try:
        root = ET.fromstring(body if text.startswith("\ufeff") or body[:2] == b"\xff\xfe"
                             else text)
    except ET.ParseError as error:
        raise ValueError("not well-formed: %s" % error)
    if root.tag != "Korvex":
        raise ValueError("root element is %s, not Korvex" % root.tag)
    alerts = []
    for event in root.iter("WorkstationEvent"):
        alert = {f: (event.findtext(f) or "") for f in ALERT_FIELDS}
        dump = alert["EventDump"]
        if dump.startswith("<![CDATA[") and dump.endswith("]]>"):
            alert["EventDump"] = dump[len("<![CDATA["):-len("]]>")]
        alert["properties"] = [
            [p.findtext("PropertyCode") or "", p.findtext("PropertyValue") or ""]
            for p in event.iter("EventProperty")]
        alerts.append(alert)
    return alerts


def document_charset(document):
    """The charset an XML document is written in: its byte order mark, else
    the encoding of its declaration, else UTF-8 (XML's default)."""
    if document.startswith(b"\xef\xbb\xbf"):
        return "utf-8"
    if document.startswith((b"\xff\xfe", b"\xfe\xff")):
        return "utf-16"
    if document.startswith(b"<\0?\0"):
        return "utf-16le"
    if document.startswith(b"\0<\0?"):
        return "utf-16be"
    declaration = re.match(rb"<\?xml[^>]*?encoding\s*=\s*[\"']([A-Za-z][A-Za-z0-9._-]*)[\"']",
                           document)
    return declaration.group(1).decode("ascii").lower() if declaration else "utf-8"


# --------------------------------------------------------------------------
# Server state shared by the handlers

class State:
    def __init__(self, args, store):
        self.lock = threading.Lock()
        self.store = store
        self.config = {"EDVersionNumber": args.ed_version}
        # Configuration answers given verbatim, for tests of the marker rules.
        self.config_answers = {}
        for item in args.config or []:
            name, _, value = item.partition("=")
            self.config[name] = value
        self.definitions = None
        if args.definitions:
            with open(args.definitions, "rb") as f:
                self.definitions = f.read()
        self.fault = "none"
        self.delay = 0
        self.times = 0
        self.fault_path = ""
        self.size = HUGE_DEFAULT_SIZE
        self.fault_method = ""
        # Tells a refusal's end timer whether its fault is still the one set.
        self.generation = 0
        self.service = None  # the ServicePort
        self.set_fault(args.fault, args.delay, 0)
        self.redirect = DEFAULT_REDIRECT
        # The service port's TLS context (serve --tls); None: plain HTTP.
        self.tls = None
        if args.tls:
            self.set_tls(*args.tls)

    def set_tls(self, cert, key):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        with self.lock:
            self.tls = context

    def set_fault(self, mode, delay, times, path="", size=0, method=""):
        if mode not in FAULT_MODES:
            raise ValueError("unknown fault mode %r" % mode)
        if mode == "refuse" and path:
            raise ValueError("refuse concerns every path")
        if times < 0 or delay < 0 or size < 0:
            raise ValueError("times, delay and size cannot be negative")
        with self.lock:
            self.generation += 1
            generation = self.generation
            self.fault = mode
            self.delay = delay if delay else DEFAULT_DELAYS.get(mode, 0)
            self.times = times
            self.fault_path = path
            self.fault_method = method.upper()
            self.size = size if size else HUGE_DEFAULT_SIZE
            refusal = self.times * self.delay / 1000.0
        if self.service:
            self.service.set_listening(mode != "refuse")
        if mode == "refuse" and times > 0:
            timer = threading.Timer(refusal, self.end_refusal, (generation,))
            timer.daemon = True
            timer.start()

    def end_refusal(self, generation):
        with self.lock:
            if generation != self.generation:
                return
            self.generation += 1
            self.fault, self.delay, self.times = "none", 0, 0
            self.service.set_listening(True)

    def end_fault_after(self, lasting):
        """Ends the fault just set after lasting milliseconds, unless another
        is set before."""
        with self.lock:
            generation = self.generation
        if lasting > 0:
            timer = threading.Timer(lasting / 1000.0, self.end_fault, (generation,))
            timer.daemon = True
            timer.start()

    def end_fault(self, generation):
        with self.lock:
            if generation != self.generation:
                return
        self.set_fault("none", 0, 0)

    def take_fault(self, path, method=""):
        """The fault for the request at hand; counts it down."""
        with self.lock:
            if not path.startswith(self.fault_path):
                return "none", 0
            if self.fault_method and method != self.fault_method:
                return "none", 0
            mode, delay = self.fault, self.delay
            if mode != "none" and self.times > 0:
                self.times -= 1
                if self.times == 0:
                    self.fault = "none"
            return mode, delay

    def config_answer(self, name):
        with self.lock:
            for key, value in self.config_answers.items():
                if key.lower() == name.lower():
                    return value
        return None

    def config_value(self, name):
        with self.lock:
            for key, value in self.config.items():
                if key.lower() == name.lower():
                    return value
        return None


# --------------------------------------------------------------------------
# HTTP handling

def tsv(rows):
    if not rows:
        return ""
    names = list(rows[0].keys())
    lines = ["\t".join(names)]
    for row in rows:
        cells = []
        for name in names:
            value = row[name]
            if isinstance(value, bytes):
                cells.append(value.hex())
            else:
                cells.append(urllib.parse.quote("" if value is None else str(value), safe=""))
        lines.append("\t".join(cells))
    return "\n".join(lines) + "\n"


def json_rows(rows):
    out = []
    for row in rows:
        row = dict(row)
        if isinstance(row.get("body"), bytes):
            body = row.pop("body")
            try:
                row["body_text"] = body.decode("utf-16") if body[:2] in (b"\xff\xfe", b"\xfe\xff") \
                    else body.decode("utf-8")
            except UnicodeDecodeError:
                row["body_base64"] = base64.b64encode(body).decode("ascii")
        if isinstance(row.get("properties"), str):
            row["properties"] = json.loads(row["properties"])
        out.append(row)
    return json.dumps(out, ensure_ascii=False, indent=1) + "\n"


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True
    server_version = "KorvexReferenceServer/1.0"
    sys_version = ""

    # ---- plumbing

    def log_message(self, format, *args):
        if not self.server.quiet:
            log("%s %s" % (self.address_string(), format % args))

    def send(self, status, body, content_type="text/xml; charset=utf-8", extra=()):
        if isinstance(body, str):
            body = body.encode("utf-8")
        self.send_response(status)
        if content_type:
            self.send_header("Content-Type", content_type)
        for name, value in extra:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def read_body(self):
        length = self.headers.get("Content-Length")
        if length is None:
            return None
        length = int(length)
        if length < 0 or length > MAX_REQUEST_BODY:
            raise ValueError("request body of %d bytes refused" % length)
        return self.rfile.read(length)

    def query(self):
        parsed = urllib.parse.urlsplit(self.path)
        return parsed.path, urllib.parse.parse_qs(parsed.query, keep_blank_values=True,
                                                  encoding="latin-1")

    def do_GET(self):
        self.dispatch("GET")

    def do_POST(self):
        self.dispatch("POST")

    def do_PUT(self):
        self.dispatch("PUT")

    def dispatch(self, method):
        state = self.server.state
        path, query = self.query()
        try:
            body = self.read_body()
        except ValueError as error:
            self.close_connection = True
            self.send(413, str(error), "text/plain")
            return
        if path.startswith("/control/"):
            self.control(method, path, query, body or b"")
            return
        if not self.server.is_control and state.fault == "refuse":
            self.close_connection = True  # an old keep-alive connection
            return
        mode, delay = state.take_fault(path, method)
        request_id = state.store.add_request(method, self.path, str(self.headers),
                                             len(body or b""), mode)
        if mode == "drop":
            self.close_connection = True
            return
        if mode == "500":
            self.send(500, "<html><body><h1>500 Internal Server Error</h1></body></html>",
                      "text/html")
            return
        if mode in GATEWAY_FAULTS:
            self.send(int(mode), "<html><body><h1>%s %s</h1></body></html>"
                      % (mode, GATEWAY_FAULTS[mode]), "text/html")
            return
        if mode == "endless":
            self.endless()
            return
        if mode == "redirect":
            status, location = state.redirect
            self.send(status, "", "text/html", (("Location", location),))
            return
        if mode == "huge":
            self.huge(state.size)
            return
        status, content, content_type, extra = self.answer(method, path, query, body, request_id)
        if mode == "html":
            status, content, content_type = 200, \
                "<html><head><title>Busy</title></head><body><p>Please wait", "text/html"
        if mode == "portal":
            status, content, content_type = 200, PORTAL_PAGE, "text/html"
        if mode == "cut":
            self.cut(status, content, content_type)
            return
        if mode == "slow":
            time.sleep(delay / 1000.0)
        if mode == "stall":
            self.stall(status, content, content_type, delay)
            return
        self.send(status, content, content_type, extra)

    # ---- faults

    def stall(self, status, content, content_type, delay):
        content = content.encode("utf-8") if isinstance(content, str) else content
        content = content.ljust(64, b" ")
        self.close_connection = True
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(content)))
        self.end_headers()
        self.wfile.write(content[:len(content) // 2])
        self.wfile.flush()
        # Hold the connection until the delay ends or the client gives up.
        select.select([self.connection], [], [], delay / 1000.0)

    def cut(self, status, content, content_type):
        """The first half of the answer as a whole response, as a proxy sends
        what it buffered when its upstream connection broke: the client
        cannot tell that the rest is missing."""
        content = content.encode("utf-8") if isinstance(content, str) else content
        self.send(status, content[:len(content) // 2], content_type)

    def endless(self):
        self.close_connection = True
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Connection", "close")
        self.end_headers()
        chunk = b"A" * 65536
        sent = 0
        try:
            while sent < ENDLESS_LIMIT:
                self.wfile.write(chunk)
                sent += len(chunk)
        except OSError:
            pass

    def huge(self, size):
        """A whole answer of size bytes, announced by its Content-Length and
        made as it goes."""
        self.close_connection = True
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        chunk = b"A" * 65536
        left = size
        try:
            while left > 0:
                self.wfile.write(chunk[:min(left, len(chunk))])
                left -= min(left, len(chunk))
        except OSError:
            pass

    # ---- the three endpoints and the sample

    def answer(self, method, path, query, body, request_id):
        state = self.server.state
        if method == "GET" and path == "/GetConfigValue":
            name = query.get("Name", [""])[0]
            answer = state.config_answer(name)
            if answer is not None:
                return 200, answer, "text/xml; charset=utf-8", ()
            value = state.config_value(name)
            if value is None:
                return 200, ('<?xml version="1.0" encoding="utf-8"?><GetConfigValueResponse>'
                             '<Success>false</Success><Error>Unknown configuration value %s'
                             '</Error></GetConfigValueResponse>' % html.escape(name)), \
                    "text/xml; charset=utf-8", ()
            return 200, ('<?xml version="1.0" encoding="utf-8"?><GetConfigValueResponse>'
                         '<Success>true</Success><ConfigValue>%s</ConfigValue>'
                         '</GetConfigValueResponse>' % html.escape(value)), \
                "text/xml; charset=utf-8", ()
        if method == "GET" and path.startswith("/EventDefinitions/"):
            with state.lock:
                document = state.definitions
            if document is None:
                return 404, "<html><body>No definitions document</body></html>", "text/html", ()
            return 200, document, "text/xml; charset=%s" % document_charset(document), ()
        if method == "POST" and path == "/EventPost":
            return self.event_post(body, request_id)
        if path == "/Sample":
            return self.sample(query)
        return 404, "<html><body>Not found</body></html>", "text/html", ()

    def event_post(self, body, request_id):
        if body is None:
            return 411, "<html><body>Content-Length required</body></html>", "text/html", ()
        try:
            alerts, error = parse_alert_document(body), None
        except (ValueError, UnicodeDecodeError) as problem:
            alerts, error = [], str(problem)
        self.server.state.store.add_document(request_id, self.headers.get("Content-Type"),
                                             body, alerts, error)
        if error:
            return 400, ('<?xml version="1.0" encoding="utf-8"?><EventPostResponse>'
                         '<Success>false</Success><Error>%s</Error></EventPostResponse>'
                         % html.escape(error)), "text/xml; charset=utf-8", ()
        return 200, ('<?xml version="1.0" encoding="utf-8"?><EventPostResponse>'
                     '<Success>true</Success><Alerts>%d</Alerts></EventPostResponse>'
                     % len(alerts)), "text/xml; charset=utf-8", ()

    def sample(self, query):
        def raw(name, default=""):
            return query.get(name, [default])[0].encode("latin-1")
        status = int(query.get("status", ["200"])[0])
        content_type = raw("type", "text/plain").decode("latin-1")
        extra = []
        for header in query.get("header", []):
            name, _, value = header.partition(":")
            extra.append((name.strip(), value.strip()))
        return status, raw("body"), content_type, extra

    # ---- control

    def control(self, method, path, query, body):
        state = self.server.state
        verb = path[len("/control/"):]
        try:
            if verb == "status":
                self.send(200, json.dumps(self.server.describe()), "application/json")
            elif verb == "fault":
                if query.get("mode", [""])[0] == "redirect":
                    state.redirect = (int(query.get("status", [str(DEFAULT_REDIRECT[0])])[0]),
                                      query.get("location", [DEFAULT_REDIRECT[1]])[0])
                state.set_fault(query.get("mode", ["none"])[0],
                                int(query.get("delay", ["0"])[0]),
                                int(query.get("times", ["0"])[0]),
                                query.get("path", [""])[0],
                                int(query.get("size", ["0"])[0]),
                                query.get("method", [""])[0])
                state.end_fault_after(int(query.get("for", ["0"])[0]))
                self.send(200, "ok\n", "text/plain")
            elif verb == "config":
                name = query.get("name", [""])[0]
                with state.lock:
                    state.config_answers.pop(name, None)
                    if "answer" in query:
                        state.config_answers[name] = \
                            query["answer"][0].encode("latin-1").decode("utf-8")
                    elif "value" in query:
                        state.config[name] = query["value"][0].encode("latin-1").decode("utf-8")
                    else:
                        state.config.pop(name, None)
                self.send(200, "ok\n", "text/plain")
            elif verb == "tls":
                if state.tls is None:
                    raise ValueError("the service port speaks plain HTTP (serve --tls)")
                state.set_tls(query.get("cert", [""])[0], query.get("key", [""])[0])
                self.send(200, "ok\n", "text/plain")
            elif verb == "definitions" and method == "POST":
                with state.lock:
                    state.definitions = body
                self.send(200, "ok\n", "text/plain")
            elif verb == "last":
                self.send(200, "%d\n" % state.store.last(query.get("table", [""])[0]),
                          "text/plain")
            elif verb in ("requests", "documents", "alerts"):
                rows = state.store.rows(verb, int(query.get("after", ["0"])[0]))
                if query.get("format", ["json"])[0] == "tsv":
                    self.send(200, tsv(rows), "text/tab-separated-values; charset=utf-8")
                else:
                    self.send(200, json_rows(rows), "application/json; charset=utf-8")
            else:
                self.send(404, "unknown control %s\n" % verb, "text/plain")
        except ValueError as error:
            self.send(400, "%s\n" % error, "text/plain")


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, state, is_control, quiet, describe):
        self.state = state
        self.is_control = is_control
        self.quiet = quiet
        self.describe = describe
        super().__init__(address, Handler)

    def get_request(self):
        connection, address = super().get_request()
        with self.state.lock:
            context = None if self.is_control else self.state.tls
        if context is not None:
            # The handshake happens at the first read, on the connection's
            # own thread, so that a client that stalls it holds up no other.
            connection = context.wrap_socket(connection, server_side=True,
                                             do_handshake_on_connect=False)
        return connection, address

    def handle_error(self, request, client_address):
        if not self.quiet:
            log("connection from %s ended: %s" % (client_address[0], sys.exc_info()[1]))


class ServicePort:
    """The service listener; closing it makes connections be refused."""

    def __init__(self, host, port, state, quiet, describe):
        self.host, self.port = host, port
        self.state, self.quiet, self.describe = state, quiet, describe
        self.lock = threading.Lock()
        self.server = None
        self.set_listening(True)

    def set_listening(self, listening):
        with self.lock:
            if listening and self.server is None:
                self.server = Server((self.host, self.port), self.state, False, self.quiet,
                                     self.describe)
                self.port = self.server.server_address[1]
                threading.Thread(target=self.server.serve_forever, daemon=True).start()
            elif not listening and self.server is not None:
                self.server.shutdown()
                self.server.server_close()
                self.server = None


# --------------------------------------------------------------------------
# Subcommands

def add_serve_options(parser):
    parser.add_argument("--host", default="127.0.0.1",
                        help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=15601,
                        help="service port (default 15601; 0 picks a free one)")
    parser.add_argument("--control-port", type=int, default=0,
                        help="control port (default 0: a free one)")
    parser.add_argument("--db", default="refserver.sqlite", help="SQLite file of what was stored")
    parser.add_argument("--definitions", help="definitions document served at /EventDefinitions/*")
    parser.add_argument("--ed-version", default="1",
                        help="the EDVersionNumber configuration value (default 1)")
    parser.add_argument("--config", action="append", metavar="NAME=VALUE",
                        help="a further configuration value (repeatable)")
    parser.add_argument("--fault", default="none", choices=FAULT_MODES,
                        help="misbehaviour from the start (default none)")
    parser.add_argument("--delay", type=int, default=0,
                        help="milliseconds for slow and stall (defaults 5000 and 60000)")
    parser.add_argument("--sync", default="full", choices=("full", "normal", "off"),
                        help="SQLite synchronous mode (default full)")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"),
                        help="the service port speaks HTTPS with this certificate (PEM) and key;"
                             " the control port stays plain HTTP")
    parser.add_argument("--address-file", help="written with the ports once listening")
    parser.add_argument("--quiet", action="store_true", help="log no requests")


def serve(args):
    store = Store(args.db, args.sync)
    state = State(args, store)
    ports = {}

    def describe():
        return {"service": "%s:%d" % (args.host, ports["service"].port),
                "control": "%s:%d" % (args.host, ports["control"].server_address[1]),
                "fault": state.fault, "delay": state.delay, "times": state.times,
                "fault_path": state.fault_path, "fault_method": state.fault_method,
                "tls": state.tls is not None,
                "config": state.config, "pid": os.getpid()}

    ports["service"] = ServicePort(args.host, args.port, state, args.quiet, describe)
    state.service = ports["service"]
    if args.fault == "refuse":
        state.service.set_listening(False)
    ports["control"] = Server((args.host, args.control_port), state, True, args.quiet, describe)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    info = describe()
    if args.address_file:
        temporary = args.address_file + ".tmp"
        with open(temporary, "w") as f:
            json.dump(info, f)
        os.replace(temporary, args.address_file)
    log("serving on %s, control on %s, storing in %s" % (info["service"], info["control"],
                                                         args.db))
    try:
        ports["control"].serve_forever()
    finally:
        store.db.close()


def state_paths(directory):
    return {"address": os.path.join(directory, "address.json"),
            "db": os.path.join(directory, "refserver.sqlite"),
            "log": os.path.join(directory, "refserver.log")}


def start(args):
    """Starts a server in the background and returns once it listens."""
    os.makedirs(args.state_dir, exist_ok=True)
    paths = state_paths(args.state_dir)
    for name in ("address", "db"):
        for suffix in ("", "-wal", "-shm"):
            if os.path.exists(paths[name] + suffix):
                os.remove(paths[name] + suffix)
    args.address_file = paths["address"]
    args.db = paths["db"]
    pid = os.fork()
    if pid == 0:
        os.setsid()
        log_fd = os.open(paths["log"], os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        null_fd = os.open(os.devnull, os.O_RDONLY)
        os.dup2(null_fd, 0)
        os.dup2(log_fd, 1)
        os.dup2(log_fd, 2)
        os.closerange(3, 1024)
        try:
            serve(args)
        finally:
            os._exit(0)
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        if os.path.exists(paths["address"]):
            with open(paths["address"]) as f:
                print(f.read())
            return 0
        done, _ = os.waitpid(pid, os.WNOHANG)
        if done:
            break
        time.sleep(0.05)
    sys.stderr.write("reference server did not start; see %s\n" % paths["log"])
    return 1


def is_reference_server(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return b"refserver" in f.read()
    except OSError:
        return False


def stop(args):
    paths = state_paths(args.state_dir)
    try:
        with open(paths["address"]) as f:
            pid = json.load(f)["pid"]
    except (OSError, ValueError, KeyError):
        return 0
    if is_reference_server(pid):
        os.kill(pid, signal.SIGTERM)
        deadline = time.monotonic() + 5
        while is_reference_server(pid) and time.monotonic() < deadline:
            time.sleep(0.05)
        if is_reference_server(pid):
            os.kill(pid, signal.SIGKILL)
    os.remove(paths["address"])
    return 0


def run(args):
    """Runs a command with the address of a started server in its environment."""
    with open(state_paths(args.state_dir)["address"]) as f:
        info = json.load(f)
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    environment = dict(os.environ, KX_REFSERVER=info["service"],
                       KX_REFSERVER_CONTROL=info["control"])
    os.execvpe(command[0], command, environment)


def list_stored(args):
    store = Store(args.db, "normal")
    rows = store.rows(args.what, args.after)
    if args.what == "documents" and not args.json:
        for row in rows:
            row.pop("body")
    sys.stdout.write(json_rows(rows) if args.json else tsv(rows))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command_name", required=True)
    add_serve_options(commands.add_parser("serve", help="run in the foreground"))
    start_parser = commands.add_parser("start", help="run in the background (test fixture)")
    add_serve_options(start_parser)
    start_parser.add_argument("--state-dir", required=True,
                              help="folder for the address file, database and log")
    stop_parser = commands.add_parser("stop", help="stop a server begun with start")
    stop_parser.add_argument("--state-dir", required=True)
    run_parser = commands.add_parser(
        "run", help="run a command with KX_REFSERVER and KX_REFSERVER_CONTROL set")
    run_parser.add_argument("--state-dir", required=True)
    run_parser.add_argument("command", nargs=argparse.REMAINDER)
    list_parser = commands.add_parser("list", help="list what a server stored")
    list_parser.add_argument("what", choices=("documents", "alerts", "requests"))
    list_parser.add_argument("--db", default="refserver.sqlite")
    list_parser.add_argument("--after", type=int, default=0, help="only rows with a larger id")
    list_parser.add_argument("--json", action="store_true", help="JSON instead of TSV")
    args = parser.parse_args()
    handlers = {"serve": serve, "start": start, "stop": stop, "run": run, "list": list_stored}
    return handlers[args.command_name](args) or 0


if __name__ == "__main__":
    sys.exit(main())
