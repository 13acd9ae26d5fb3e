"""Answers the echo requests sent to the loopback addresses with replies it
forges itself (the kernel's own answers are switched off by the test).

The request's data size says which reply goes back:
  10 bytes: the right reply with its checksum off by one
  20 bytes: a right reply carrying 61000 bytes of data
  40 bytes (IPv4): the right reply, sent from 127.0.0.2
  other:    the right reply, the request's data echoed

Prints "ready" once its sockets are open; ends after a bounded time.
"""
import select
import socket
import struct
import sys
import time

DAMAGED = 10
LARGE = 20
LARGE_DATA = 61000
OTHER_SENDER = 40


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def reply(echo_type, ident, seq, data, pseudo):
    """The echo reply of the family, its checksum summed with the pseudo
    header (empty for IPv4) and spoiled for the damaged case."""
    if len(data) == LARGE:
        data = b"z" * LARGE_DATA
    body = struct.pack("!BBHHH", echo_type, 0, 0, ident, seq) + data
    total = checksum(pseudo(len(body)) + body)
    if len(data) == DAMAGED:
        total ^= 1
    return body[:2] + struct.pack("!H", total) + body[4:]


def answer4(recv4, send4):
    packet, _ = recv4.recvfrom(70000)
    ihl = (packet[0] & 0x0F) * 4
    icmp = packet[ihl:]
    if len(icmp) < 8 or icmp[0] != 8:
        return
    _, _, _, ident, seq = struct.unpack("!BBHHH", icmp[:8])
    src, dst = packet[12:16], packet[16:20]
    if len(icmp) - 8 == OTHER_SENDER:
        dst = socket.inet_aton("127.0.0.2")
    body = reply(0, ident, seq, icmp[8:], lambda n: b"")
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(body), 0, 0, 64,
                         socket.IPPROTO_ICMP, 0, dst, src)
    send4.sendto(header + body, (socket.inet_ntoa(src), 0))


def answer6(recv6, send6):
    icmp, sender = recv6.recvfrom(70000)
    if len(icmp) < 8 or icmp[0] != 128:
        return
    _, _, _, ident, seq = struct.unpack("!BBHHH", icmp[:8])
    addr = socket.inet_pton(socket.AF_INET6, sender[0])

    def pseudo(n):
        return addr + addr + struct.pack("!I3xB", n, socket.IPPROTO_ICMPV6)

    body = reply(129, ident, seq, icmp[8:], pseudo)
    header = struct.pack("!IHBB16s16s", 6 << 28, len(body), socket.IPPROTO_ICMPV6, 64,
                         addr, addr)
    send6.sendto(header + body, (sender[0], 0))


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 120
    recv4 = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
    send4 = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
    recv6 = socket.socket(socket.AF_INET6, socket.SOCK_RAW, socket.IPPROTO_ICMPV6)
    send6 = socket.socket(socket.AF_INET6, socket.SOCK_RAW, socket.IPPROTO_RAW)
    print("ready", flush=True)
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        ready, _, _ = select.select([recv4, recv6], [], [], 0.5)
        if recv4 in ready:
            answer4(recv4, send4)
        if recv6 in ready:
            answer6(recv6, send6)


main()
