#!/usr/bin/env python3
"""Reference lyrics service: stands in for the maker's service in tests and demos.

It answers the plug-in's lookup (POST /tools/plugin.php) and version query
(GET /tools/plugin.php?do=checkv) from a small catalogue, and serves the lyrics pages it
names. Requests may come in origin form or in absolute form, so it works both as the origin
server and as the HTTP proxy that a Wine prefix's WinINet settings point at; it answers every
request itself and never forwards anything. It listens on 127.0.0.1 only.

Every request except control requests is recorded exactly as received. The control interface
is on the same port, answered only for origin-form requests from loopback:

  POST /_control/reset    forget the log and all scheduled behaviour; version back to --version
  POST /_control/next     schedule a behaviour for the next request(s); form-encoded keys:
                            status   answer with this status code
                            body     answer with these bytes instead of the normal body
                            delay    seconds to wait before answering
                            pieces   send the body in this many pieces ...
                            pause    ... with this many seconds between them
                            action   answer (default) | close (close without answering)
                                     | hang (accept, read the request, never answer)
                            count    how many requests the behaviour applies to (default 1)
                            drip     send the answer one byte at a time, this many seconds
                                     apart ...
                            drip_from  ... from the start of its head (head, the default) or
                                     of its body (body)
                            redirect answer "302 Found" (or the status given) with a Location:
                                     N sends this and the next N-1 requests along /hop/1 to
                                     /hop/N (a chain; the request after it gets the next
                                     behaviour); loop sends every request back to its own
                                     address, for good
                            length   declare this Content-Length instead of the body's own
                            end      close (default) | reset: end the connection after the
                                     answer with a TCP reset instead of an orderly close ...
                            end_after  ... this many seconds after the answer's last byte
  POST /_control/version  the body becomes the version text answered from now on
  GET  /_control/log      the recorded requests, each written as "<length>\\n<raw bytes>\\n"

A reset also cuts short every answer still being given slowly (delay, pause, drip, hang), so
that what one test started does not run on into the next.

  lyrics_service.py print-log PORT
prints what the service on 127.0.0.1:PORT has received, one request a line: its method and
target, then its form body, if any.
"""

import argparse
import dataclasses
import html
import http
import ipaddress
import json
import os
import select
import signal
import socket
import socketserver
import struct
import sys
import threading
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_CATALOGUE = os.path.join(HERE, "catalogue.json")
DEFAULT_HOST_NAME = "lyrics.tunelore.example"
DEFAULT_VERSION = "2.1"

LOOKUP_PATH = "/tools/plugin.php"
CONTROL_PREFIX = "/_control/"
# The plug-in's texts are bytes of the ANSI code page; Western systems use this one.
TEXT_ENCODING = "cp1252"
MAX_HEAD_BYTES = 64 * 1024
MAX_BODY_BYTES = 8 * 1024 * 1024
READ_TIMEOUT_SECONDS = 10
ACTIONS = ("answer", "close", "hang")
ENDS = ("close", "reset")
DRIP_STARTS = ("head", "body")
FOREVER = -1  # the count of a behaviour that never runs out
# How often a slow answer looks whether the service was reset or is stopping.
SLOW_ANSWER_CHECK_SECONDS = 0.05


class BadRequest(Exception):
    pass


# --- Catalogue -----------------------------------------------------------------------------

def _song_key(text):
    return text.strip().casefold()


class Catalogue:
    def __init__(self, songs):
        self._by_name = {(_song_key(s["artist"]), _song_key(s["title"])): s for s in songs}
        self._by_slug = {s["slug"]: s for s in songs}

    @classmethod
    def load(cls, path):
        with open(path, encoding="utf-8") as f:
            return cls(json.load(f))

    def find(self, artist, title):
        return self._by_name.get((_song_key(artist), _song_key(title)))

    def by_slug(self, slug):
        return self._by_slug.get(slug)

    def songs(self):
        return list(self._by_slug.values())


# --- Requests ------------------------------------------------------------------------------

@dataclasses.dataclass
class Request:
    method: str
    target: str
    version: str
    headers: list
    body: bytes
    raw: bytes

    def header(self, name):
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None


