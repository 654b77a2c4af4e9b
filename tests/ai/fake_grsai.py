#!/usr/bin/env python3
"""A scriptable HTTPS stand-in for the AI service: prints "ready <port> <ca-file>", then answers one JSON
command a line on stdin ({"op": "reset"}, {"op": "route", "method", "path", "responses"}, {"op": "requests"}).
A response has status, one of json/text/b64/size+fill, and optionally content_type, drop (close unanswered),
delay_ms (logged at once) and multipart (the exact form the body must be, else 422). Routes ignore the query;
the last response repeats."""
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


def make_certificates(workdir, openssl):
    ca_key, ca_cert, key, csr, cert, ext = (os.path.join(workdir, name) for name in (
        "ca.key", "ca.pem", "server.key", "server.csr", "server.pem", "server.ext"))
    def run(*args):
        subprocess.run([openssl, *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run("req", "-x509", *ec, "-keyout", ca_key, "-out", ca_cert, "-days", "2", "-subj", "/CN=Tidewick Test CA",
        "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run("req", "-new", *ec, "-keyout", key, "-out", csr, "-subj", "/CN=127.0.0.1")
    with open(ext, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
    run("x509", "-req", "-in", csr, "-CA", ca_cert, "-CAkey", ca_key, "-CAcreateserial", "-out", cert, "-days", "2",
        "-extfile", ext)
    return cert, key, ca_cert


def expected_multipart(boundary, form):
    disposition = '--%s\r\nContent-Disposition: form-data; name="%s"'
    text = "".join((disposition + "\r\n\r\n%s\r\n") % (boundary, n, form[n]) for n in ("token", "key"))
    text += (disposition + '; filename="%s"\r\nContent-Type: %s\r\n\r\n') % (
        boundary, "file", form["filename"], form["content_type"])
    return text.encode() + base64.b64decode(form["file_b64"]) + ("\r\n--%s--\r\n" % boundary).encode()


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
        self.answer(response, body)

    def answer(self, response, request_body):
        if response.get("delay_ms"):
            time.sleep(response["delay_ms"] / 1000.0)
        if response.get("drop"):
            self.close_connection = True
            self.connection.shutdown(2)
            return
        status = response.get("status", 200)
        if "multipart" in response:
            prefix = "multipart/form-data; boundary="
            content_type = self.headers.get("Content-Type", "")
            if not content_type.startswith(prefix) or request_body != expected_multipart(
                    content_type[len(prefix):], response["multipart"]):
                status, response = 422, {"text": "multipart mismatch"}
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
cert, key, ca = make_certificates(args["--workdir"], args.get("--openssl", "openssl"))
server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
threading.Thread(target=server.serve_forever, daemon=True).start()
print("ready %d %s" % (server.server_address[1], ca), flush=True)
for line in sys.stdin:
    if line.strip():
        print(json.dumps(command(json.loads(line))), flush=True)
# The server's threads are daemons: ending here ends them without waiting for a poll cycle.
