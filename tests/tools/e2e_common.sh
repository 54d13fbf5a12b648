# Shared by the end-to-end scripts: a fresh folder beside the game data, a
# private X server, the game started in it, keys and the wait for the title.
# Source it with the game binary and folder in $1 and $2 and the first
# display number of the script's own range in $3 (tests run in parallel).

nuvel=$(realpath "$1")
game=$(realpath "$2")

for tool in Xvfb xdotool python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "missing $tool (tools/install-deps.sh installs it)" >&2
    exit 1
  fi
done

work=$(mktemp -d /tmp/nuvel-e2e-XXXXXX)
display=:$(($3 + RANDOM % 400))
cleanup() {
  [ -n "${game_pid:-}" ] && kill "$game_pid" 2>/dev/null || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The game folder's data, with a fresh place for the files the game writes.
for entry in "$game"/*; do ln -s "$entry" "$work/"; done
# Where the game is started, and where its screenshots land; a script may
# point them elsewhere before starting the game.
run_dir=$work
shot_dir=$work

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

# The X server is started once: a second start_game (install_game.sh starts
# the game twice) reuses it. Starting another on the same display failed, and
# its pid replaced the running server's, which the clean-up then never ended.
start_game() {
  if [ -z "${xvfb_pid:-}" ]; then
    Xvfb "$display" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=$display
    for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
  fi
  (cd "$run_dir" && SDL_AUDIODRIVER=dummy exec "$nuvel" 2>"$work/stderr.txt") &
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
wait_for_title() {
  for _ in $(seq 60); do
    key F6
    sleep 0.7
    [ -e "$shot_dir/shot_000.png" ] || continue
    if [ "$(stat -c %s "$shot_dir/shot_000.png")" -gt 10000 ]; then
      sleep 4
      return 0
    fi
    rm -f "$shot_dir/shot_000.png"
  done
  echo "the title screen never appeared" >&2
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
