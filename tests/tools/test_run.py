#!/usr/bin/env python3
"""The start and the end of a test run that must leave nothing behind.

    test_run.py begin RUN_DIR [--var NAME]
    test_run.py end RUN_DIR [--var NAME]

The tests of a run get TMPDIR=RUN_DIR, so every temporary folder they make is
in RUN_DIR, and NAME=RUN_DIR (NAME is NUVEL_TEST_RUN unless --var says
otherwise), a marker in the environment that every process they start
inherits: an X server, the game, a death test's child, a helper that lost its
parent. Nothing else on the machine carries it, so the check below never
counts what other people's runs left.

begin: ends the processes and removes the folder that an interrupted earlier
run with the same RUN_DIR left (reports them, but does not fail: they are not
this run's), then makes RUN_DIR afresh.

end: reports every process still alive with the marker and everything left in
RUN_DIR, ends those processes (SIGTERM, SIGKILL after 5 s), removes RUN_DIR,
and fails if there was anything to report.
"""
import argparse
import os
import shutil
import signal
import stat
import sys
import time


def ancestors():
    """This process and the processes it runs under: they may carry the marker."""
    pids, pid = set(), os.getpid()
    while pid > 1 and pid not in pids:
        pids.add(pid)
        try:
            with open(f"/proc/{pid}/stat") as f:
                pid = int(f.read().rsplit(")", 1)[1].split()[1])
        except (OSError, ValueError, IndexError):
            break
    return pids


def marked(pid, marker):
    try:
        with open(f"/proc/{pid}/environ", "rb") as f:
            return marker in f.read().split(b"\0")
    except OSError:  # gone, a zombie, or not ours to read (then not started by us either)
        return False


def describe(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            ppid = f.read().rsplit(")", 1)[1].split()[1]
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            command = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
    except OSError:
        return f"pid {pid} (gone)"
    return f"pid {pid}, parent {ppid}: {command[:200]}"


def marked_processes(marker):
    skip = ancestors()
    return [pid for pid in (int(name) for name in os.listdir("/proc") if name.isdigit())
            if pid not in skip and marked(pid, marker)]


def end_processes(marker, pids):
    """Ends the processes; gives those that would not end."""
    ended = list(pids)
    for sig in (signal.SIGTERM, signal.SIGKILL):
        for pid in pids:
            if marked(pid, marker):  # still the same process, not a reused pid
                try:
                    os.kill(pid, sig)
                except OSError:
                    pass
        deadline = time.monotonic() + 5
        while pids and time.monotonic() < deadline:
            time.sleep(0.1)
            pids = [pid for pid in pids if marked(pid, marker)]
        if not pids:
            break
    # An ended process whose parent is gone stays a zombie until init collects
    # it; give that a moment, so that ps shows nothing of the run afterwards.
    deadline = time.monotonic() + 2
    while time.monotonic() < deadline and any(os.path.exists(f"/proc/{pid}") for pid in ended if pid not in pids):
        time.sleep(0.1)
    return pids


def leftovers(run_dir):
    found = []
    for name in sorted(os.listdir(run_dir)):
        path = os.path.join(run_dir, name)
        if os.path.isdir(path) and not os.path.islink(path):
            inside = sum(len(dirs) + len(files) for _, dirs, files in os.walk(path))
            found.append(f"{path}/ ({inside} entries inside)")
        else:
            found.append(path)
    return found


def remove(run_dir):
    def writable_and_retry(function, path, _):
        # A test may leave a read-only folder; its parent must be writable to empty it.
        os.chmod(os.path.dirname(path), stat.S_IRWXU)
        if os.path.isdir(path) and not os.path.islink(path):
            os.chmod(path, stat.S_IRWXU)
        function(path)

    if os.path.lexists(run_dir):
        shutil.rmtree(run_dir, onerror=writable_and_retry)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("step", choices=["begin", "end"])
    parser.add_argument("run_dir")
    parser.add_argument("--var", default="NUVEL_TEST_RUN")
    args = parser.parse_args()
    run_dir = os.path.abspath(args.run_dir)
    marker = f"{args.var}={run_dir}".encode()

    processes = marked_processes(marker)
    files = leftovers(run_dir) if os.path.isdir(run_dir) else []
    what = "an earlier, interrupted run left" if args.step == "begin" else "left behind by this run"
    for pid in processes:
        print(f"process {what}: {describe(pid)}")
    for path in files:
        print(f"file {what}: {path}")
    stuck = end_processes(marker, processes)
    for pid in stuck:
        print(f"could not end: {describe(pid)}")
    remove(run_dir)

    if args.step == "begin":
        os.makedirs(run_dir)
        print(f"test run folder {run_dir}, marker {args.var}")
        return 1 if stuck else 0
    if processes or files:
        print(f"FAILED: {len(processes)} processes and {len(files)} files or folders were left behind "
              f"(ended and removed now)")
        return 1
    print(f"nothing left behind: no process with {args.var}={run_dir}, nothing in the run's TMPDIR")
    return 0


if __name__ == "__main__":
    sys.exit(main())
