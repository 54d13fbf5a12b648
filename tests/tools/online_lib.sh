# Shared by the online end-to-end scripts: machines (each a game in its own
# folder and X server), impairing relays, the measuring probe, screenshots,
# and what a process uses. Source it with the game binary and folder in $1
# and $2; the probe and the runner are found beside the game binary.
#
# Everything started here ends with the script: on any exit the games, the
# relays, the probes and the X servers are stopped and waited for, and the
# folder ($work, in $TMPDIR) is removed. Should the script be killed outright,
# the games and X servers get a signal from the kernel (setpriv --pdeathsig).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
for tool in Xvfb xdotool python3 setpriv; do command -v "$tool" >/dev/null || { echo "missing $tool"; exit 77; }; done
nuvel=$(realpath "$1")
game=$(realpath "$2")
sim=$(realpath "$(dirname "$nuvel")/tools/sim/nuvel-sim")
probe=$(realpath "${NUVEL_NETPROBE:-$(dirname "$nuvel")/tests/nuvel-netprobe}")
work=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-online-XXXXXX")
declare -A display pid
children=()
xservers=()

source "$here/processes.sh"
cleanup() {
  set +e
  for name in "${!pid[@]}"; do stop_child "${pid[$name]}"; done
  for child in "${children[@]}"; do stop_child "$child"; done
  for x in "${xservers[@]}"; do stop_child "$x"; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
fail() { echo "$*" >&2; for f in "$work"/*.err; do echo "== $f"; tail -n 40 "$f"; done >&2; exit 1; }

# A machine: its folder (the game data and a fresh place for what it writes)
# and its X server. WAIT sets the round's speed (80 unless given).
machine() {  # machine NAME [WAIT]
  local name=$1 wait=${2:-80}
  mkdir "$work/$name"
  for entry in "$game"/*; do ln -s "$entry" "$work/$name/"; done
  printf 'GAME_WAIT=%s\r\nITEM_MAX=3\r\n' "$wait" >"$work/$name/option.txt"
  setpriv --pdeathsig TERM Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -nolisten unix \
    3>"$work/$name.display" >"$work/$name.xvfb" 2>&1 &
  xservers+=($!)
  for _ in $(seq 100); do [ -s "$work/$name.display" ] && break; sleep 0.1; done
  [ -s "$work/$name.display" ] || fail "the X server of $name did not start"
  display[$name]=:$(cat "$work/$name.display")
}
start() {  # start NAME ARGS...: the game, in the machine's folder and X server
  local name=$1
  shift
  (cd "$work/$name" && DISPLAY=${display[$name]} SDL_AUDIODRIVER=dummy exec setpriv --pdeathsig KILL \
    "$nuvel" "$@" 2>>"$work/$name.err") &
  pid[$name]=$!
}
killed() {  # killed NAME: kills the game at once and forgets it
  kill -KILL "${pid[$1]}" 2>/dev/null
  wait "${pid[$1]}" 2>/dev/null || true
  unset "pid[$1]"
}
key() { local name=$1; shift; DISPLAY=${display[$name]} xdotool key --delay 120 "$@"; sleep 0.2; }
source "$here/shots.sh"
picture_state() {  # picture_state NAME: moves, stands still, or cannot be taken
  local a b
  a=$(try_shot "$1") && sleep 1 && b=$(try_shot "$1") || { echo "cannot be taken (F6 does nothing)"; return; }
  python3 "$here/pngsame.py" 0 0 640 480 "$a" "$b" >/dev/null 2>&1 && echo "stands still" || echo "moves"
}
# Whether the picture moves: two screenshots a second apart differ (a menu's
# background scrolls, a round runs); a frozen picture stays the same.
moving() { [ "$(picture_state "$1")" = moves ]; }
wait_title() {  # wait_title NAME: the logo intro and the opening are over
  local f
  for _ in $(seq 60); do
    if f=$(try_shot "$1"); then
      [ "$(stat -c %s "$f")" -gt 10000 ] && { sleep 1; return 0; }
      rm -f "$f"
    fi
    sleep 0.5
  done
  fail "$1 showed no picture"
}
replays() { ls "$work/$1/replays" 2>/dev/null | grep -c '\.rpl$' || true; }
# The name of the newest replay ("" for none): the game keeps only the newest
# 20, so a round's end is a new name rather than one file more.
newest_replay() { ls -t "$work/$1/replays" 2>/dev/null | grep -m1 '\.rpl$' || true; }
wait_new_replay() {  # wait_new_replay NAME BEFORE SECONDS: a round ended after the one named BEFORE
  for _ in $(seq $((10 * $3))); do [ "$(newest_replay "$1")" != "$2" ] && return 0; sleep 0.1; done
  fail "$1 ended no round in $3 s; its picture $(picture_state "$1")"
}
wait_replays() {  # wait_replays NAME COUNT SECONDS: a round ends by saving its replay
  for _ in $(seq $((10 * $3))); do [ "$(replays "$1")" -ge "$2" ] && return 0; sleep 0.1; done
  fail "$1 has $(replays "$1") replays, not $2"
}
# Waits until a line matching PATTERN is in FILE (counting only lines after
# the first SKIP); prints the milliseconds since SINCE (date +%s%N; now
# unless given). Fails after SECONDS.
wait_line() {  # wait_line FILE PATTERN SECONDS [SKIP [SINCE]]
  local started now skip=${4:-0}
  started=${5:-$(date +%s%N)}
  while :; do
    tail -n +$((skip + 1)) "$1" 2>/dev/null | grep -q -- "$2" && break
    now=$(date +%s%N)
    [ $(((now - started) / 1000000)) -gt $(($3 * 1000)) ] && return 1
    sleep 0.05
  done
  now=$(date +%s%N)
  echo $(((now - started) / 1000000))
}
lines() { wc -l <"$1" 2>/dev/null || echo 0; }
# An impairing relay on loopback; its options are udp_relay.py's.
relay() {  # relay LISTEN_PORT TARGET_PORT OPTIONS...
  python3 "$here/udp_relay.py" "$@" &
  children+=($!)
}
# What a process uses: resident memory in kB, CPU time in ms.
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
cpu_ms() { awk -v hz="$(getconf CLK_TCK)" '{print int(($14 + $15) * 1000 / hz)}' "/proc/$1/stat"; }
