#!/usr/bin/env python3
"""A local update server for the installer's tests (standard library only).

    update_server.py --state-dir DIR [--lifetime SECONDS] [--port PORT]

Listens on 127.0.0.1 and ::1 on one ephemeral port (or PORT: the installer's fixed local
statistics endpoint is localhost:8080), and runs a small proxy that answers
407 on a second port. Everything goes through files in DIR, so a test under Wine needs no
process handle of this server (Wine starts Unix programs without one):

  server.json    written once both listeners are up: {"port", "proxy_port", "ipv6"}
  config.json    read again whenever it changes (replace it atomically):
                   {"routes": {path: route}, "faults": {path: [fault, ...]},
                    "download_address": {...}, "proxy_credentials": "user:password"}
  files/NAME     bodies of routes {"file": NAME}
  requests.jsonl one JSON line per request, written before the reply is sent:
                   {"method", "path", "target", "headers", "body", "listener",
                    "received_us"}: "target" the request line's target as it came (a
                   proxy's whole address), "received_us" the microseconds from the
                   server's start to the request
  stop           created by the test: the server ends within a fifth of a second
  release_NAME   created by the test: held answers of "hold_until" NAME go on
  stopped        written by the server as its last act

Routes: {"file": NAME} serves files/NAME with Range support; {"body": TEXT, "status": N,
"headers": {...}} answers TEXT. Every answer carries Date, Server, X-Served-By and
Content-Length. "/netinstaller/feedback" records the POST and answers 200 "ok". Any other
path under "/netinstaller/" answers the download address: "download_address" of the
config with "{base}" replaced by "http://" + the Host header, and "installer_checksum"
computed from "installer_file" (a NAME under files/) when not given.

Faults (per path, taken in order; each applies "times" times, or forever without it):
  {"close": true}                        close the connection before any header
  {"status": N}                          answer N with an empty body (404, 500, 502, 204...)
  {"status": 302, "location": URL}       a redirect ("{base}" is replaced as above); URL
                                         may carry "user:pw@" and a "#fragment": the
                                         recorded path and headers show what of them a
                                         client sent on
  {"cut_after": K}                       full headers, then K body bytes, then close
  {"ignore_range": true}                 answer 200 with the whole body to a Range request
  {"content_length": N}                  a text or download-address answer whose
                                         Content-Length says N but whose body is sent
                                         whole; the connection stays open when N is
                                         shorter than the body and is closed otherwise
  {"extra_bytes": N, "late": B}          N bytes beyond the Content-Length of a text, address
                                         or file answer, and the connection kept open
                                         whatever the request asked; when "late", the
                                         bytes go out only when the next request on that
                                         connection has come, just before its answer
  {"content_range": TEXT}                answer a Range request with this Content-Range
  {"range_shift": N}                     answer a Range request from N bytes later (earlier
                                         when negative) than asked, as its Content-Range says
  {"hold_until": NAME, "after_bytes": K} hold the answer until the test creates the file
                                         "release_NAME": a file route sends its headers and
                                         the body up to byte K of the file (0 without it)
                                         first, any other route waits before answering;
                                         released, the answer goes on as usual; a POST
                                         is read and recorded first, so a held POST is
                                         one whose body arrived and that never gets an
                                         answer with "hold_until": "never"
  {"reset": true}                        read and record the request, then reset the
                                         connection (RST) without an answer
  {"trickle": SECONDS, "bytes": N}       a file or text answer: full headers, then N body
                                         bytes (1 without it) every SECONDS, until the
                                         body ends or the client goes away
  {"stall_after": K}                     full headers, then K bytes of this answer's body,
                                         then nothing more until the server stops; a text
                                         or address answer is padded with spaces to K + 1024
                                         bytes so that its Content-Length claims more
  {"stall_after": K, "reset_on_next": B} ... and when B, the connection is reset (RST) as
                                         soon as a later request for the path has come
  {"header_trickle": SECONDS}            the status line and headers one byte every SECONDS
                                         (the answer then goes on as its other keys say)
  {"delay": SECONDS}                     wait SECONDS before answering
  {"no_length": true}                    a text answer without Content-Length, its body
                                         ended by closing the connection
The proxy answers every request with 407 and Proxy-Authenticate, unless it carries the
configured "proxy_credentials" (Basic); then it serves the request as the server would.

The server stops by itself after --lifetime seconds (default 600), whatever happens; a
held answer waits at most that long too.
"""

import argparse
import base64
import hashlib
import http.server
import json
import os
import socket
import socketserver
import struct
import sys
import threading
import time

SERVED_BY = "velum-test-update-server"


