#!/usr/bin/env bash
# The match server's relay under load, on loopback: for each number of rooms,
# a fresh nuvel-server (on the first processor) and the load generator (on
# the second) send the traffic of four-machine online rounds through relay
# pipes, then the same traffic straight between the sockets, for the delay
# the relay adds. Prints a line per number of rooms: relayed datagrams a
# second, the server's processor time (share of one core, and per relayed
# datagram), the delay's 99th percentile through the relay and without it,
# and the server's resident memory per room.
#
#   tools/bench/server_load.sh <build folder> [seconds] [rooms ...]
#   e.g. tools/bench/server_load.sh build 60 100 250 500 750
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-60}
shift $(($# >= 2 ? 2 : $#))
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(100 250 500)
server=$build/server/nuvel-server
load=$build/tools/nuvel-server-load
port=$((36000 + $$ % 1000))
pin_server=()
pin_load=()
if [ "$(nproc)" -ge 2 ] && command -v taskset >/dev/null; then
  pin_server=(taskset -c 0)
  pin_load=(taskset -c 1)
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-load-XXXXXX")
pid=
cleanup() {
  [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kb() { awk '/^VmRSS/{print $2}' "/proc/$1/status"; }
p99() { sed -E 's/.* p99 ([0-9]+) .*/\1/' "$1"; }

for rooms in "${counts[@]}"; do
  "${pin_server[@]}" "$server" --port "$port" --relay-ports 40000-59999 --rate 1000000 --max-rooms $((rooms + 10)) \
    --max-relayed $((rooms + 10)) --status-seconds 3600 >"$work/server.log" 2>&1 &
  pid=$!
  sleep 0.5
  rss0=$(rss_kb "$pid")
  cpu0=$(cpu_ticks "$pid")
  "${pin_load[@]}" "$load" --server "127.0.0.1:$port" --rooms "$rooms" --seconds "$seconds" >"$work/relayed"
  cpu1=$(cpu_ticks "$pid")
  rss1=$(rss_kb "$pid")
  kill -TERM "$pid"
  wait "$pid" || true
  pid=
  "${pin_load[@]}" "$load" --server "127.0.0.1:$port" --rooms "$rooms" --seconds "$seconds" --direct >"$work/direct"
  relayed=$(sed -E 's/.* received ([0-9]+) .*/\1/' "$work/relayed")
  rate=$(sed -E 's/.*lost\), ([0-9]+) datagrams.*/\1/' "$work/relayed")
  awk -v r="$rooms" -v d="$relayed" -v rate="$rate" -v c=$((cpu1 - cpu0)) -v t="$ticks" -v s="$seconds" \
    -v pr="$(p99 "$work/relayed")" -v pd="$(p99 "$work/direct")" -v m=$((rss1 - rss0)) \
    'BEGIN { printf "%d rooms: %d relayed datagrams/s, server %.1f%% of a core, %.2f us per relayed datagram, p99 %d us relayed, %d us direct (added %d), %.1f kB resident per room\n",
             r, rate, 100 * c / t / s, c / t * 1e6 / (d > 0 ? d : 1), pr, pd, pr - pd, m / r }'
  cat "$work/relayed" "$work/direct" | sed 's/^/    /'
done
