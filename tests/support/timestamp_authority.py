#!/usr/bin/env python3
"""An RFC 3161 timestamp authority on the loopback interface, for tests.

    timestamp_authority.py FOLDER          answers each request with `openssl ts -reply`
    timestamp_authority.py --silent FOLDER takes connections and never answers

FOLDER holds tsa.pem, tsa.key, chain.pem and tsa.cnf (made by the test with openssl). Listens on a
free port of 127.0.0.1 and writes it to FOLDER/port once it listens, so a test waits for that file.
Runs until it is ended (by its process id) or for at most an hour.
"""
import http.server
import os
import socket
import subprocess
import sys
import tempfile
import threading


def main():
    silent = sys.argv[1] == "--silent"
    folder = os.path.abspath(sys.argv[-1])
    # Ends on its own if the test that started it never does.
    threading.Timer(3600, lambda: os._exit(3)).start()
    if silent:
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(16)  # connections complete in the kernel and are never read
        publish(folder, listener.getsockname()[1])
        threading.Event().wait()
        return

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
            with tempfile.TemporaryDirectory() as work:
                with open(os.path.join(work, "query.tsq"), "wb") as f:
                    f.write(query)
                made = subprocess.run(
                    ["openssl", "ts", "-reply", "-config", os.path.join(folder, "tsa.cnf"),
                     "-queryfile", os.path.join(work, "query.tsq"),
                     "-signer", os.path.join(folder, "tsa.pem"), "-inkey", os.path.join(folder, "tsa.key"),
                     "-chain", os.path.join(folder, "chain.pem"), "-out", os.path.join(work, "reply.tsr")],
                    capture_output=True, cwd=folder)
                if made.returncode != 0:
                    sys.stderr.write(made.stderr.decode(errors="replace"))
                    self.send_error(500)
                    return
                with open(os.path.join(work, "reply.tsr"), "rb") as f:
                    reply = f.read()
            with open(os.path.join(folder, "answered.log"), "a") as log:
                log.write("%d bytes\n" % len(reply))
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    publish(folder, server.server_address[1])
    server.serve_forever()


def publish(folder, port):
    with open(os.path.join(folder, "port.new"), "w") as f:
        f.write("%d\n" % port)
    os.replace(os.path.join(folder, "port.new"), os.path.join(folder, "port"))


if __name__ == "__main__":
    main()
