"""local_file_server.py FOLDER LOG: serves FOLDER on 127.0.0.1 over HTTP with ranges, logging "<path> <Range or ->" lines;
"<name>.cut" holds a byte count after which the next answer for <name> breaks off. Prints "ready <port>"; ends with stdin."""
import http.server
import os
import re
import sys
import threading

FOLDER, LOG = sys.argv[1], sys.argv[2]


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        path = os.path.join(FOLDER, self.path.lstrip("/"))
        with open(LOG, "a") as log:
            log.write("%s %s\n" % (self.path, self.headers.get("Range", "-")))
        if not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, "rb") as f:
            data = f.read()
        start = 0
        match = re.match(r"bytes=(\d+)-$", self.headers.get("Range", ""))
        if match:
            start = int(match.group(1))
            self.send_response(206)
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, len(data) - 1, len(data)))
        else:
            self.send_response(200)
        body = data[start:]
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        cut = path + ".cut"
        if os.path.exists(cut):
            with open(cut) as f:
                body = body[: int(f.read())]
            os.remove(cut)
            self.close_connection = True
        self.wfile.write(body)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
threading.Thread(target=server.serve_forever, daemon=True).start()
print("ready %d" % server.server_address[1], flush=True)
sys.stdin.read()
server.shutdown()
