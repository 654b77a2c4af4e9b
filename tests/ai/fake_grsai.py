#!/usr/bin/env python3
"""HTTPS stand-in for the AI service: prints "ready <port> <ca-file>", then answers a JSON command a line (reset, requests,
route: method, path, responses of status, json/text/b64/size+fill, content_type, drop, delay_ms; the last repeats)."""
import base64
import json
import os
import ssl
import subprocess
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import urlsplit

lock = threading.Lock()
routes = {}
request_log = []


def make_certificate(workdir, openssl):
    # Self-signed for 127.0.0.1 only: the client trusts it as an authority of its own.
    key, cert = os.path.join(workdir, "server.key"), os.path.join(workdir, "server.pem")
    subprocess.run([openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                    "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                    "subjectAltName=IP:127.0.0.1"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return cert, key


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body go out in separate writes; without this, Nagle's algorithm and the
    # client's delayed acknowledgement stall every answer by 40 ms.
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def handle_any(self):
        parts = urlsplit(self.path)
        length = int(self.headers.get("Content-Length", "0") or 0)
        body = self.rfile.read(length) if length else b""
        with lock:
            request_log.append({
                "method": self.command, "path": parts.path, "query": parts.query,
                "headers": {k.lower(): v for k, v in self.headers.items()},
                "body_b64": base64.b64encode(body).decode(),
            })
            queue = routes.get((self.command, parts.path)) or [{"status": 500, "text": "unscripted " + self.path}]
            response = queue.pop(0) if len(queue) > 1 else queue[0]
        self.answer(response)

    def answer(self, response):
        if response.get("delay_ms"):
            time.sleep(response["delay_ms"] / 1000.0)
        if response.get("drop"):
            self.close_connection = True
            self.connection.shutdown(2)
            return
        status = response.get("status", 200)
        data, media = b"", None
        if "json" in response:
            data, media = json.dumps(response["json"], ensure_ascii=False).encode(), "application/json"
        elif "text" in response:
            data, media = response["text"].encode(), "text/plain; charset=utf-8"
        elif "b64" in response:
            data = base64.b64decode(response["b64"])
        elif "size" in response:
            data = response["fill"].encode() * response["size"]
        media = response.get("content_type", media)
        self.send_response(status)
        if media:
            self.send_header("Content-Type", media)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    do_GET = do_POST = handle_any


def command(request):
    with lock:
        if request["op"] == "requests":
            return list(request_log)
        if request["op"] == "reset":
            routes.clear()
            request_log.clear()
        else:
            routes[(request["method"], request["path"])] = list(request["responses"])
    return {"ok": True}


args = dict(zip(sys.argv[1::2], sys.argv[2::2]))  # --workdir DIR [--openssl PATH]
cert, key = make_certificate(args["--workdir"], args.get("--openssl", "openssl"))
server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
threading.Thread(target=server.serve_forever, daemon=True).start()
print("ready %d %s" % (server.server_address[1], cert), flush=True)
for line in sys.stdin:
    if line.strip():
        print(json.dumps(command(json.loads(line))), flush=True)
# The server's threads are daemons: ending here ends them without waiting for a poll cycle.