class State:
    """Config, fault counters and the request log, shared by every listener."""

    def __init__(self, state_dir, lifetime):
        self.dir = state_dir
        self.started = time.monotonic()
        self.deadline = self.started + lifetime
        self.lock = threading.Lock()
        self.config_text = None
        self.config = {}
        self.fault_uses = {}
        self.request_counts = {}

    def load_config(self):
        path = os.path.join(self.dir, "config.json")
        try:
            with open(path, "rb") as f:
                text = f.read()
        except OSError:
            text = b"{}"
        with self.lock:
            if text != self.config_text:
                try:
                    self.config = json.loads(text.decode("utf-8") or "{}")
                except ValueError:
                    self.config = {}
                self.config_text = text
                self.fault_uses = {}
            return self.config

    def take_fault(self, path):
        """The fault to apply to this request of |path|, counting its use, or None."""
        config = self.load_config()
        with self.lock:
            used = self.fault_uses.setdefault(path, [])
            for index, fault in enumerate(config.get("faults", {}).get(path, [])):
                while len(used) <= index:
                    used.append(0)
                times = fault.get("times")
                if times is None or used[index] < times:
                    used[index] += 1
                    return fault
        return None

    def wait(self, seconds):
        """Returns after |seconds|, or sooner when the server stops or its lifetime ends."""
        end = min(self.deadline, time.monotonic() + seconds)
        stop = os.path.join(self.dir, "stop")
        while time.monotonic() < end and not os.path.exists(stop):
            time.sleep(0.02)

    def wait_for_release(self, name):
        """Returns once "release_<name>" exists, the server stops or its lifetime ends."""
        release = os.path.join(self.dir, "release_" + os.path.basename(name))
        stop = os.path.join(self.dir, "stop")
        while (time.monotonic() < self.deadline and not os.path.exists(release) and
               not os.path.exists(stop)):
            time.sleep(0.02)

    def wait_for_request(self, path, count):
        """Returns once more than |count| requests of |path| came, the server stops or its
        lifetime ends."""
        stop = os.path.join(self.dir, "stop")
        while (time.monotonic() < self.deadline and not os.path.exists(stop) and
               self.request_counts.get(path, 0) <= count):
            time.sleep(0.02)

    def record(self, entry):
        line = json.dumps(entry, sort_keys=True) + "\n"
        with self.lock:
            self.request_counts[entry["path"]] = self.request_counts.get(entry["path"], 0) + 1
            with open(os.path.join(self.dir, "requests.jsonl"), "a", encoding="utf-8") as f:
                f.write(line)
                f.flush()


class QuietHandler(http.server.BaseHTTPRequestHandler):
    """HTTP/1.1, silent, every method to handle_request (also the crash collector's)."""
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):  # keep the tests' output clean
        pass

    def do_GET(self):
        self.handle_request()

    def do_POST(self):
        self.handle_request()

    def do_HEAD(self):
        self.handle_request()

    def do_PUT(self):
        self.handle_request()


