"""Redirecting and recording peer of the web client.  Appends each request
as it arrived (the address it came to, the request line, the headers and the
body) to FILE.  A request for /go?to=URL[&code=N] is answered with status N
(302 by default), Location: URL and the body "redirect body"; any other with
200 and "landed at ADDRESS PATH" (with "POST" and the body for a POST), so
that what the client kept tells which answer it took.

usage: redirect_server.py HOST PORT FILE [CERTFILE KEYFILE]   (with a certificate: TLS)
Listens on HOST (a loopback address) only; serves at most 200 requests and
ends after 10 minutes whatever happens.
"""
import http.server
import ssl
import sys
import time
import urllib.parse

HOST, PORT, FILE = sys.argv[1], int(sys.argv[2]), sys.argv[3]
served = 0


class Peer(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def answer(self):
        global served
        served += 1
        n = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(n) if n else b""
        head = "%s:%d %s\n" % (HOST, PORT, self.requestline)
        head += "".join("%s: %s\n" % kv for kv in self.headers.items())
        with open(FILE, "a", encoding="latin-1") as f:
            f.write(head + "\n" + body.decode("latin-1") + "\n")
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        if url.path == "/go" and "to" in query:
            out = b"redirect body\n"
            self.send_response(int(query.get("code", ["302"])[0]))
            self.send_header("Location", query["to"][0])
        else:
            out = ("landed at %s:%d %s" % (HOST, PORT, url.path)).encode("latin-1")
            if self.command == "POST":
                out += b" POST " + body
            out += b"\n"
            self.send_response(200)
        self.send_header("Content-Length", str(len(out)))
        self.end_headers()
        self.wfile.write(out)

    do_GET = answer
    do_POST = answer

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer((HOST, PORT), Peer)
server.timeout = 1
if len(sys.argv) > 5:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[4], sys.argv[5])
    server.socket = context.wrap_socket(server.socket, server_side=True)
deadline = time.monotonic() + 600
while served < 200 and time.monotonic() < deadline:
    server.handle_request()
