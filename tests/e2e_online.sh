#!/usr/bin/env bash
# End to end online: a host and two joining games, each in its own X server
# and its own folder; the joining games reach the host through a UDP relay
# that adds 100 ms round trip, 20 ms jitter and 5% loss each way (loopback
# only). Round 1 is played by the three machines (a seat each, and a computer)
# and must end with the same result screen everywhere; in round 2 one joining
# game is killed mid-round and its seat goes on as a computer on the others;
# every machine's replays must verify; then the host is killed and the last
# joining game must reach the title with a message within 5 seconds, and end
# normally from there. Exit 77 (skipped) when a tool is missing.
# Usage: e2e_online.sh <nuvel binary> <game folder> [<nuvel-sim binary>]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
for tool in Xvfb xdotool python3 setpriv; do command -v "$tool" >/dev/null || { echo "missing $tool"; exit 77; }; done
nuvel=$(realpath "$1")
game=$(realpath "$2")
sim=$(realpath "${3:-$(dirname "$nuvel")/tools/sim/nuvel-sim}")
work=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-online-XXXXXX")
declare -A display pid
relay_pid=
xservers=()

source "$here/tools/processes.sh"
cleanup() {
  set +e
  for name in "${!pid[@]}"; do stop_child "${pid[$name]}"; done
  [ -n "$relay_pid" ] && stop_child "$relay_pid"
  for x in "${xservers[@]}"; do stop_child "$x"; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
fail() { echo "$*" >&2; for f in "$work"/*.err; do echo "== $f"; cat "$f"; done >&2; exit 1; }

# A machine: its folder (the game data and a fresh place for what it writes)
# and its X server.
machine() {
  local name=$1
  mkdir "$work/$name"
  for entry in "$game"/*; do ln -s "$entry" "$work/$name/"; done
  printf 'GAME_WAIT=80\r\nITEM_MAX=3\r\n' >"$work/$name/option.txt"
  setpriv --pdeathsig TERM Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -nolisten unix \
    3>"$work/$name.display" >"$work/$name.xvfb" 2>&1 &
  xservers+=($!)
  for _ in $(seq 100); do [ -s "$work/$name.display" ] && break; sleep 0.1; done
  [ -s "$work/$name.display" ] || fail "the X server of $name did not start"
  display[$name]=:$(cat "$work/$name.display")
}
start() {  # start NAME ARGS...
  local name=$1
  shift
  (cd "$work/$name" && DISPLAY=${display[$name]} SDL_AUDIODRIVER=dummy exec setpriv --pdeathsig KILL \
    "$nuvel" "$@" 2>"$work/$name.err") &
  pid[$name]=$!
}
key() { local name=$1; shift; DISPLAY=${display[$name]} xdotool key --delay 120 "$@"; sleep 0.2; }
shot() {  # shot NAME: takes the machine's next screenshot and prints its path
  local file
  file=$(printf '%s/%s/shot_%03d.png' "$work" "$1" "$(ls "$work/$1" | grep -c '^shot_')")
  key "$1" F6
  for _ in $(seq 50); do [ -e "$file" ] && break; sleep 0.1; done
  [ -e "$file" ] || fail "no screenshot $file"
  sleep 0.2
  echo "$file"
}
replays() { ls "$work/$1/replays" 2>/dev/null | wc -l; }
wait_replays() {  # wait_replays NAME COUNT SECONDS: a round ends by saving its replay
  for _ in $(seq $((10 * $3))); do [ "$(replays "$1")" -ge "$2" ] && return 0; sleep 0.1; done
  fail "$1 has $(replays "$1") replays, not $2"
}
port=$((20000 + $$ % 20000))
python3 "$here/tools/udp_relay.py" $((port + 1)) "$port" 50 10 5 7 300 &
relay_pid=$!

for name in host one two; do machine "$name"; done
start host --host "$port" --seats local,remote,remote,hard --name HOST
sleep 1
start one --join "127.0.0.1:$((port + 1))" --name ONE
sleep 1
start two --join "127.0.0.1:$((port + 1))" --name TWO
# The logo intro, then the lobby; the joining games take seats 2P and 3P.
for _ in $(seq 60); do
  f=$(shot host)
  [ "$(stat -c %s "$f")" -gt 10000 ] && break
  rm -f "$f"
  sleep 0.5
done
sleep 4
key host Return            # START
sleep 1.5
key host Return            # round intro: OK NEXT
sleep 1.5
key host Return            # selector: NORMAL GAME START
sleep 5                    # the countdown
key one b
key two Left
sleep 1
key one m
key two Right
wait_replays host 1 90
wait_replays one 1 20
wait_replays two 1 20
sleep 1.5
python3 "$here/tools/pngsame.py" 128 72 512 300 "$(shot host)" "$(shot one)" "$(shot two)" ||
  fail "round 1 ended otherwise on some machine"

# Round 2: the second joining game is killed mid-round; its seat plays on.
key host Return            # NEXT ROUND
sleep 1.5
key host Return            # round intro
sleep 1.5
key host Return            # selector
sleep 6
kill -KILL "${pid[two]}"
wait "${pid[two]}" 2>/dev/null || true
unset 'pid[two]'
wait_replays host 2 120
wait_replays one 2 20
sleep 1.5
python3 "$here/tools/pngsame.py" 128 72 512 300 "$(shot host)" "$(shot one)" ||
  fail "round 2 ended otherwise on the machines left"
grep -q "closed: it answered nothing" "$work/host.err" || fail "the host did not let the killed game go"

# Every machine's replays reproduce their rounds (round 2 with the takeover).
"$sim" --game "$game" --verify "$work"/host/replays/*.rpl "$work"/one/replays/*.rpl "$work"/two/replays/*.rpl ||
  fail "a replay does not verify"

# The host is killed: the joining game says so and is at the title within 5 s.
kill -KILL "${pid[host]}"
wait "${pid[host]}" 2>/dev/null || true
unset 'pid[host]'
for _ in $(seq 50); do grep -q "The host stopped answering" "$work/one.err" && break; sleep 0.1; done
grep -q "The host stopped answering" "$work/one.err" || fail "no message about the host"
# At the title Escape leaves (the first one may only cut the title's opening short).
for _ in $(seq 15); do
  sleep 1
  running "${pid[one]}" || break
  key one Escape
done
running "${pid[one]}" && fail "the joining game did not end from the title"
status=0
wait "${pid[one]}" || status=$?
unset 'pid[one]'
[ "$status" -eq 0 ] || fail "the joining game ended with status $status"
echo "online end-to-end: same results on every machine, replays verified, drop-out and host loss handled"
