#!/usr/bin/env python3
"""Hostile traffic against a match server, inside the test's namespaces only.

  hostile.py listen SECONDS
      Counts every UDP datagram that reaches this namespace for SECONDS, then
      prints "<datagrams> <bytes> <from relay ports>" (bytes of payload; relay
      ports are 27000 to 27999).
  hostile.py attack SERVER PORT PIPE VICTIM
      From this namespace: a flood of datagrams to SERVER:PORT, malformed
      ones, relay binds with guessed tokens and plain datagrams to the relay
      pipe SERVER:PIPE; then the same in the name of VICTIM (a forged source
      address): a HELLO, requests without a valid cookie, binds and
      datagrams for the pipe. Prints "SPOOFED <bytes>" (payload sent in the
      victim's name) and "ANSWERS <n>" (what came back here from the pipe,
      which must be nothing). Exit 1 when the pipe answered.

The messages are written here by hand from the protocol's description, so a
mistake in the server's own encoder cannot hide one in its decoder.
"""
import os
import random
import select
import socket
import struct
import sys
import time

HEADER = bytes([0xFF, 0xFF, ord("N"), 1])
HELLO, JOIN, LIST, BIND = 1, 5, 7, 21


def hello():
    return HEADER + bytes([HELLO]) + os.urandom(8) + bytes(24)


def join_without_cookie():
    return HEADER + bytes([JOIN]) + os.urandom(8) + struct.pack("<I", 1) + b"ABCDEF" + b"\x00\x01X"


def list_without_cookie():
    return HEADER + bytes([LIST]) + os.urandom(8) + struct.pack("<IH", 1, 0)


def bind(token):
    return HEADER + bytes([BIND]) + struct.pack("<QQ", token, 0) + bytes(8)


def checksum(data):
    if len(data) % 2:
        data += b"\x00"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    total = (total >> 16) + (total & 0xFFFF)
    total += total >> 16
    return ~total & 0xFFFF


def forged(source, target, port, payload):
    """An IPv4 datagram from source (not this machine) to target:port."""
    sport = random.randint(20000, 60000)
    udp = struct.pack("!HHHH", sport, port, 8 + len(payload), 0) + payload
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), random.randint(0, 65535), 0, 64, 17, 0,
                         socket.inet_aton(source), socket.inet_aton(target))
    header = header[:10] + struct.pack("!H", checksum(header)) + header[12:]
    return header + udp


def listen(seconds):
    s = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_UDP)
    end = time.monotonic() + seconds
    count = size = relayed = 0
    while time.monotonic() < end:
        ready, _, _ = select.select([s], [], [], 0.1)
        if not ready:
            continue
        packet = s.recv(65535)
        ihl = (packet[0] & 0x0F) * 4
        sport, _, length = struct.unpack("!HHH", packet[ihl:ihl + 6])
        count += 1
        size += length - 8
        relayed += 27000 <= sport <= 27999
    print(count, size, relayed, flush=True)


def attack(server, port, pipe, victim):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
    for k in range(3000):  # a flood: far over any address's rate
        s.sendto(hello() if k % 2 else os.urandom(40), (server, port))
    for _ in range(50):  # malformed: the protocol's first bytes, then nonsense
        s.sendto(HEADER + os.urandom(random.randint(1, 60)), (server, port))
    time.sleep(2.5)  # the address's rate fills up again
    for _ in range(200):  # guessed tokens, and plain datagrams from outside the pipe
        s.sendto(bind(random.getrandbits(64) | 1), (server, pipe))
        s.sendto(os.urandom(60), (server, pipe))
    answers = 0
    end = time.monotonic() + 1.0
    while time.monotonic() < end:
        ready, _, _ = select.select([s], [], [], 0.1)
        if ready:
            _, source = s.recvfrom(65535)
            answers += source[1] == pipe
    raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
    spoofed = 0
    for payload, target in [(hello(), port), (join_without_cookie(), port), (list_without_cookie(), port),
                            (bind(random.getrandbits(64) | 1), pipe), (os.urandom(100), pipe),
                            (os.urandom(100), port)] * 5:
        raw.sendto(forged(victim, server, target, payload), (server, 0))
        spoofed += len(payload)
        time.sleep(0.01)
    print("SPOOFED", spoofed)
    print("ANSWERS", answers)
    return 0 if answers == 0 else 1


def main():
    if sys.argv[1] == "listen":
        listen(float(sys.argv[2]))
        return 0
    return attack(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5])


if __name__ == "__main__":
    sys.exit(main())
