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
# Shorter than the server's idle deadline (its step time-out, 6 s): an
# answer that only comes when a slot's deadline frees it comes too late.
PROMPT = 3.0
# Longer than one idle deadline, shorter than several in a row.
PATIENT = 15.0


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


def exchange(port, request, limit=WAIT):
    s = connect(port)
    s.sendall(request)
    got = read_all(s, limit)
    s.close()
    return got


def case_raw(port, request):
    request = request.encode("latin-1").decode("unicode_escape").encode("latin-1")
    sys.stdout.buffer.write(exchange(port, request, PROMPT))


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


def case_resets(port):
    """More clients than slots reset their half-sent requests; a plain
    request is then served at once, not when a deadline frees a slot."""
    for _ in range(25):
        s = connect(port)
        s.sendall(b"GET /index.htm HTTP/1.1\r\nHo")
        time.sleep(0.02)
        reset(s)
    time.sleep(0.2)
    print("then:" + body(exchange(port, b"GET /index.htm HTTP/1.1\r\n\r\n", PROMPT)))


def case_idle(port):
    """20 clients send half a request and stop; a plain client is served once
    their deadline has closed them."""
    idle = [connect(port) for _ in range(20)]
    for s in idle:
        s.sendall(b"GET /index.htm HTT")
    time.sleep(0.3)
    print("served:" + body(exchange(port, b"GET /index.htm HTTP/1.1\r\n\r\n", PATIENT)))
    for s in idle:
        s.close()


def served_beside_nonreaders(port, count):
    """count clients ask for a large file and never read it; then a plain
    client's answer, waited for patiently."""
    stuck = []
    for _ in range(count):
        s = connect(port)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.sendall(b"GET /max.bin HTTP/1.1\r\n\r\n")
        stuck.append(s)
    time.sleep(0.3)
    print("served:" + body(exchange(port, b"GET /index.htm HTTP/1.1\r\n\r\n", PATIENT)))
    for s in stuck:
        reset(s)


def case_nonreaders(port):
    """Clients that ask for a large file and never read it hold no one else."""
    served_beside_nonreaders(port, 4)


def case_stuck_answers(port):
    """Every slot answers a large file to a client that never reads: each is
    closed at its deadline, slot and descriptor, and a plain client is
    served then."""
    served_beside_nonreaders(port, 20)


def var_count(port, head=b""):
    return body(exchange(port, b"GET /count.jsp HTTP/1.1\r\n" + head + b"\r\n", PROMPT))


def case_longest_name(port):
    """A header name of 53 bytes makes a variable (63 bytes with its prefix);
    one of 54 does not."""
    name = b"X-" + b"n" * 51
    longest = var_count(port, name + b": v\r\n")
    longer = var_count(port, name + b"x: v\r\n")
    n = lambda text: int(text.split("=")[1])
    print("published" if n(longest) == n(longer) + 1 else "%s then %s" % (longest, longer))


def case_stale(port):
    """The variables one request published are gone when the next arrives,
    also when the next sends a value too long to be stored under that name."""
    before = var_count(port)
    exchange(port, b"GET /s.php?role=admin HTTP/1.1\r\nX-Admin: yes\r\n\r\n", PROMPT)
    after = var_count(port, b"X-Admin: " + b"y" * 1100 + b"\r\n")
    print("same" if before == after else "before %s after %s" % (before, after))


def case_flood(port):
    """25 requests of 200 header names and a pair each, no name twice: the
    script's variables stay as many as before."""
    before = var_count(port)
    digits = "0123456789abcdefghijklmnopqrstuvwxyz"
    for r in range(25):
        names = [chr(ord("A") + r) + digits[k // 36] + digits[k % 36] for k in range(200)]
        request = ("GET /f.jsp?v%d=1 HTTP/1.1\r\n" % r + "".join(n + ":v\r\n" for n in names)
                   + "\r\n")
        exchange(port, request.encode(), PROMPT)
    after = var_count(port)
    print("same" if before == after else "before %s after %s" % (before, after))


CASES = {"slots": case_slots, "reset": case_reset, "together": case_together,
         "post-split": case_post_split, "resets": case_resets, "idle": case_idle,
         "nonreaders": case_nonreaders, "stuck-answers": case_stuck_answers,
         "stale": case_stale, "longest-name": case_longest_name,
         "flood": case_flood}

if __name__ == "__main__":
    if sys.argv[1] == "raw":
        case_raw(int(sys.argv[2]), sys.argv[3])
    elif sys.argv[1] == "slots":
        case_slots(int(sys.argv[2]), int(sys.argv[3]))
    else:
        CASES[sys.argv[1]](int(sys.argv[2]))
