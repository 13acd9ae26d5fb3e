"""Recording peer of the web client: appends each request's line and headers,
as received, to a file and answers every GET with a body of its own ("ok"),
so that nothing the client sent comes back to it.  Its answer sets two
cookies, the second after a bare CR inside another header's line.

usage: recording_server.py PORT FILE
Listens on 127.0.0.1 only.
"""
import http.server
import sys


class Recorder(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        head = self.requestline + "\n" + "".join("%s: %s\n" % kv for kv in self.headers.items())
        with open(sys.argv[2], "a", encoding="latin-1") as f:
            f.write(head + "\n")
        self.send_response(200)
        self.send_header("Set-Cookie", "id=SERVERCOOKIE5; Path=/")
        self.send_header("X-B", "q\rSet-Cookie: e=BARECRCOOKIE6")
        self.send_header("Content-Length", "3")
        self.end_headers()
        self.wfile.write(b"ok\n")

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Recorder)
server.serve_forever()