class Handler(QuietHandler):
    server_version = "VelumTestServer/1.0"
    sys_version = ""

    def version_string(self):
        return self.server_version

    def end_headers(self):
        # A server that closes after this answer says so, as HTTP/1.1 asks: otherwise the
        # client may keep the connection and send its next request into the closing one.
        if self.close_connection and not self.keep_open:
            self.send_header("Connection", "close")
        super().end_headers()

    def base_url(self):
        return "http://" + self.headers.get("Host", "127.0.0.1")

    def handle_request(self):
        state = self.server.state
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        path = self.path
        if path.startswith("http://"):  # a proxied request names the whole URL
            path = "/" + path.split("/", 3)[3] if path.count("/") >= 3 else "/"
        self.request_path = path
        state.record({
            "method": self.command,
            "path": path,
            "target": self.path,
            "headers": {k: v for k, v in self.headers.items()},
            "body": body.decode("utf-8", "replace"),
            "listener": self.server.listener_name,
            "received_us": int((time.monotonic() - state.started) * 1000000),
        })
        self.keep_open = False
        if getattr(self, "late_bytes", 0):
            self.wfile.write(b"x" * self.late_bytes)
            self.late_bytes = 0
        if self.server.is_proxy and not self.proxy_authorized(state):
            self.send_plain(407, b"", {"Proxy-Authenticate": 'Basic realm="velum-test"'})
            return
        fault = state.take_fault(path)
        self.keep_open = bool(fault and fault.get("extra_bytes"))
        self.header_trickle = fault.get("header_trickle") if fault else None
        if fault and "delay" in fault:
            state.wait(fault["delay"])
        if fault and fault.get("close"):
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if fault and fault.get("reset"):
            self.close_connection = True
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                       struct.pack("ii", 1, 0))
            self.connection.close()
            return
        if fault and "status" in fault:
            headers = {}
            if "location" in fault:
                headers["Location"] = fault["location"].replace("{base}", self.base_url())
            self.send_plain(fault["status"], b"", headers)
            return
        config = state.load_config()
        route = config.get("routes", {}).get(path)
        if fault and "hold_until" in fault and not (route and "file" in route):
            state.wait_for_release(fault["hold_until"])
        claimed = fault.get("content_length") if fault else None
        if path == "/netinstaller/feedback":
            self.send_plain(200, b"ok", length=claimed, fault=fault)
            return
        if route is None and path.startswith("/netinstaller/"):
            self.send_plain(200, self.download_address(config), length=claimed, fault=fault)
            self.send_extra(fault)
            return
        if route is None:
            self.send_plain(404, b"")
            return
        if "file" in route:
            try:
                with open(os.path.join(state.dir, "files", route["file"]), "rb") as f:
                    data = f.read()
            except OSError:
                self.send_plain(404, b"")
                return
            self.send_ranged(data, route.get("headers", {}), fault or {})
            self.send_extra(fault)
            return
        self.send_plain(route.get("status", 200), route.get("body", "").encode("utf-8"),
                        route.get("headers", {}), claimed, fault)
        self.send_extra(fault)

    def send_extra(self, fault):
        """Bytes the answer's Content-Length leaves out, on a connection kept open."""
        if fault and fault.get("extra_bytes"):
            if fault.get("late"):
                self.late_bytes = fault["extra_bytes"]
            else:
                self.wfile.write(b"x" * fault["extra_bytes"])
                self.wfile.flush()
            self.close_connection = False

    def proxy_authorized(self, state):
        credentials = state.load_config().get("proxy_credentials")
        given = self.headers.get("Proxy-Authorization", "")
        if not credentials or not given.startswith("Basic "):
            return False
        return base64.b64decode(given[6:]).decode("utf-8", "replace") == credentials

    def download_address(self, config):
        reply = dict(config.get("download_address", {}))
        name = reply.pop("installer_file", None)
        if name and "installer_checksum" not in reply:
            try:
                with open(os.path.join(self.server.state.dir, "files", name), "rb") as f:
                    reply["installer_checksum"] = hashlib.sha256(f.read()).hexdigest()
            except OSError:
                pass
        text = json.dumps(reply).replace("{base}", self.base_url())
        return text.encode("utf-8")

    def flush_headers(self):
        """Sends the headers, a byte at a time under a "header_trickle" fault."""
        if not getattr(self, "header_trickle", None):
            super().flush_headers()
            return
        state = self.server.state
        data = b"".join(getattr(self, "_headers_buffer", []))
        self._headers_buffer = []
        for index in range(len(data)):
            if time.monotonic() >= state.deadline or os.path.exists(os.path.join(state.dir, "stop")):
                break
            try:
                self.wfile.write(data[index:index + 1])
                self.wfile.flush()
            except OSError:
                break
            time.sleep(self.header_trickle)
        self.close_connection = True

    def send_stalled(self, body, fault):
        """The first "stall_after" bytes of |body|, then nothing until the server stops, or
        with "reset_on_next" until a later request of the path came, which resets it."""
        state = self.server.state
        seen = state.request_counts.get(self.request_path, 0)
        try:
            self.wfile.write(body[:fault["stall_after"]])
            self.wfile.flush()
        except OSError:
            pass
        self.close_connection = True
        if fault.get("reset_on_next"):
            state.wait_for_request(self.request_path, seen)
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                       struct.pack("ii", 1, 0))
            self.connection.close()
            return
        state.wait(state.deadline - time.monotonic())

    def send_trickled(self, body, fault):
        """|body| a few bytes at a time; ends early when the client went away."""
        state = self.server.state
        step = fault.get("bytes", 1)
        for index in range(0, len(body), step):
            if time.monotonic() >= state.deadline or os.path.exists(os.path.join(state.dir, "stop")):
                break
            try:
                self.wfile.write(body[index:index + step])
                self.wfile.flush()
            except OSError:
                break
            time.sleep(fault["trickle"])
        self.close_connection = True

    def send_plain(self, status, body, headers=None, length=None, fault=None):
        if fault and "stall_after" in fault:
            body = body.ljust(fault["stall_after"] + 1024, b" ")
        self.send_response(status)
        self.send_header("X-Served-By", SERVED_BY)
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        if fault and fault.get("no_length"):
            self.close_connection = True
        elif status != 204:
            self.send_header("Content-Length", str(len(body) if length is None else length))
        self.end_headers()
        if self.command != "HEAD" and status != 204:
            if fault and "stall_after" in fault:
                self.send_stalled(body, fault)
            elif fault and "trickle" in fault:
                self.send_trickled(body, fault)
            else:
                self.wfile.write(body)
        if length is not None and length > len(body):
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)

    def send_ranged(self, data, headers, fault):
        start = 0
        ranged = self.headers.get("Range", "")
        if ranged.startswith("bytes=") and ranged.endswith("-") and not fault.get("ignore_range"):
            try:
                start = int(ranged[6:-1])
            except ValueError:
                start = 0
            if start and "range_shift" in fault:
                start = min(max(1, start + fault["range_shift"]), len(data) - 1)
            if start >= len(data) and data:
                self.send_plain(416, b"", {"Content-Range": "bytes */%d" % len(data)})
                return
        part = data[start:]
        # A given Content-Range answers a Range request from the first byte too.
        partial = start or (ranged.startswith("bytes=") and "content_range" in fault)
        self.send_response(206 if partial else 200)
        self.send_header("X-Served-By", SERVED_BY)
        for name, value in headers.items():
            self.send_header(name, value)
        if partial:
            self.send_header("Content-Range", fault.get("content_range") or
                             "bytes %d-%d/%d" % (start, len(data) - 1, len(data)))
        self.send_header("Content-Length", str(len(part)))
        self.end_headers()
        if self.command == "HEAD":
            return
        if "hold_until" in fault:
            # The part before the hold point goes first; a resume past it waits at once.
            before = max(0, fault.get("after_bytes", 0) - start)
            self.wfile.write(part[:before])
            self.wfile.flush()
            self.server.state.wait_for_release(fault["hold_until"])
            part = part[before:]
        if "stall_after" in fault:
            self.send_stalled(part, fault)
            return
        if "trickle" in fault:
            self.send_trickled(part, fault)
            return
        if "cut_after" in fault:
            self.wfile.write(part[:fault["cut_after"]])
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        self.wfile.write(part)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = False

    def __init__(self, address, family, state, listener_name, is_proxy):
        self.address_family = family
        self.state = state
        self.listener_name = listener_name
        self.is_proxy = is_proxy
        # A fixed port must be free again at once after the previous run's connections.
        self.allow_reuse_address = address[1] != 0
        super().__init__(address, Handler)


