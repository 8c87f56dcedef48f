#!/usr/bin/env python3
"""Serves a distribution folder on 127.0.0.1 the way the distributions' web
servers do: names are matched without regard to case (the setup program asks
for lower-cased names). Writes the port it listens on into PORTFILE, logs one
line per request on stderr ("GET /path 200 <bytes>").

    loopback-server.py FOLDER PORTFILE
"""
import http.server
import os
import sys
import urllib.parse

ROOT = os.path.abspath(sys.argv[1])


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
        with open(path, "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        sys.stderr.write("GET %s 200 %d\n" % (relative, len(body)))
        sys.stderr.flush()

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
with open(sys.argv[2], "w") as f:
    f.write(str(server.server_address[1]))
server.serve_forever()
