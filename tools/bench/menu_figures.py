#!/usr/bin/env python3
"""Figures for the game idling on its title menu.

Starts the game in a fresh folder beside the game data, either on SDL's dummy
video driver or in a private X server without a GPU (Xvfb), lets the logo
intro and the title opening pass, then watches the process for a while:

- start to first picture: from just before the program starts to the window's
  first shown frame;
- presents per second, and the share that repeat the picture already shown;
- the intervals between new pictures (the menu runs 33 ms frames: the share
  within 30-37 ms says how many frames were shown for exactly two refreshes);
- CPU of the game process, wake-ups of its main thread, resident memory; in
  Xvfb also the X server's CPU, which shows the pictures (a browser's figure
  counts its compositor, which does that job there).

The game writes its presentation log when NUVEL_PRESENT_LOG names a file.

    tools/bench/menu_figures.py BINARY GAME_DIR [--x] [--seconds 70] [--settle 9]
"""
import argparse
import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time


def read_stat(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks  # utime + stime, seconds


def read_status(path, key):
    with open(path) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def main_thread_switches(pid):
    path = f"/proc/{pid}/task/{pid}/status"
    return read_status(path, "voluntary_ctxt_switches") + read_status(path, "nonvoluntary_ctxt_switches")


def die_with_us(sig):
    """For Popen's preexec_fn: the child gets sig when this process ends, even
    when it is killed outright and no clean-up of ours runs."""
    parent = os.getpid()  # taken here, before the fork; preexec runs in the child

    def preexec():
        PR_SET_PDEATHSIG = 1
        ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, int(sig), 0, 0, 0)
        if os.getppid() != parent:  # we were gone before the request was in place
            os._exit(1)
    return preexec


def start_xvfb():
    """A private X server on a display it picks itself (-displayfd), listening
    only on Linux's abstract socket: nothing of it stays in /tmp, even when it
    is killed outright."""
    read_end, write_end = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                             "-nolisten", "tcp", "-nolisten", "unix"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, pass_fds=(write_end,),
                            preexec_fn=die_with_us(signal.SIGTERM))
    os.close(write_end)
    with os.fdopen(read_end) as f:
        number = f.readline().strip()  # written once the server takes connections
    if not number:
        proc.wait()
        sys.exit("no X server could be started")
    return proc, f":{number}"


def stop(proc):
    if proc is None or proc.poll() is not None:
        return
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary")
    parser.add_argument("game")
    parser.add_argument("--x", action="store_true", help="run in Xvfb instead of the dummy driver")
    parser.add_argument("--seconds", type=float, default=70.0)
    parser.add_argument("--settle", type=float, default=9.0)
    args = parser.parse_args()

    # SIGTERM and SIGHUP end the run through the clean-up below, as Ctrl-C does.
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, lambda number, _: sys.exit(128 + number))
    work = tempfile.mkdtemp(prefix="nuvel-menu-")  # in $TMPDIR
    xvfb = game = None
    try:
        for entry in os.listdir(args.game):
            os.symlink(os.path.join(os.path.abspath(args.game), entry), os.path.join(work, entry))
        log = os.path.join(work, "present.log")
        env = dict(os.environ, NUVEL_PRESENT_LOG=log, SDL_AUDIODRIVER="dummy")
        if args.x:
            xvfb, display = start_xvfb()
            env["DISPLAY"] = display
            env.pop("SDL_VIDEODRIVER", None)
        else:
            env["SDL_VIDEODRIVER"] = "dummy"

        binary = os.path.abspath(args.binary)
        started = time.monotonic_ns()
        game = subprocess.Popen([binary], cwd=work, env=env, stderr=subprocess.DEVNULL,
                                preexec_fn=die_with_us(signal.SIGKILL))
        time.sleep(args.settle)
        x0 = read_stat(xvfb.pid) if xvfb else 0.0
        cpu0, sw0, t0 = read_stat(game.pid), main_thread_switches(game.pid), time.monotonic_ns()
        time.sleep(args.seconds)
        cpu1, sw1, t1 = read_stat(game.pid), main_thread_switches(game.pid), time.monotonic_ns()
        x1 = read_stat(xvfb.pid) if xvfb else 0.0
        rss = read_status(f"/proc/{game.pid}/status", "VmRSS")
        stop(game)
        stop(xvfb)

        with open(log + ".first") as f:
            first = int(f.read())
        presents = []
        with open(log) as f:
            for line in f:
                stamp, repeat = line.split()
                if t0 <= int(stamp) <= t1:
                    presents.append((int(stamp), repeat == "1"))
    finally:
        stop(game)
        stop(xvfb)
        shutil.rmtree(work, ignore_errors=True)

    span = (t1 - t0) / 1e9
    new = [stamp for stamp, repeat in presents if not repeat]
    gaps = [(b - a) / 1e6 for a, b in zip(new, new[1:])]
    within = sum(1 for g in gaps if 30.0 <= g <= 37.0)
    buckets = {}
    for g in gaps:
        key = "<30" if g < 30 else ">37" if g > 37 else "30-37"
        buckets[key] = buckets.get(key, 0) + 1
    print(f"driver: {'Xvfb 1280x1024' if args.x else 'dummy'}; window {span:.1f} s on the title")
    print(f"start to first picture: {(first - started) / 1e6:.0f} ms")
    print(f"presents/s: {len(presents) / span:.1f}; repeats: {sum(r for _, r in presents) / max(1, len(presents)) * 100:.1f}%")
    print(f"new-picture intervals: {len(gaps)}; within 30-37 ms: {within / max(1, len(gaps)) * 100:.2f}%; {buckets}")
    if gaps:
        gaps.sort()
        print(f"  interval min {gaps[0]:.2f} median {gaps[len(gaps) // 2]:.2f} max {gaps[-1]:.2f} ms")
    print(f"CPU: {(cpu1 - cpu0) / span * 100:.1f}% of a core; main-thread wake-ups/s: {(sw1 - sw0) / span:.0f}")
    if args.x:
        print(f"CPU of the X server: {(x1 - x0) / span * 100:.1f}%; game and X server: "
              f"{(cpu1 - cpu0 + x1 - x0) / span * 100:.1f}% of a core")
    print(f"resident memory at the title: {rss} KB")


if __name__ == "__main__":
    main()
