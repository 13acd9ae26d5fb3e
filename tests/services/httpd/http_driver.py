"""Raw-socket clients of the script's HTTP server.

usage: http_driver.py CASE PORT [REQUEST | SERVER-PID]
Prints what the server answered (bytes as received) or a short report.
Every wait is bounded; nothing but 127.0.0.1 is contacted.
"""
import socket
import struct
import sys
import time

HOST = "127.0.0.1"
WAIT = 10.0


def connect(port):
    s = socket.create_connection((HOST, port), timeout=WAIT)
    s.settimeout(WAIT)
    return s


def read_all(s, limit=WAIT):
    """Everything until the server closes the connection (or the time runs out)."""
    out = b""
    end = time.monotonic() + limit
    while time.monotonic() < end:
        s.settimeout(max(0.05, end - time.monotonic()))
        try:
            chunk = s.recv(65536)
        except socket.timeout:
            return out + b"<timeout>"
        except ConnectionResetError:
            return out + b"<reset>"
        if not chunk:
            return out
        out += chunk
    return out + b"<timeout>"


def reset(s):
    s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    s.close()


def exchange(port, request):
    s = connect(port)
    s.sendall(request)
    got = read_all(s)
    s.close()
    return got


def case_raw(port, request):
    sys.stdout.buffer.write(exchange(port, request.encode("latin-1").decode("unicode_escape").encode("latin-1")))


def body(answer):
    return answer.split(b"\r\n\r\n", 1)[-1].decode("latin-1")


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def case_slots(port, pid):
    """20 idle clients fill every slot; a 21st waits until one leaves, and
    the server sleeps meanwhile instead of spinning."""
    idle = [connect(port) for _ in range(20)]
    time.sleep(0.3)
    late = connect(port)
    late.sendall(b"GET /index.htm HTTP/1.1\r\n\r\n")
    late.settimeout(1.0)
    ticks = cpu_ticks(pid)
    try:
        early = late.recv(100)
    except socket.timeout:
        early = b""
    spent = cpu_ticks(pid) - ticks
    print("while full:%d %s" % (len(early), "busy" if spent > 50 else "idle"))
    idle.pop().close()
    print("after one left:" + body(read_all(late)))
    late.close()
    for s in idle:
        s.close()


def case_reset(port):
    """Clients that reset before and during an answer; the server goes on."""
    s = connect(port)
    s.sendall(b"GET /ind")
    time.sleep(0.2)
    reset(s)
    s = connect(port)
    s.sendall(b"GET /r.jsp?x=reset HTTP/1.1\r\n\r\n")
    head = b""
    while b"\r\n\r\n" not in head:
        chunk = s.recv(1)
        if not chunk:
            break
        head += chunk
    reset(s)
    time.sleep(0.2)
    print("then:" + body(exchange(port, b"GET /index.htm HTTP/1.1\r\n\r\n")))


def case_together(port):
    """Two dynamic requests that arrive while the script is busy with a third
    are both answered."""
    a = connect(port)
    b = connect(port)
    slow = connect(port)
    time.sleep(0.3)
    slow.sendall(b"GET /slow.jsp HTTP/1.1\r\n\r\n")
    time.sleep(0.3)
    a.sendall(b"GET /t.jsp?x=A HTTP/1.1\r\n\r\n")
    b.sendall(b"GET /t.jsp?x=B HTTP/1.1\r\n\r\n")
    read_all(slow)
    print("a:" + body(read_all(a)))
    print("b:" + body(read_all(b)))


def case_post_split(port):
    """The body of a POST arrives after its head."""
    s = connect(port)
    s.sendall(b"POST /form.asp HTTP/1.1\r\nContent-Length: 7\r\n\r\n")
    time.sleep(0.3)
    s.sendall(b"p=1&q=2")
    print(body(read_all(s)))


CASES = {"slots": case_slots, "reset": case_reset, "together": case_together,
         "post-split": case_post_split}

if __name__ == "__main__":
    if sys.argv[1] == "raw":
        case_raw(int(sys.argv[2]), sys.argv[3])
    elif sys.argv[1] == "slots":
        case_slots(int(sys.argv[2]), int(sys.argv[3]))
    else:
        CASES[sys.argv[1]](int(sys.argv[2]))
