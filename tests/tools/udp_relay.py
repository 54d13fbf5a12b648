#!/usr/bin/env python3
"""A small impairing UDP relay for the online end-to-end test, on loopback only.

  udp_relay.py LISTEN_PORT TARGET_PORT DELAY_MS JITTER_MS LOSS_PERCENT SEED SECONDS

Every datagram that reaches 127.0.0.1:LISTEN_PORT from a client goes to
127.0.0.1:TARGET_PORT from a socket of that client's own, and the answers go
back; each way a datagram waits DELAY_MS +- JITTER_MS (uniform) and is lost
with LOSS_PERCENT. The relay ends by itself after SECONDS.
"""
import heapq
import random
import select
import socket
import sys
import time


def main():
    listen, target, delay, jitter, loss, seed, seconds = (int(a) for a in sys.argv[1:8])
    rng = random.Random(seed)
    front = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    front.bind(("127.0.0.1", listen))
    backs = {}  # client address -> its socket towards the target
    clients = {}  # socket -> client address
    queue = []  # (due, order, socket, bytes, address)
    order = 0
    end = time.monotonic() + seconds

    def later(sock, data, address):
        nonlocal order
        if rng.random() * 100 < loss:
            return
        due = time.monotonic() + (delay + rng.uniform(-jitter, jitter)) / 1000.0
        heapq.heappush(queue, (due, order, sock, data, address))
        order += 1

    while time.monotonic() < end:
        timeout = max(0.0, queue[0][0] - time.monotonic()) if queue else 0.05
        ready, _, _ = select.select([front] + list(clients), [], [], min(timeout, 0.05))
        for sock in ready:
            data, address = sock.recvfrom(65536)
            if sock is front:
                if address not in backs:
                    back = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                    back.bind(("127.0.0.1", 0))
                    backs[address] = back
                    clients[back] = address
                later(backs[address], data, ("127.0.0.1", target))
            else:
                later(front, data, clients[sock])
        now = time.monotonic()
        while queue and queue[0][0] <= now:
            _, _, sock, data, address = heapq.heappop(queue)
            sock.sendto(data, address)


if __name__ == "__main__":
    main()
