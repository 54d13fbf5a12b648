#!/usr/bin/env bash
# Real games through real routers: the network of tests/tools/nat_lib.sh with
# one match server, and in each case a host and a joining game, each in its
# own X server inside its own namespace, that meet by invite code:
#   a public host and a machine behind a port-keeping router: DIRECT;
#   both behind port-keeping routers: PUNCHED;
#   the host behind a port-keeping router, the other symmetric: RELAYED;
#   both behind symmetric routers: RELAYED.
# Each joining game must reach the lobby the way the case says, and the host
# must see it come the same way; then the host starts a round of the two
# seats (nobody steers: both lines run into a wall), and both machines' result
# screens and replays must agree, and the replays verify. A game with the
# server in its option.txt finds a public match in the room list of its
# online screen and joins it. Finally the server is stopped, and the hosts
# say so and play on.
#
# Usage: nat_games.sh <nuvel binary> <game folder> [--delay MS] [--figures N]
#   --delay MS   every public link but the server's delays frames MS ms each way
#   --figures N  instead of the rounds: N joins of each kind, printing the time
#                from the code entered to the lobby
# Exit 77 (skipped) without root or a tool.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
nuvel=$(realpath "$1")
game=$(realpath "$2")
build=$(dirname "$nuvel")
server=$build/server/nuvel-server
sim=$build/tools/sim/nuvel-sim
for tool in Xvfb xdotool setpriv; do command -v "$tool" >/dev/null || { echo "missing $tool"; exit 77; }; done
source "$here/tools/nat_lib.sh"
nat_options "${@:3}"
public_network
spawn srv server.log "$server" --port 26470 --relay-ports 27000-27199 --status-seconds 5
serverpid=${children[-1]}
server_started server.log

