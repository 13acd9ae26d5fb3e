"""SMTP server for the mail tests, on loopback, in the foreground.

usage: smtp_peer.py DIR MODE USER PASSWORD [PORT]
MODE is "starttls" (plain connection, STARTTLS required before AUTH),
"implicit" (TLS from the first byte) or "plain" (no STARTTLS offered, AUTH
taken in clear text: the server a man in the middle shows) or "stall" (greets,
then never answers again), "silent354" (STARTTLS and a login as "starttls",
then silent from its 354 on, reading nothing more) or "silentdot" (the same,
but it reads the mail through its final dot before it falls silent). The peer makes a self-signed
certificate DIR/cert.pem for 127.0.0.1, prints "PORT n" once it listens, and
writes each mail it accepts as DIR/mailN.txt: envelope, login, whether TLS
was on, the subject and body as Python's email module decodes them, and the
attachments (name, type, then the bytes in DIR/mailN.attK). Every login
attempt, right or wrong, adds a line to DIR/auth.txt. It stops on SIGTERM.
"""
import email
import email.policy
import os
import signal
import socket
import ssl
import subprocess
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult


def main():
    folder, mode, user, password = sys.argv[1:5]
    cert = os.path.join(folder, "cert.pem")
    key = os.path.join(folder, "key.pem")
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
         "-keyout", key, "-out", cert, "-subj", "/CN=127.0.0.1",
         "-addext", "subjectAltName=IP:127.0.0.1"],
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    count = [0]

    def authenticate(server, session, envelope, mechanism, data):
        with open(os.path.join(folder, "auth.txt"), "a", encoding="utf-8") as f:
            f.write(f"{mechanism} {data.login!r}\n")
        ok = data.login.decode() == user and data.password.decode() == password
        return AuthResult(success=ok, handled=False, auth_data=data)

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            count[0] += 1
            n = count[0]
            msg = email.message_from_bytes(envelope.original_content, policy=email.policy.default)
            tls = server.transport.get_extra_info("ssl_object") is not None
            data = session.auth_data
            login = data.login.decode() if session.authenticated and data else ""
            lines = [f"from={envelope.mail_from} to={','.join(envelope.rcpt_tos)} login={login} tls={tls}",
                     f"to_header={[a.addr_spec for a in msg['to'].addresses]}",
                     f"subject={msg['subject']!r}",
                     f"date={msg['date'] is not None} id={msg['message-id'] is not None}"]
            body = msg.get_body(preferencelist=("plain",))
            lines.append(f"body={body.get_content()!r}")
            for k, part in enumerate(msg.iter_attachments(), 1):
                lines.append(f"attachment={part.get_filename()} {part.get_content_type()}")
                with open(os.path.join(folder, f"mail{n}.att{k}"), "wb") as f:
                    f.write(part.get_payload(decode=True))
            with open(os.path.join(folder, f"mail{n}.txt"), "w", encoding="utf-8") as f:
                f.write("\n".join(lines) + "\n")
            return "250 OK"

    port = int(sys.argv[5]) if len(sys.argv) > 5 else 0
    if port == 0:
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
    if mode == "stall":
        stall(port)
        return
    if mode in ("silent354", "silentdot"):
        silent_after_data(port, context, mode == "silentdot")
        return
    if mode == "implicit":
        ctl = Controller(Handler(), hostname="127.0.0.1", port=port, ssl_context=context,
                         authenticator=authenticate, auth_require_tls=False)
    elif mode == "plain":
        ctl = Controller(Handler(), hostname="127.0.0.1", port=port,
                         authenticator=authenticate, auth_require_tls=False)
    else:
        ctl = Controller(Handler(), hostname="127.0.0.1", port=port, tls_context=context,
                         require_starttls=True, authenticator=authenticate)
    # The server's thread inherits the blocked SIGTERM, which the main thread
    # then waits for.
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM})
    ctl.start()
    print(f"PORT {port}", flush=True)
    signal.sigwait({signal.SIGTERM})
    ctl.stop()


def stall(port):
    """Greets each client, then holds its connection without another word."""
    listener = socket.create_server(("127.0.0.1", port))
    print(f"PORT {port}", flush=True)
    held = []
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM})

    def serve():
        while True:
            client, _ = listener.accept()
            client.sendall(b"220 127.0.0.1 ESMTP\r\n")
            held.append(client)

    threading.Thread(target=serve, daemon=True).start()
    signal.sigwait({signal.SIGTERM})


def silent_after_data(port, context, read_mail):
    """Leads each client through STARTTLS, AUTH, MAIL, RCPT and DATA, then
    holds the connection without another word."""
    listener = socket.create_server(("127.0.0.1", port))
    print(f"PORT {port}", flush=True)
    held = []
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM})

    def lines(conn):
        buf = b""
        while len(buf) < 1 << 20:
            chunk = conn.recv(4096)
            if not chunk:
                return
            buf += chunk
            while b"\r\n" in buf:
                line, buf = buf.split(b"\r\n", 1)
                yield line

    def dialogue(conn):
        conn.sendall(b"220 127.0.0.1 ESMTP\r\n")
        for line in lines(conn):
            verb = line.split(b" ", 1)[0].upper()
            if verb == b"EHLO":
                conn.sendall(b"250-127.0.0.1\r\n250-STARTTLS\r\n250 AUTH PLAIN\r\n")
            elif verb == b"STARTTLS":
                conn.sendall(b"220 Ready to start TLS\r\n")
                return dialogue_tls(context.wrap_socket(conn, server_side=True))
            else:
                conn.sendall(b"530 Must issue a STARTTLS command first\r\n")
        return conn

    def dialogue_tls(conn):
        held.append(conn)
        reader = lines(conn)
        for line in reader:
            verb = line.split(b" ", 1)[0].upper()
            if verb == b"EHLO":
                conn.sendall(b"250-127.0.0.1\r\n250 AUTH PLAIN\r\n")
            elif verb == b"AUTH":
                if len(line.split()) < 3:  # the credentials come on a line of their own
                    conn.sendall(b"334 \r\n")
                    next(reader, None)
                conn.sendall(b"235 Authentication successful\r\n")
            elif verb in (b"MAIL", b"RCPT"):
                conn.sendall(b"250 OK\r\n")
            elif verb == b"DATA":
                conn.sendall(b"354 End data with <CR><LF>.<CR><LF>\r\n")
                if read_mail:
                    for data in reader:
                        if data == b".":
                            break
                return
            else:
                conn.sendall(b"502 Not here\r\n")

    def serve():
        while True:
            client, _ = listener.accept()
            held.append(client)
            threading.Thread(target=dialogue, args=(client,), daemon=True).start()

    threading.Thread(target=serve, daemon=True).start()
    signal.sigwait({signal.SIGTERM})


if __name__ == "__main__":
    main()
