#!/usr/bin/env python3
"""A small impairing UDP relay for the online end-to-end tests, on loopback only.

  udp_relay.py LISTEN_PORT TARGET_PORT [--delay MS] [--delay-up MS] [--delay-down MS]
               [--jitter MS] [--loss PERCENT] [--loss-up PERCENT] [--loss-down PERCENT]
               [--seed N] [--seconds S]

Every datagram that reaches 127.0.0.1:LISTEN_PORT from a client goes to
127.0.0.1:TARGET_PORT from a socket of that client's own, and the answers go
back. Up is the way to the target (the host), down the way back; each way a
datagram waits its delay +- the jitter (uniform, so datagrams may overtake
each other) and is lost with that way's loss (each datagram on its own).
--delay and --loss set both ways. The relay ends by itself after --seconds.
"""
import argparse
import heapq
import random
import select
import socket
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("listen", type=int)
    parser.add_argument("target", type=int)
    parser.add_argument("--delay", type=float, default=0.0)
    parser.add_argument("--delay-up", type=float)
    parser.add_argument("--delay-down", type=float)
    parser.add_argument("--jitter", type=float, default=0.0)
    parser.add_argument("--loss", type=float, default=0.0)
    parser.add_argument("--loss-up", type=float)
    parser.add_argument("--loss-down", type=float)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--seconds", type=float, default=600.0)
    a = parser.parse_args()
    ways = {
        "up": (a.delay if a.delay_up is None else a.delay_up, a.loss if a.loss_up is None else a.loss_up),
        "down": (a.delay if a.delay_down is None else a.delay_down, a.loss if a.loss_down is None else a.loss_down),
    }
    rng = random.Random(a.seed)
    front = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    front.bind(("127.0.0.1", a.listen))
    backs = {}  # client address -> its socket towards the target
    clients = {}  # socket -> client address
    queue = []  # (due, order, socket, bytes, address)
    order = 0
    end = time.monotonic() + a.seconds

    def later(way, sock, data, address):
        nonlocal order
        delay, loss = ways[way]
        if rng.random() * 100 < loss:
            return
        due = time.monotonic() + max(0.0, delay + rng.uniform(-a.jitter, a.jitter)) / 1000.0
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
                later("up", backs[address], data, ("127.0.0.1", a.target))
            else:
                later("down", front, data, clients[sock])
        now = time.monotonic()
        while queue and queue[0][0] <= now:
            _, _, sock, data, address = heapq.heappop(queue)
            try:
                sock.sendto(data, address)
            except OSError:
                pass  # the other end is gone for now (a game killed or stopped)


if __name__ == "__main__":
    main()
