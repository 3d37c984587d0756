#!/usr/bin/env python3
"""A local crash collector for the crash reporter's tests (standard library only).

    crash_collector.py --state-dir DIR [--lifetime SECONDS] [--strict]

Listens on 127.0.0.1 on an ephemeral port and records every request. It answers as soon
as it has the request's headers and only then reads the body to its end: Wine's WinHTTP
waits for the answer inside WinHttpSendRequest before it writes a body it sends chunked
by hand, so an ordinary server and the client would wait on each other.

With --strict it reads a body the way a server that honours Content-Length does: by
Content-Length whenever one is present, and a request that also says "Transfer-Encoding"
is recorded with an error (such a request is invalid HTTP). Without it, Transfer-Encoding
wins as RFC 7230 lets a lenient server choose.

The path picks the answer: "/status/N..." answers N with no Location header (a 302 stays
a 302), any other path answers 200 with the body "ok". Three paths read and record the
whole request first, and then:
  "/silent..."            never answer (until the collector stops)
  "/header_trickle/S..."  send the status line, then the headers one byte every S seconds
  "/late/S..."            answer 200 "ok" after S seconds

Everything goes through files in DIR (started and stopped as update_server.py is):
  server.json          written once listening: {"port"}
  arrived-N            written as the N-th request's headers arrive, before the answer: a
                         client that has its answer has been counted here
  request-N.json       the N-th request (from 1), written once its body has been read:
                         {"method", "path", "headers", "chunks": [chunk sizes] (chunked
                          bodies), "body_b64" (after de-chunking), "content_b64" (after
                          gunzip when "Content-Encoding: gzip"), "parts": [{"name",
                          "filename", "content_type", "data_b64"}] (multipart bodies),
                          "error" (when the body could not be decoded)}
  stop / stopped       as for update_server.py
"""

import argparse
import base64
import gzip
import http.server
import json
import os
import socket
import socketserver
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                "update_server"))
from update_server import QuietHandler, serve_until_stopped, write_atomically  # noqa: E402


class BodyError(Exception):
    pass


def read_line(stream):
    line = stream.readline(65537)
    if not line.endswith(b"\r\n"):
        raise BodyError("unterminated line in a chunked body")
    return line[:-2]


def read_exactly(stream, size):
    data = stream.read(size)
    if len(data) != size:
        raise BodyError("body cut short: %d of %d bytes" % (len(data), size))
    return data


def read_chunked(stream):
    """The body and the sizes of its chunks, the last (0) included."""
    body = bytearray()
    sizes = []
    while True:
        size_text = read_line(stream).split(b";")[0].strip()
        if not size_text or any(c not in b"0123456789abcdefABCDEF" for c in size_text):
            raise BodyError("bad chunk size %r" % size_text)
        size = int(size_text, 16)
        sizes.append(size)
        if size == 0:
            while read_line(stream):  # trailers up to the empty line
                pass
            return bytes(body), sizes
        body += read_exactly(stream, size)
        if read_line(stream) != b"":
            raise BodyError("chunk of %d bytes not followed by CRLF" % size)


def split_multipart(content_type, body):
    """The parts of a multipart/form-data body, or None for another content type."""
    if not content_type.startswith("multipart/form-data; boundary="):
        return None
    boundary = content_type.split("boundary=", 1)[1].encode("ascii")
    delimiter = b"--" + boundary
    if not body.endswith(delimiter + b"--\r\n"):
        raise BodyError("multipart body does not end with its closing boundary")
    parts = []
    for piece in body[:-len(delimiter + b"--\r\n")].split(delimiter)[1:]:
        if not piece.startswith(b"\r\n") or not piece.endswith(b"\r\n"):
            raise BodyError("malformed part")
        head, sep, data = piece[2:-2].partition(b"\r\n\r\n")
        if not sep:
            raise BodyError("part without a blank line")
        part = {"name": None, "filename": None, "content_type": None,
                "data_b64": base64.b64encode(data).decode("ascii")}
        for line in head.decode("utf-8").split("\r\n"):
            key, _, value = line.partition(": ")
            if key == "Content-Disposition":
                for item in value.split("; ")[1:]:
                    name, _, quoted = item.partition("=")
                    if name in ("name", "filename"):
                        part[name] = quoted.strip('"')
            elif key == "Content-Type":
                part["content_type"] = value
        parts.append(part)
    return parts