def open_pair(state, is_proxy, name, fixed_port=0):
    """A listener on 127.0.0.1 and, when possible, one on ::1 with the same port."""
    for _ in range(50):
        v4 = Server(("127.0.0.1", fixed_port), socket.AF_INET, state, name, is_proxy)
        port = v4.server_address[1]
        if not socket.has_ipv6:
            return port, [v4]
        try:
            v6 = Server(("::1", port), socket.AF_INET6, state, name + "6", is_proxy)
            return port, [v4, v6]
        except OSError:
            v4.server_close()
            if fixed_port:
                break
    v4 = Server(("127.0.0.1", fixed_port), socket.AF_INET, state, name, is_proxy)
    return v4.server_address[1], [v4]


def write_atomically(path, text):
    with open(path + ".tmp", "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(path + ".tmp", path)


def serve_until_stopped(state_dir, servers, facts, lifetime):
    """Serves until the "stop" file appears or |lifetime| seconds have passed; writes
    server.json (|facts|) once serving, and "stopped" as the last act."""
    for server in servers:
        threading.Thread(target=server.serve_forever, args=(0.1,), daemon=True).start()
    write_atomically(os.path.join(state_dir, "server.json"), json.dumps(facts))
    deadline = time.monotonic() + lifetime
    stop_file = os.path.join(state_dir, "stop")
    while time.monotonic() < deadline and not os.path.exists(stop_file):
        time.sleep(0.05)
    for server in servers:
        server.shutdown()
        server.server_close()
    write_atomically(os.path.join(state_dir, "stopped"), "")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--state-dir", required=True)
    parser.add_argument("--lifetime", type=float, default=600)
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()
    state = State(args.state_dir, args.lifetime)
    os.makedirs(os.path.join(args.state_dir, "files"), exist_ok=True)
    port, servers = open_pair(state, False, "server", args.port)
    proxy_port, proxies = open_pair(state, True, "proxy")
    serve_until_stopped(args.state_dir, servers + proxies,
                        {"port": port, "proxy_port": proxy_port, "ipv6": len(servers) > 1},
                        args.lifetime)
    return 0


if __name__ == "__main__":
    sys.exit(main())
