#!/usr/bin/env bash
# Stop requests end to end, in a real X server: SIGTERM and SIGINT end the
# game at once while a message box waits for OK (a replay that cannot be
# played) and on the title, with the status a shell gives a process ended by
# that signal; the box's processes end with the game, also when the game is
# killed outright. At that start, what replay writes stopped half-way left
# in replays/ is removed.
# Usage: e2e_signals.sh <nuvel binary> <game folder>
set -euo pipefail
source "$(dirname "$0")/tools/e2e_common.sh" "$1" "$2"

fail() {
  echo "$*" >&2
  cat "$work/stderr.txt" >&2 2>/dev/null || true
  exit 1
}
echo "not a replay" >"$work/bad.rpl"

# The processes a process started, and theirs.
descendants() {
  local child
  for child in $(ps -o pid= --ppid "$1"); do
    echo "$child"
    descendants "$child"
  done
}

# The game, with SIGINT as a terminal would send it (a script's background
# command has it ignored, which the game respects).
start_with() {
  start_x
  (cd "$work" && SDL_AUDIODRIVER=dummy exec env --default-signal=INT setpriv --pdeathsig KILL "$nuvel" "$@" \
    2>"$work/stderr.txt") &
  game_pid=$!
}

# The game with the box that says the replay cannot be played; box holds
# the processes that show it.
start_box() {
  start_with --replay bad.rpl
  box=
  for _ in $(seq 100); do
    box=$(descendants "$game_pid")
    [ -n "$box" ] && break
    sleep 0.1
  done
  [ -n "$box" ] || fail "no message box appeared"
  sleep 1  # the box is up
  box=$(descendants "$game_pid")
}

# The game ends within 5 s (the sanitizer build checks for leaks as it
# exits) with this status.
ends_with() {
  local status=0
  for _ in $(seq 50); do running "$game_pid" || break; sleep 0.1; done
  running "$game_pid" && fail "the game did not end within 5 s of the signal"
  wait "$game_pid" || status=$?
  game_pid=
  [ "$status" -eq "$1" ] || fail "the game ended with status $status, not $1"
}

box_gone() {
  local p
  for _ in $(seq 20); do
    local left=
    for p in $box; do running "$p" && left="$left $p"; done
    [ -z "$left" ] && return 0
    sleep 0.1
  done
  fail "the message box's processes$left outlived the game"
}

for signal in TERM:143 INT:130; do
  start_box
  kill -"${signal%:*}" "$game_pid"
  ends_with "${signal#*:}"
  box_gone
  grep -q "bad.rpl is not a replay file of this game" "$work/stderr.txt" || fail "the replay was not said on stderr"
done

start_box
kill -KILL "$game_pid"
wait "$game_pid" 2>/dev/null || true
game_pid=
box_gone

# Replay writes stopped half-way before this start are removed at start; a
# newer one (another game's write) and whole replays stay.
mkdir "$work/replays"
for name in 20200101-000000.rpl.new 20200101-000000.txt.new 20200101-000001.rpl 29990101-000000.rpl.new; do
  echo "part" >"$work/replays/$name"
done
touch -d '2 hours ago' "$work/replays/20200101-000000.rpl.new" "$work/replays/20200101-000000.txt.new"
touch -d '1 hour' "$work/replays/29990101-000000.rpl.new"
start_with
wait_for_title
kill -INT "$game_pid"
ends_with 130
[ "$(ls "$work/replays")" = $'20200101-000001.rpl\n29990101-000000.rpl.new' ] ||
  fail "replays/ holds $(ls "$work/replays" | tr '\n' ' ')"
echo "1 passed, 0 failed"
