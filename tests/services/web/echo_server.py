"""Echo peer of the web client: answers every GET and POST with the request
line, the headers as received and the body.  Paths starting with /missing
answer 404 with the same echo.

usage: echo_server.py PORT [CERTFILE KEYFILE]   (with a certificate: TLS)
Listens on 127.0.0.1 only.
"""
import http.server
import ssl
import sys


class Echo(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def answer(self):
        n = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(n) if n else b""
        head = self.requestline + "\n" + "".join("%s: %s\n" % kv for kv in self.headers.items())
        out = head.encode("latin-1") + b"\n" + body
        self.send_response(404 if self.path.startswith("/missing") else 200)
        self.send_header("Content-Length", str(len(out)))
        self.end_headers()
        self.wfile.write(out)

    do_GET = answer
    do_POST = answer

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Echo)
if len(sys.argv) > 3:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[2], sys.argv[3])
    server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