def read_request(rfile):
    """Reads one request; returns None when the peer sent nothing. A request whose head or
    body is cut short raises BadRequest carrying the bytes that did arrive."""
    raw = bytearray()
    lines = []
    while True:
        line = rfile.readline(MAX_HEAD_BYTES + 1)
        raw += line
        if not line:
            if not raw:
                return None
            raise BadRequest(bytes(raw))
        if len(raw) > MAX_HEAD_BYTES:
            raise BadRequest(bytes(raw))
        if line in (b"\r\n", b"\n"):
            if lines:
                break
            continue  # stray line breaks before a request line are ignored
        lines.append(line.decode("latin-1").rstrip("\r\n"))

    parts = lines[0].split(" ")
    if len(parts) != 3:
        raise BadRequest(bytes(raw))
    headers = []
    for line in lines[1:]:
        name, sep, value = line.partition(":")
        if not sep:
            raise BadRequest(bytes(raw))
        headers.append((name.strip(), value.strip()))
    request = Request(parts[0], parts[1], parts[2], headers, b"", b"")

    length_text = request.header("Content-Length") or "0"
    if not length_text.isdigit() or int(length_text) > MAX_BODY_BYTES:
        raise BadRequest(bytes(raw))
    body = rfile.read(int(length_text))
    raw += body
    if len(body) < int(length_text):
        raise BadRequest(bytes(raw))
    request.body = body
    request.raw = bytes(raw)
    return request


def split_target(target):
    """Returns (origin_form, path, query) of an origin-form ("/path?query") or absolute-form
    ("http://host:port/path?query") request target; None for any other form."""
    if target.startswith("/"):
        path, _, query = target.partition("?")
        return True, path, query
    parts = urllib.parse.urlsplit(target)
    if parts.scheme.lower() == "http" and parts.netloc:
        return False, parts.path or "/", parts.query
    return None


def parse_form(body):
    """The plug-in's form body, which ends with a zero byte: the text stops there."""
    text = body.split(b"\0", 1)[0].decode("latin-1")
    return dict(urllib.parse.parse_qsl(text, keep_blank_values=True, encoding=TEXT_ENCODING,
                                       errors="replace"))


# --- Behaviour -----------------------------------------------------------------------------

def _redirect_hops(value):
    hops = FOREVER if value == "loop" else int(value)
    if hops == 0:
        raise ValueError("redirect")
    return hops


# The fields a behaviour form may set, each key the attribute it sets, and how its text
# becomes the value.
_BEHAVIOUR_FIELDS = {
    "status": int,
    "body": lambda value: value.encode("latin-1"),
    "delay": float,
    "pieces": int,
    "pause": float,
    "action": str,
    "count": int,
    "drip": float,
    "drip_from": str,
    "redirect": _redirect_hops,
    "length": int,
    "end": str,
    "end_after": float,
}


@dataclasses.dataclass
class Behaviour:
    status: int = 0  # 0: the normal status
    body: bytes = None  # None: the normal body
    delay: float = 0.0
    pieces: int = 1
    pause: float = 0.0
    action: str = "answer"
    count: int = 1
    drip: float = 0.0
    drip_from: str = "head"
    redirect: int = 0  # hops of a chain; FOREVER for a loop
    length: int = -1  # -1: the body's own length
    end: str = "close"
    end_after: float = 0.0
    hop: int = 0  # which request of the behaviour this is, from 1 (set when taken)

    @classmethod
    def from_form(cls, body):
        # latin-1 keeps every escaped byte as it was, zero bytes included.
        fields = dict(urllib.parse.parse_qsl(body.decode("latin-1"), keep_blank_values=True,
                                             encoding="latin-1"))
        b = cls()
        try:
            for key, value in fields.items():
                convert = _BEHAVIOUR_FIELDS.get(key)
                if convert is None:
                    raise ValueError(key)
                setattr(b, key, convert(value))
        except ValueError as error:
            raise BadRequest(str(error).encode()) from None
        if (b.action not in ACTIONS or not 0 <= b.status <= 999 or b.pieces < 1 or b.count < 1
                or b.delay < 0 or b.pause < 0 or b.drip < 0 or b.drip_from not in DRIP_STARTS
                or b.redirect < FOREVER or b.length < -1 or b.end not in ENDS or b.end_after < 0
                or (b.drip and b.pieces > 1) or (b.redirect and "count" in fields)):
            raise BadRequest(body)
        if b.redirect:
            b.count = b.redirect
        return b

    def location(self, own_target):
        """The Location of a redirect behaviour's answer, or None for any other behaviour."""
        if not self.redirect:
            return None
        return own_target if self.redirect == FOREVER else f"/hop/{self.hop}"