# ---- games ----
declare -A display nsof
# machine NAME NS: a game folder and an X server in the namespace (an X server
# listens on an abstract socket, which belongs to its network namespace).
machine() {
  local name=$1
  nsof[$name]=$2
  mkdir "$work/$name"
  for entry in "$game"/*; do ln -s "$entry" "$work/$name/"; done
  printf 'GAME_WAIT=40\r\nITEM_MAX=3\r\n' >"$work/$name/option.txt"
  ip netns exec "$tag-$2" setpriv --pdeathsig TERM Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp \
    -nolisten unix 3>"$work/$name.display" >"$work/$name.xvfb" 2>&1 &
  children+=($!)
  for _ in $(seq 100); do [ -s "$work/$name.display" ] && break; sleep 0.1; done
  [ -s "$work/$name.display" ] || fail "the X server of $name did not start"
  display[$name]=:$(cat "$work/$name.display")
}
play() {  # play NAME ARGS...: the game, its standard output in NAME.out
  local name=$1
  shift
  (cd "$work/$name" && DISPLAY=${display[$name]} SDL_AUDIODRIVER=dummy exec ip netns exec "$tag-${nsof[$name]}" \
    setpriv --pdeathsig KILL "$nuvel" "$@" >"$work/$name.out" 2>"$work/$name.err") &
  children+=($!)
}
key() { ns "${nsof[$1]}" env DISPLAY="${display[$1]}" xdotool key --delay 120 "${@:2}"; sleep 0.3; }
source "$here/tools/shots.sh"
wait_for() {  # wait_for FILE PATTERN SECONDS
  for _ in $(seq $((10 * $3))); do grep -q -- "$2" "$work/$1" 2>/dev/null && return 0; sleep 0.1; done
  fail "no '$2' in $1 within $3 s"
}
replays() { ls "$work/$1/replays" 2>/dev/null | grep -c '\.rpl$' || true; }

# meet CASE HOSTNS JOINNS KIND: the host registers, the other joins by its
# code; both must see KIND.
meet() {
  local c=$1
  machine "$c-host" "$2"
  machine "$c-join" "$3"
  play "$c-host" --host 26471 --server "$SERVER" --seats local,remote,non,non --name HOST
  wait_for "$c-host.out" '^INVITE CODE ' 30
  local code
  code=$(awk '/^INVITE CODE/{print $3; exit}' "$work/$c-host.out")
  play "$c-join" --join "$code" --server "$SERVER" --name JOIN
  wait_for "$c-join.out" '^LOBBY ' 30
  grep -q "^LOBBY $4 " "$work/$c-join.out" || fail "$c: the joining game came $(grep '^LOBBY' "$work/$c-join.out"), not $4"
  wait_for "$c-host.err" "a machine connected $4 " 5
  echo "$c: $(grep '^LOBBY' "$work/$c-join.out" | cut -d' ' -f2-)"
}

cases=("direct open h1 DIRECT" "punched h1 h2 PUNCHED" "relayed h2 h3 RELAYED" "symmetric h3 h4 RELAYED")
if [ "$figures" -gt 0 ]; then
  for i in $(seq "$figures"); do
    for c in "${cases[@]}"; do
      set -- $c
      meet "$1$i" "$2" "$3" "$4"
      for p in "${children[@]: -4}"; do stop_child "$p" || true; done
    done
  done
  exit 0
fi

for c in "${cases[@]}"; do
  set -- $c
  meet "$1" "$2" "$3" "$4"
done
# The room list: a public match, and a game that knows the server from its
# settings file; at its title (a picture of more than the dark logo), N opens
# the online screen, whose third row is ROOM LIST; Return joins the first match.
machine listed-host h4
machine listed-join h1
printf 'MATCH_SERVER=%s\r\n' "$SERVER" >>"$work/listed-join/option.txt"
play listed-host --host 26471 --server "$SERVER" --public --name LISTED
play listed-join  # a name is given with --host or --join only; the online screen offers its own
wait_for listed-host.out '^INVITE CODE ' 30
for _ in $(seq 60); do f=$(try_shot listed-join) && [ "$(stat -c %s "$f")" -gt 10000 ] && break; sleep 0.5; done
sleep 1
key listed-join n
key listed-join Down Down Return
sleep 2
key listed-join Return
wait_for listed-join.out '^LOBBY RELAYED ' 30
wait_for listed-host.err 'a machine connected RELAYED ' 5
echo "room list: $(grep '^LOBBY' "$work/listed-join.out" | cut -d' ' -f2-)"
# The rounds: the host starts the match; its round intro and selector decide
# for both machines. Nobody steers, so both lines end in a wall.
sleep 2
for c in "${cases[@]}"; do key "${c%% *}-host" Return; done  # START
sleep 2
for c in "${cases[@]}"; do key "${c%% *}-host" Return; done  # round intro: OK NEXT
sleep 2
for c in "${cases[@]}"; do key "${c%% *}-host" Return; done  # selector: the round starts
for c in "${cases[@]}"; do
  c=${c%% *}
  for _ in $(seq 900); do [ "$(replays "$c-host")" -ge 1 ] && [ "$(replays "$c-join")" -ge 1 ] && break; sleep 0.1; done
  [ "$(replays "$c-host")" -ge 1 ] && [ "$(replays "$c-join")" -ge 1 ] || fail "$c: the round did not end on both"
done
sleep 1.5
for c in "${cases[@]}"; do
  c=${c%% *}
  python3 "$here/tools/pngsame.py" 128 72 512 300 "$(shot "$c-host")" "$(shot "$c-join")" ||
    fail "$c: the result screens differ"
  cmp -s "$work/$c-host"/replays/*.rpl "$work/$c-join"/replays/*.rpl || fail "$c: the replays differ"
  "$sim" --game "$game" --verify "$work/$c-host"/replays/*.rpl >"$work/$c.verify.log" 2>&1 ||
    fail "$c: the replay does not verify"
  echo "$c: same result screen and replay on both machines"
done

# The server stops: the hosts hear it, and their matches go on.
kill -TERM "$serverpid"
wait "$serverpid" || fail "the server did not end cleanly"
for c in "${cases[@]}"; do wait_for "${c%% *}-host.err" 'THE MATCH SERVER CLOSED' 10; done
echo "all cases passed"
