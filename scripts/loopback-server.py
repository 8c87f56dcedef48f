#!/usr/bin/env python3
"""Serves a distribution folder on 127.0.0.1 the way the distributions' web
servers do: names are matched without regard to case (the setup program asks
for lower-cased names), range requests ("Range: bytes=N-" with "If-Range") are
answered with 206 and the rest of the file. Writes the port it listens on into
PORTFILE, logs one line per request on stderr ("GET /path <status> <bytes
sent>", then the Range header if the request had one).

    loopback-server.py FOLDER PORTFILE [--drop-once FRACTION] [--keep-whole SUFFIX]

--drop-once: the first answer for each file ends (an orderly close) after
FRACTION of its body, as a line that drops; later answers are whole.
--keep-whole: files whose names end so are never cut (what a client that
cannot resume fetches, such as msi.dll a product package).
"""
import http.server
import os
import socket
import sys
import threading
import urllib.parse

ROOT = os.path.abspath(sys.argv[1])
OPTIONS = dict(zip(sys.argv[3::2], sys.argv[4::2]))
DROP = float(OPTIONS["--drop-once"]) if "--drop-once" in OPTIONS else None
KEEP = OPTIONS.get("--keep-whole")
dropped = set()
lock = threading.Lock()


def find(relative):
    """The file below ROOT whose path equals relative without regard to case."""
    path = ROOT
    for part in [p for p in relative.split("/") if p]:
        if part in (".", ".."):
            return None
        try:
            names = os.listdir(path)
        except OSError:
            return None
        match = [n for n in names if n.lower() == part.lower()]
        if not match:
            return None
        path = os.path.join(path, match[0])
    return path if os.path.isfile(path) else None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def do_GET(self):
        relative = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        path = find(relative)
        if path is None:
            self.send_error(404)
            sys.stderr.write("GET %s 404 0\n" % relative)
            return
        info = os.stat(path)
        size, etag = info.st_size, '"%x-%x"' % (info.st_size, int(info.st_mtime))
        asked = self.headers.get("Range", "")
        start = 0
        if asked.startswith("bytes=") and self.headers.get("If-Range", etag) == etag:
            start = int(asked[6:].split("-")[0] or 0)
            start = start if start < size else 0
        self.send_response(206 if start else 200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size - start))
        self.send_header("ETag", etag)
        self.send_header("Accept-Ranges", "bytes")
        if start:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))
        self.end_headers()
        end = size
        with lock:
            if DROP is not None and relative.lower() not in dropped and not (KEEP and relative.lower().endswith(KEEP)):
                dropped.add(relative.lower())
                end = start + int((size - start) * DROP)
        sent = start
        with open(path, "rb") as f:
            f.seek(start)
            while sent < end:
                block = f.read(min(1 << 20, end - sent))
                if not block:
                    break
                self.wfile.write(block)
                sent += len(block)
        sys.stderr.write("GET %s %d %d%s\n" % (relative, 206 if start else 200, sent - start,
                                               " " + asked if asked else ""))
        sys.stderr.flush()
        if end < size:
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_WR)
            self.close_connection = True

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
with open(sys.argv[2], "w") as f:
    f.write(str(server.server_address[1]))
server.serve_forever()