def path_seconds(path, prefix):
    """The number of seconds after |prefix| in |path| ("/late/2.5/x" -> 2.5)."""
    return float(path[len(prefix):].split("/")[0].split("?")[0])


class Handler(QuietHandler):
    def handle_request(self):
        self.server.arrive()
        path = self.path
        if path.startswith(("/silent", "/header_trickle/", "/late/")):
            self.server.record(self.read_entry())
            self.close_connection = True
            if path.startswith("/silent"):
                self.server.wait(None)
            elif path.startswith("/late/"):
                if self.server.wait(path_seconds(path, "/late/")):
                    try:
                        self.answer(200)
                    except OSError:  # the client gave up
                        pass
            else:
                self.trickle_headers(path_seconds(path, "/header_trickle/"))
            return
        status = 200
        if path.startswith("/status/"):
            status = int(path_seconds(path, "/status/"))
        self.answer(status)
        self.close_connection = True
        self.server.record(self.read_entry())

    def answer(self, status):
        answer = b"ok"
        self.send_response(status)
        self.send_header("Content-Length", str(len(answer)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(answer)
        self.wfile.flush()

    def trickle_headers(self, seconds):
        try:
            self.wfile.write(b"HTTP/1.1 200 OK\r\n")
            self.wfile.flush()
            for byte in b"Content-Length: 2\r\nConnection: close\r\n\r\nok":
                if not self.server.wait(seconds):
                    return
                self.wfile.write(bytes([byte]))
                self.wfile.flush()
        except OSError:  # the client went away
            pass

    def read_entry(self):
        """The request as recorded, its body read to its end."""
        entry = {"method": self.command, "path": self.path, "headers": dict(self.headers)}
        try:
            length = self.headers.get("Content-Length")
            coding = self.headers.get("Transfer-Encoding")
            if self.server.strict and length is not None and coding is not None:
                entry["error"] = "both Content-Length and Transfer-Encoding"
            if self.server.strict and length is not None:
                body = read_exactly(self.rfile, int(length))
            elif "chunked" in (coding or "").lower():
                body, entry["chunks"] = read_chunked(self.rfile)
            else:
                body = read_exactly(self.rfile, int(self.headers.get("Content-Length", "0")))
            entry["body_b64"] = base64.b64encode(body).decode("ascii")
            content = body
            if self.headers.get("Content-Encoding", "") == "gzip":
                content = gzip.decompress(body)
            entry["content_b64"] = base64.b64encode(content).decode("ascii")
            parts = split_multipart(self.headers.get("Content-Type", ""), content)
            if parts is not None:
                entry["parts"] = parts
        except (BodyError, OSError, ValueError, EOFError) as error:
            entry.setdefault("error", str(error))
        return entry


class Collector(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = False
    address_family = socket.AF_INET

    def __init__(self, state_dir, strict):
        self.state_dir = state_dir
        self.strict = strict
        self.lock = threading.Lock()
        self.count = 0
        self.arrivals = 0
        super().__init__(("127.0.0.1", 0), Handler)

    def wait(self, seconds):
        """Waits |seconds| (None: without end); False when the collector stops first."""
        end = None if seconds is None else time.monotonic() + seconds
        stop = os.path.join(self.state_dir, "stop")
        while end is None or time.monotonic() < end:
            if os.path.exists(stop):
                return False
            time.sleep(0.05)
        return True

    def arrive(self):
        with self.lock:
            self.arrivals += 1
            write_atomically(os.path.join(self.state_dir, "arrived-%d" % self.arrivals), "")

    def record(self, entry):
        with self.lock:
            self.count += 1
            write_atomically(os.path.join(self.state_dir, "request-%d.json" % self.count),
                             json.dumps(entry))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--state-dir", required=True)
    parser.add_argument("--lifetime", type=float, default=600)
    parser.add_argument("--strict", action="store_true")
    args = parser.parse_args()
    collector = Collector(args.state_dir, args.strict)
    serve_until_stopped(args.state_dir, [collector], {"port": collector.server_address[1]},
                        args.lifetime)
    return 0


if __name__ == "__main__":
    sys.exit(main())
