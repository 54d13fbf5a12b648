# Child processes of a test script: whether one still runs, and ending one.

# Whether a child process of this shell still runs (an ended one that is not
# waited for yet is a zombie, which kill -0 would still find).
running() {
  local state
  state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) && [ -n "$state" ] && [ "$state" != Z ]
}
# Ends a child process of this shell: SIGTERM, SIGKILL after 3 s, then waits.
# Its status is not looked at (one ended by the signal has a nonzero one),
# so that this may also be called where set -e holds.
stop_child() {
  kill -TERM "$1" 2>/dev/null || true
  for _ in $(seq 30); do running "$1" || break; sleep 0.1; done
  kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
