#!/usr/bin/env python3
"""A scriptable stand-in for the AI service, for the client's tests.

Usage: fake_grsai.py --workdir DIR [--openssl PATH]

Creates a throw-away CA and a server certificate for 127.0.0.1 with openssl, serves HTTPS on
127.0.0.1 at a port the system picks, and prints one line "ready <port> <ca-file>" on stdout.

It is then driven by JSON commands on stdin, one per line; each gets exactly one JSON line back:
  {"op": "reset"}                        forget all routes and the request log
  {"op": "route", "method": "GET", "path": "/v1/api/result", "responses": [...]}
        answers for requests to that path (query ignored), used in order; the last one repeats
  {"op": "requests"}                     the request log: [{method, path, query, headers, body_b64}]

A response is an object:
  status        HTTP status (default 200)
  json          a JSON body, or
  text          a text body, or
  b64           a binary body, or
  size, fill    a body of `size` bytes repeating the one-character `fill`
  content_type  overrides the media type (defaults: application/json, text/plain, image/png)
  drop          true: close the connection without answering
  delay_ms      wait this long before answering (the request is logged at once)
  multipart     {token, key, filename, content_type, file_b64}: the request body must be exactly
                that multipart form (with the boundary named in its Content-Type); otherwise the
                answer is 422 with what differed.
End of stdin ends the program.
"""
import argparse
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
    ca_key = os.path.join(workdir, "ca.key")
    ca_cert = os.path.join(workdir, "ca.pem")
    key = os.path.join(workdir, "server.key")
    csr = os.path.join(workdir, "server.csr")
    cert = os.path.join(workdir, "server.pem")
    ext = os.path.join(workdir, "server.ext")
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL, "check": True}
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    subprocess.run([openssl, "req", "-x509", *ec, "-keyout", ca_key, "-out", ca_cert, "-days", "2",
                    "-subj", "/CN=Tidewick Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
                    "-addext", "keyUsage=critical,keyCertSign,cRLSign"], **quiet)
    subprocess.run([openssl, "req", "-new", *ec, "-keyout", key, "-out", csr, "-subj", "/CN=127.0.0.1"],
                   **quiet)
    with open(ext, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1\n"
                "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
    subprocess.run([openssl, "x509", "-req", "-in", csr, "-CA", ca_cert, "-CAkey", ca_key,
                    "-CAcreateserial", "-out", cert, "-days", "2", "-extfile", ext], **quiet)
    return cert, key, ca_cert


def expected_multipart(boundary, spec):
    crlf = b"\r\n"
    b = boundary.encode()
    out = b""
    for name in ("token", "key"):
        out += b"--" + b + crlf
        out += ('Content-Disposition: form-data; name="%s"' % name).encode() + crlf + crlf
        out += spec[name].encode() + crlf
    out += b"--" + b + crlf
    out += ('Content-Disposition: form-data; name="file"; filename="%s"' % spec["filename"]).encode() + crlf
    out += ("Content-Type: %s" % spec["content_type"]).encode() + crlf + crlf
    out += base64.b64decode(spec["file_b64"])
    out += crlf + b"--" + b + b"--" + crlf
    return out


def multipart_mismatch(headers, body, spec):
    content_type = headers.get("Content-Type", "")
    prefix = "multipart/form-data; boundary="
    if not content_type.startswith(prefix):
        return "content type is %r" % content_type
    expected = expected_multipart(content_type[len(prefix):], spec)
    if body == expected:
        return None
    for i, (got, want) in enumerate(zip(body, expected)):
        if got != want:
            return "first difference at byte %d" % i
    return "length %d, expected %d" % (len(body), len(expected))


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
            queue = routes.get((self.command, parts.path))
            if queue:
                response = queue.pop(0) if len(queue) > 1 else queue[0]
            else:
                response = {"status": 500, "text": "unscripted request %s %s" % (self.command, parts.path)}
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
            mismatch = multipart_mismatch(self.headers, request_body, response["multipart"])
            if mismatch:
                status, response = 422, {"text": "multipart mismatch: " + mismatch}
        if "json" in response:
            data, media = json.dumps(response["json"], ensure_ascii=False).encode(), "application/json"
        elif "text" in response:
            data, media = response["text"].encode(), "text/plain; charset=utf-8"
        elif "b64" in response:
            data, media = base64.b64decode(response["b64"]), "image/png"
        elif "size" in response:
            data, media = response.get("fill", "A").encode() * response["size"], "image/png"
        else:
            data, media = b"", None
        media = response.get("content_type", media)
        self.send_response(status)
        if media:
            self.send_header("Content-Type", media)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    do_GET = handle_any
    do_POST = handle_any
    do_PUT = handle_any
    do_DELETE = handle_any


def command(line):
    request = json.loads(line)
    op = request.get("op")
    with lock:
        if op == "reset":
            routes.clear()
            request_log.clear()
            return {"ok": True}
        if op == "route":
            routes[(request["method"], request["path"])] = list(request["responses"])
            return {"ok": True}
        if op == "requests":
            return list(request_log)
    return {"error": "unknown op %r" % op}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--openssl", default="openssl")
    args = parser.parse_args()
    cert, key, ca = make_certificates(args.workdir, args.openssl)

    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()

    print("ready %d %s" % (server.server_address[1], ca), flush=True)
    for line in sys.stdin:
        if line.strip():
            print(json.dumps(command(line)), flush=True)
    # The server's threads are daemons: ending here ends them without waiting for a poll cycle.


if __name__ == "__main__":
    main()