# --- The service ---------------------------------------------------------------------------

def _page(title, paragraphs):
    body = "".join(f"<p>{p}</p>\n" for p in paragraphs)
    return ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
            f"<title>{html.escape(title)}</title></head>\n"
            f"<body><h1>{html.escape(title)}</h1>\n{body}</body></html>\n").encode("utf-8")


HTML = "text/html; charset=utf-8"
TEXT = "text/plain; charset=windows-1252"


class Service:
    """What the service knows and answers, apart from sockets."""

    def __init__(self, catalogue, host_name=DEFAULT_HOST_NAME, version=DEFAULT_VERSION):
        self.catalogue = catalogue
        self.host_name = host_name
        self.default_version = version
        self.version = version
        self.stopping = threading.Event()
        self.generation = 0  # raised by every reset
        self._lock = threading.Lock()
        self._log = []
        self._scheduled = []

    def record(self, raw):
        with self._lock:
            self._log.append(raw)

    def take_behaviour(self):
        """(behaviour for the next request, the generation it belongs to)."""
        with self._lock:
            if not self._scheduled:
                return Behaviour(), self.generation
            behaviour = self._scheduled[0]
            behaviour.hop += 1
            taken = dataclasses.replace(behaviour)
            if behaviour.count != FOREVER:
                behaviour.count -= 1
                if behaviour.count == 0:
                    self._scheduled.pop(0)
            return taken, self.generation

    def interrupted(self, generation):
        """True once the service stops or is reset after an answer of that generation began."""
        return self.stopping.is_set() or self.generation != generation

    def pause(self, seconds, generation):
        """Waits; True when the wait was cut short by a stop or a reset."""
        remaining = seconds
        while remaining > 0:
            if self.interrupted(generation):
                return True
            step = min(remaining, SLOW_ANSWER_CHECK_SECONDS)
            self.stopping.wait(step)
            remaining -= step
        return self.interrupted(generation)

    def control(self, method, path, body):
        command = path[len(CONTROL_PREFIX):]
        with self._lock:
            if method == "POST" and command == "reset":
                self._log.clear()
                self._scheduled.clear()
                self.version = self.default_version
                self.generation += 1
            elif method == "POST" and command == "next":
                self._scheduled.append(Behaviour.from_form(body))
            elif method == "POST" and command == "version":
                self.version = body.decode("latin-1")
            elif method == "GET" and command == "log":
                framed = b"".join(b"%d\n%s\n" % (len(raw), raw) for raw in self._log)
                return 200, "application/octet-stream", framed
            else:
                return 404, TEXT, b"unknown control request"
        return 200, TEXT, b"ok"

    def lookup_reply(self, fields):
        artist, title = fields.get("artist", ""), fields.get("title", "")
        song = self.catalogue.find(artist, title)
        if song:
            found, url = song["title"], f"http://{self.host_name}/lyrics/{song['slug']}"
        else:
            query = urllib.parse.urlencode({"artist": artist, "title": title},
                                           encoding=TEXT_ENCODING, errors="replace")
            found, url = "", f"http://{self.host_name}/search?{query}"
        return f"<title>{found}</title>\n<url>{url}</url>".encode(TEXT_ENCODING, errors="replace")

    def answer(self, method, path, query, body):
        """(status, content type, body) of a request to the service's own paths."""
        if path == LOOKUP_PATH:
            if method == "POST":
                return 200, TEXT, self.lookup_reply(parse_form(body))
            if method == "GET" and urllib.parse.parse_qs(query).get("do") == ["checkv"]:
                with self._lock:
                    return 200, TEXT, self.version.encode(TEXT_ENCODING, errors="replace")
            return 400, TEXT, b"unknown request"
        if method != "GET":
            return 405, TEXT, b"method not allowed"
        if path.startswith("/lyrics/"):
            song = self.catalogue.by_slug(path[len("/lyrics/"):])
            if song:
                heading = f"{song['artist']} - {song['title']}"
                return 200, HTML, _page(heading, [html.escape(line) for line in song["lyrics"]])
        elif path == "/search":
            fields = urllib.parse.parse_qs(query, encoding=TEXT_ENCODING, errors="replace")
            wanted = " - ".join(fields.get(k, [""])[0] for k in ("artist", "title"))
            return 200, HTML, _page("No lyrics yet", [f"Nothing found for {html.escape(wanted)}."])
        elif path == "/plugin":
            return 200, HTML, _page("Tunelore plugin", [f"The newest version is {html.escape(self.version)}."])
        elif path == "/":
            links = [f'<a href="/lyrics/{s["slug"]}">{html.escape(s["artist"] + " - " + s["title"])}</a>'
                     for s in self.catalogue.songs()]
            return 200, HTML, _page("Lyrics", links)
        return 404, HTML, _page("Not found", ["No such page."])


