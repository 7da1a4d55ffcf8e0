"""A receiver for the agent's uploads on a loopback port that the test controls.

Each POST is recorded (path, headers, raw body). What it answers is chosen by
the test at any moment: "OK", another text, status 500, or a reset of the
connection without any answer; how long it takes before answering; a
redirect of the path "/in" elsewhere; bodies it never answers; and answers
whose body is far longer than any receiver's word (body_bytes).
"""
import http.server
import os
import socket
import ssl
import struct
import subprocess
import threading
import time


class Receiver:
    def __init__(self, port=0, certificate=None):
        self.lock = threading.Lock()  # guards posts and mode
        self.posts = []
        self.mode = "OK"
        self.delay = 0.0  # seconds before each answer
        self.redirect = None  # (status, path): how "/in" is redirected
        self.unanswered = None  # a fragment of the bodies that get a reset
        # When set, every answer is status 200 with this many bytes of body
        # (-1: a body without end, sent until the agent hangs up); recorded
        # as the answer "stream".
        self.body_bytes = None
        self.certificate = certificate
        self.port = port
        self.server = None
        self.thread = None

    def start(self):
        receiver = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.0"

            def log_message(self, *args):
                pass

            def do_POST(self):
                length = int(self.headers.get("Content-Length", "0"))
                body = self.rfile.read(length)
                with receiver.lock:
                    mode = receiver.mode
                    delay = receiver.delay
                    if receiver.redirect and self.path == "/in":
                        mode = "redirect"
                    if receiver.unanswered and receiver.unanswered in body:
                        mode = "reset"
                    body_bytes = receiver.body_bytes
                    if body_bytes is not None:
                        mode = "stream"
                if delay:
                    time.sleep(delay)  # a receiver that takes its time to answer
                with receiver.lock:
                    receiver.posts.append({"path": self.path, "headers": dict(self.headers),
                                           "body": body, "answer": mode})
                if mode == "stream":
                    self.stream(body_bytes)
                    return
                if mode == "reset":
                    self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                               struct.pack("ii", 1, 0))
                    self.close_connection = True
                    return
                status, text = (500, "OK") if mode == "500" else (200, mode)
                location = None
                if mode == "redirect":
                    status, text = receiver.redirect[0], "OK"
                    location = "http://127.0.0.1:%d%s" % (receiver.port, receiver.redirect[1])
                data = text.encode("utf-8")
                try:
                    self.send_response(status)
                    if location:
                        self.send_header("Location", location)
                    self.send_header("Content-Length", str(len(data)))
                    self.end_headers()
                    self.wfile.write(data)
                except OSError:
                    pass  # the agent was killed while its request was answered

            def stream(self, length):
                """200 and length bytes of body, announced when not endless."""
                block = b"x" * 65536
                self.close_connection = True
                try:
                    self.send_response(200)
                    if length >= 0:
                        self.send_header("Content-Length", str(length))
                    self.end_headers()
                    sent = 0
                    while (length < 0 or sent < length) and receiver.server is not None:
                        piece = block if length < 0 else block[:min(len(block), length - sent)]
                        self.wfile.write(piece)
                        sent += len(piece)
                except OSError:
                    pass  # the agent hung up: what it should do

        class Server(http.server.ThreadingHTTPServer):
            allow_reuse_address = True
            daemon_threads = True

            def handle_error(self, request, client_address):
                pass  # a killed agent's half-sent request is no receiver fault

        self.server = Server(("127.0.0.1", self.port), Handler)
        if self.certificate:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*self.certificate)
            self.server.socket = context.wrap_socket(self.server.socket, server_side=True)
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        return self

    def stop(self):
        if self.server:
            self.server.shutdown()
            self.server.server_close()
            self.server = None

    def url(self, scheme="http"):
        return "%s://127.0.0.1:%d/in" % (scheme, self.port)

    def set_mode(self, mode):
        with self.lock:
            self.mode = mode

    def snapshot(self):
        with self.lock:
            return list(self.posts)

    def bodies(self, answer=None):
        return [p["body"] for p in self.snapshot() if answer is None or p["answer"] == answer]


class HoldingReceiver:
    """A receiver that takes every request and never answers it: each
    connection is held open until stop(). The body of each request is
    recorded as soon as it has arrived."""

    def __init__(self):
        self.lock = threading.Lock()  # guards bodies
        self.bodies = []
        self.released = threading.Event()
        self.server = None

    def start(self):
        import socketserver
        receiver = self

        class Handler(socketserver.BaseRequestHandler):
            def handle(self):
                data = b""
                try:
                    while b"\r\n\r\n" not in data:
                        chunk = self.request.recv(65536)
                        if not chunk:
                            return
                        data += chunk
                    head, _, body = data.partition(b"\r\n\r\n")
                    length = 0
                    for line in head.split(b"\r\n")[1:]:
                        name, _, value = line.partition(b":")
                        if name.strip().lower() == b"content-length":
                            length = int(value.strip())
                    while len(body) < length:
                        chunk = self.request.recv(65536)
                        if not chunk:
                            return
                        body += chunk
                except OSError:
                    return
                with receiver.lock:
                    receiver.bodies.append(body)
                receiver.released.wait()

        class Server(socketserver.ThreadingTCPServer):
            allow_reuse_address = True
            daemon_threads = True

        self.server = Server(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        return self

    def stop(self):
        self.released.set()
        if self.server:
            self.server.shutdown()
            self.server.server_close()
            self.server = None

    def url(self):
        return "http://127.0.0.1:%d/in" % self.server.server_address[1]

    def received(self):
        with self.lock:
            return list(self.bodies)


def self_signed_certificate(folder):
    """Makes a certificate for 127.0.0.1 that no one has signed, with its key,
    in folder; returns (certificate path, key path), or None without openssl."""
    key = os.path.join(folder, "self-signed-key.pem")
    cert = os.path.join(folder, "self-signed-cert.pem")
    try:
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                        "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                        "-keyout", key, "-out", cert], check=True, capture_output=True)
    except (OSError, subprocess.CalledProcessError):
        return None
    return cert, key
