# Shared by the end-to-end scripts: a fresh folder beside the game data, a
# private X server, the game started in it, keys and the wait for the title.
# Source it with the game binary and folder in $1 and $2.
#
# Everything the script starts ends with it: on any exit (also after a failed
# check, Ctrl-C or SIGTERM) the game and the X server are stopped and waited
# for and the folder is removed. Should the script itself be killed outright
# (SIGKILL, where no trap runs), both get a signal from the kernel as their
# parent dies (setpriv --pdeathsig). The X server picks a free display itself
# (-displayfd) and listens only on Linux's abstract socket, so a server killed
# outright leaves no socket or lock file in /tmp either. The folder is made in
# $TMPDIR (CTest gives every test run its own, which it checks afterwards).

nuvel=$(realpath "$1")
game=$(realpath "$2")

for tool in Xvfb xdotool python3 setpriv; do
  if ! command -v "$tool" >/dev/null; then
    echo "missing $tool (tools/install-deps.sh installs it)" >&2
    exit 1
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-e2e-XXXXXX")
game_pid=
xvfb_pid=

source "$(dirname "${BASH_SOURCE[0]}")/processes.sh"
# Ends the game, if it runs, and the X server (start_x), and waits for both;
# the next start_x starts a fresh server.
stop_x() {
  [ -z "$game_pid" ] || stop_child "$game_pid"
  [ -z "$xvfb_pid" ] || stop_child "$xvfb_pid"
  game_pid=
  xvfb_pid=
}
# A script that has more to undo defines cleanup_script before sourcing this.
cleanup() {
  set +e
  stop_x
  rm -rf "$work"
  if declare -F cleanup_script >/dev/null; then cleanup_script; fi
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# The game folder's data, with a fresh place for the files the game writes.
for entry in "$game"/*; do ln -s "$entry" "$work/"; done
# Where the game is started, and where its screenshots land; a script may
# point them elsewhere before starting the game.
run_dir=$work
shot_dir=$work
# The X screen's size and depth; a script may set another before start_x.
x_screen=640x480x24

# An installed game started by a user who has never run it: a fresh home
# without XDG_DATA_HOME, started from an unrelated folder ($run_dir). Its
# files land in the per-user folder, $shot_dir.
as_new_user() {
  run_dir=$work/elsewhere
  mkdir "$run_dir"
  export HOME=$work/home
  mkdir "$HOME"
  unset XDG_DATA_HOME
  shot_dir=$HOME/.local/share/tarnwick
}

# The private X server, started once; a second start_game reuses it.
start_x() {
  [ -n "$xvfb_pid" ] && return 0
  setpriv --pdeathsig TERM Xvfb -displayfd 3 -screen 0 "$x_screen" -nolisten tcp -nolisten unix \
    3>"$work/x-display" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do  # the number is written once the server takes connections
    [ -n "$(cat "$work/x-display")" ] && break
    running "$xvfb_pid" || break
    sleep 0.1
  done
  display=:$(cat "$work/x-display")
  if [ "$display" = : ]; then
    echo "the X server did not start" >&2
    cat "$work/xvfb.log" >&2
    exit 1
  fi
  export DISPLAY=$display
}

start_game() {
  start_x
  [ -z "$game_pid" ] || { echo "the game is already running" >&2; exit 1; }
  (cd "$run_dir" && SDL_AUDIODRIVER=dummy exec setpriv --pdeathsig KILL "$nuvel" 2>"$work/stderr.txt") &
  game_pid=$!
}

key() { xdotool key --delay 120 "$@"; sleep 0.3; }

wait_for_file() {
  for _ in $(seq 100); do [ -e "$1" ] && return 0; sleep 0.1; done
  echo "no $1" >&2
  return 1
}

# The logo intro, the first-run calibration and the title opening take a
# while: take screenshots until one shows more than a nearly black screen (a
# dark frame compresses to a small file), then let the opening finish.
# Leaves shot_000.png, the first bright one.
# A game that ends meanwhile, or that never gets there, is reported with what
# it printed and the windows it has open (a message box, say), so that a
# failure seen only on a loaded machine can be told apart from a slow start.
wait_for_title() {
  local status=0
  for _ in $(seq 90); do
    if ! running "$game_pid"; then
      wait "$game_pid" || status=$?
      game_pid=
      echo "the game ended with status $status before its title screen" >&2
      cat "$work/stderr.txt" >&2
      return 1
    fi
    key F6
    sleep 0.7
    [ -e "$shot_dir/shot_000.png" ] || continue
    if [ "$(stat -c %s "$shot_dir/shot_000.png")" -gt 10000 ]; then
      sleep 4
      return 0
    fi
    rm -f "$shot_dir/shot_000.png"
  done
  echo "the title screen never appeared; the game printed:" >&2
  cat "$work/stderr.txt" >&2
  echo "its windows: $(xdotool search --pid "$game_pid" --name '' getwindowname %@ 2>/dev/null | tr '\n' '|')" >&2
  return 1
}

# Waits for the game to end; fails unless it ended with status 0.
expect_normal_exit() {
  local status=0
  wait "$game_pid" || status=$?
  game_pid=
  if [ "$status" -ne 0 ]; then
    echo "the game ended with status $status" >&2
    cat "$work/stderr.txt" >&2
    exit 1
  fi
}