def _is_loopback(address):
    try:
        return ipaddress.ip_address(address).is_loopback
    except ValueError:
        return False


def _response_head(status, content_type, length, location=None):
    try:
        reason = http.HTTPStatus(status).phrase
    except ValueError:
        reason = "Status"
    extra = f"Location: {location}\r\n" if location is not None else ""
    return (f"HTTP/1.0 {status} {reason}\r\nContent-Type: {content_type}\r\n{extra}"
            f"Content-Length: {length}\r\nConnection: close\r\n\r\n").encode("latin-1")


class Handler(socketserver.StreamRequestHandler):
    timeout = READ_TIMEOUT_SECONDS
    generation = 0  # of the service's state the answer belongs to

    def handle(self):
        service = self.server.service
        try:
            request = read_request(self.rfile)
        except BadRequest as error:
            service.record(error.args[0])
            self._respond(400, TEXT, b"bad request")
            return
        except OSError:
            return
        if request is None:
            return

        target = split_target(request.target)
        if (target and target[0] and target[1].startswith(CONTROL_PREFIX)
                and _is_loopback(self.client_address[0])):
            try:
                self._respond(*service.control(request.method, target[1], request.body))
            except BadRequest:
                self._respond(400, TEXT, b"bad behaviour")
            return

        service.record(request.raw)
        behaviour, self.generation = service.take_behaviour()
        if behaviour.action == "close":
            return
        if behaviour.action == "hang":
            self._wait_for_peer_to_close()
            return
        if behaviour.delay and service.pause(behaviour.delay, self.generation):
            return
        location = None
        if target is None:
            status, content_type, body = 400, TEXT, b"unsupported request target"
        elif behaviour.redirect:
            own = target[1] + ("?" + target[2] if target[2] else "")
            location = behaviour.location(own)
            status, content_type, body = 302, TEXT, b"moved"
        else:
            status, content_type, body = service.answer(request.method, target[1], target[2], request.body)
        if behaviour.status:
            status = behaviour.status
        if behaviour.body is not None:
            body = behaviour.body
        length = behaviour.length if behaviour.length >= 0 else len(body)
        head = _response_head(status, content_type, length, location)
        if behaviour.drip:
            self._drip(head, body, behaviour.drip, behaviour.drip_from)
        else:
            self._send(head, body, behaviour.pieces, behaviour.pause)
        if behaviour.end_after and service.pause(behaviour.end_after, self.generation):
            return
        if behaviour.end == "reset":
            self._reset()

    def _respond(self, status, content_type, body):
        self._send(_response_head(status, content_type, len(body)), body)

    def _send(self, head, body, pieces=1, pause=0.0):
        service = self.server.service
        size = -(-len(body) // pieces) if body else 0
        chunks = [body[i:i + size] for i in range(0, len(body), size)] if size else [b""]
        try:
            self.connection.sendall(head + chunks[0])
            for chunk in chunks[1:]:
                if service.pause(pause, self.generation):
                    return
                self.connection.sendall(chunk)
        except OSError:
            pass  # the client went away, e.g. after reading as much as it wanted

    def _drip(self, head, body, interval, start):
        service = self.server.service
        answer = head + body
        at = 0 if start == "head" else len(head)
        try:
            if at:
                self.connection.sendall(answer[:at])
            for i in range(at, len(answer)):
                if i > 0 and service.pause(interval, self.generation):
                    return
                self.connection.sendall(answer[i:i + 1])
        except OSError:
            pass

    def _reset(self):
        # With a zero linger time, closing sends a reset and no orderly end. What was sent
        # before stays readable at the other end, ahead of the reset.
        try:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
        except OSError:
            pass

    def _wait_for_peer_to_close(self):
        service = self.server.service
        while not service.interrupted(self.generation):
            try:
                readable, _, _ = select.select([self.connection], [], [], 0.2)
                if readable and not self.connection.recv(4096):
                    return
            except OSError:
                return


class LyricsServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    block_on_close = False
    allow_reuse_address = True

    def __init__(self, port, service):
        super().__init__(("127.0.0.1", port), Handler)
        self.service = service

    @property
    def port(self):
        return self.server_address[1]


# --- The log, read back --------------------------------------------------------------------

def parse_log(framed):
    """The raw requests of a log framed as GET /_control/log answers it."""
    requests = []
    at = 0
    while at < len(framed):
        newline = framed.index(b"\n", at)
        length = int(framed[at:newline])
        requests.append(framed[newline + 1:newline + 1 + length])
        at = newline + 1 + length + 1
    return requests


def log_line(raw):
    """One recorded request as a reader wants it: method, target and form body."""
    head, _, body = raw.partition(b"\r\n\r\n")
    method, target = head.split(b"\r\n")[0].split(b" ")[:2]
    line = f"{method.decode()} {target.decode('latin-1')}"
    if body:
        # The form ends with a zero byte, as the plug-in sends it.
        line += "  " + body.rstrip(b"\0").decode("latin-1") + ("  (+ zero byte)" if body.endswith(b"\0") else "")
    return line


def fetch_log(port):
    # The control interface is on loopback; no proxy may stand between.
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    with opener.open(f"http://127.0.0.1:{port}{CONTROL_PREFIX}log", timeout=10) as reply:
        return reply.read()


def print_log(argv):
    parser = argparse.ArgumentParser(prog=f"{os.path.basename(sys.argv[0])} print-log",
                                     description="prints what a running service has received")
    parser.add_argument("port", type=int, help="the service's port on 127.0.0.1")
    args = parser.parse_args(argv)
    for raw in parse_log(fetch_log(args.port)):
        print(log_line(raw))
    return 0


# --- Running it ----------------------------------------------------------------------------

def _write_atomically(path, text):
    temporary = f"{path}.{os.getpid()}.tmp"
    with open(temporary, "w", encoding="ascii") as f:
        f.write(text)
    os.replace(temporary, path)


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv[:1] == ["print-log"]:
        return print_log(argv[1:])
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0],
                                     epilog="print-log PORT: prints what a running service has received")
    parser.add_argument("--port", type=int, default=0, help="port on 127.0.0.1 (0: pick a free one)")
    parser.add_argument("--port-file", help="write the chosen port to this file once listening")
    parser.add_argument("--host-name", default=DEFAULT_HOST_NAME, help="host named in the page addresses")
    parser.add_argument("--version", default=DEFAULT_VERSION, help="version text of the version query")
    parser.add_argument("--catalogue", default=DEFAULT_CATALOGUE, help="catalogue of songs (JSON)")
    args = parser.parse_args(argv)

    service = Service(Catalogue.load(args.catalogue), args.host_name, args.version)
    server = LyricsServer(args.port, service)

    def stop(signum, frame):
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)
    try:
        if args.port_file:
            _write_atomically(args.port_file, f"{server.port}\n")
        print(f"lyrics service on 127.0.0.1:{server.port}", flush=True)
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    finally:
        service.stopping.set()
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
