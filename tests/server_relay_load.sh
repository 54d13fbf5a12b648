#!/usr/bin/env bash
# The match server's relay carrying the traffic of 25 four-machine online
# rounds on loopback for a few seconds (the load generator, as the relay
# figures are taken): every room opens, every pipe is bound, and nothing is
# lost. Then SIGTERM ends the server cleanly.
# Usage: server_relay_load.sh <nuvel binary> <game folder>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(dirname "$(realpath "$1")")
work=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-load-XXXXXX")
pid=
source "$here/tools/processes.sh"
cleanup() {
  [ -n "$pid" ] && stop_child "$pid"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
fail() { echo "$*" >&2; cat "$work/server.log" >&2; exit 1; }

# A free port: tried from one that depends on this process, as others may run.
for try in $(seq 20); do
  port=$((30000 + ($$ * 7 + try * 101) % 20000))
  "$build/server/nuvel-server" --port "$port" --relay-ports any --rate 1000000 --status-seconds 3600 \
    >"$work/server.log" 2>&1 &
  pid=$!
  sleep 0.3
  running "$pid" && break
  wait "$pid" || true
  pid=
done
[ -n "$pid" ] || fail "no free port for the server"
"$build/tools/nuvel-server-load" --server "127.0.0.1:$port" --rooms 25 --seconds 5 >"$work/load.log" ||
  fail "the load generator failed: $(cat "$work/load.log")"
cat "$work/load.log"
read -r sent received < <(sed -E 's/.*sent ([0-9]+) received ([0-9]+) .*/\1 \2/' "$work/load.log")
[ "$sent" -gt 10000 ] || fail "only $sent datagrams were sent"
[ "$received" -eq "$sent" ] || fail "the relay lost $((sent - received)) of $sent datagrams"
kill -TERM "$pid"
wait "$pid" || fail "the server did not end cleanly"
pid=
grep -q "nuvel-server stops: $sent datagrams relayed" "$work/server.log" || fail "the server's count differs"
echo "1 passed, 0 failed"
