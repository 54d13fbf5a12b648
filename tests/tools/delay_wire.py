#!/usr/bin/env python3
"""A network cable with delay, between two interfaces of one network namespace.

  delay_wire.py IFACE_A IFACE_B DELAY_MS

Every Ethernet frame that arrives on one interface leaves by the other
DELAY_MS later, in order, both ways (ARP, IP, everything). It stands in for
a queueing discipline that delays (netem), for kernels built without one.
Both interfaces must be up and promiscuous. Runs until it is ended.

Frames sent by the local stack may carry a UDP checksum the interface was to
finish (checksum offload); a frame copied on keeps it unfinished, so an IPv4
UDP checksum is set to zero on the way, which means "none" in IPv4.
"""
import heapq
import select
import socket
import sys
import time

ETH_P_ALL = 0x0003
PACKET_OUTGOING = 4


def open_raw(name):
    s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
    s.bind((name, 0))
    s.setblocking(False)
    return s


def without_udp_checksum(frame):
    if len(frame) < 34 or frame[12:14] != b"\x08\x00" or frame[23] != 17:
        return frame
    start = 14 + (frame[14] & 0x0F) * 4
    if len(frame) < start + 8:
        return frame
    return frame[: start + 6] + b"\x00\x00" + frame[start + 8 :]


def main():
    a, b = open_raw(sys.argv[1]), open_raw(sys.argv[2])
    delay = float(sys.argv[3]) / 1000.0
    other = {a: b, b: a}
    queue = []  # (due, order, socket, frame)
    order = 0
    while True:
        timeout = max(0.0, queue[0][0] - time.monotonic()) if queue else 1.0
        ready, _, _ = select.select([a, b], [], [], timeout)
        now = time.monotonic()
        for s in ready:
            while True:
                try:
                    frame, address = s.recvfrom(65535)
                except BlockingIOError:
                    break
                if address[2] == PACKET_OUTGOING:
                    continue
                heapq.heappush(queue, (now + delay, order, other[s], without_udp_checksum(frame)))
                order += 1
        while queue and queue[0][0] <= time.monotonic():
            _, _, s, frame = heapq.heappop(queue)
            try:
                s.send(frame)
            except OSError:
                pass


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        pass
