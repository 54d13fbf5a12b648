#!/usr/bin/env bash
# The command line without a display: --help and --version print and end
# with 0 without opening a window (with no display a window could not
# open) and without making the per-user folder; an unknown option or a bad
# argument ends with 1 and a short message, and a replay that cannot be
# played is said on stderr. Started to play without a display (no X, no
# Wayland), the game says so and ends with 1 at once instead of running on
# unseen.
# Usage: e2e_cli.sh <nuvel binary> <game folder>
set -euo pipefail
nuvel=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-cli-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "$*" >&2; exit 1; }
cd "$work"
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER HOME="$work/home" XDG_DATA_HOME= "$nuvel" "$@"; }

help=$(run --help) || fail "--help ended with $?"
for option in --help --version --windowed --fullscreen --replay --host --join --several-seats --take; do
  grep -q -- "^  $option" <<<"$help" || fail "--help does not list $option"
done
[ "$(run --version)" = "Tarnwick 1.02A" ] || fail "--version printed $(run --version)"
[ ! -e "$work/home" ] || fail "--help or --version made the per-user folder"
status=0
run --no-such-option 2>"$work/err" >/dev/null || status=$?
[ "$status" -eq 1 ] || fail "an unknown option ended with $status"
grep -q -- "--no-such-option: unknown option" "$work/err" || fail "no message for an unknown option"
# Options that belong with another are refused without it, with a message.
for args in "--take 2" "--join localhost --watch --take 2" "--several-seats" "--join localhost --take 5"; do
  status=0
  run $args 2>"$work/err" >/dev/null || status=$?
  [ "$status" -eq 1 ] && [ -s "$work/err" ] || fail "'$args' ended with $status without a message"
done
# A bad argument is named, cut when it is long; a name must be given, and
# only for a match online.
long=$(printf 'x%.0s' $(seq 5000))
refused() {
  local status=0
  run "$@" 2>"$work/err" >/dev/null || status=$?
  [ "$status" -eq 1 ] || fail "'${*:0:80}' ended with $status"
  [ "$(wc -c <"$work/err")" -lt 200 ] || fail "'${*:0:80}' said $(wc -c <"$work/err") bytes"
}
refused --host -1
grep -q -- "--host cannot use '-1': it takes a port, 1 to 65535" "$work/err" || fail "--host -1: $(cat "$work/err")"
refused --host "$long"
refused "--$long"
refused --join "$long"
refused --name ""
refused --host --name ""
refused --name bob
grep -q -- "--name goes with --host or --join" "$work/err" || fail "--name alone: $(cat "$work/err")"
# A replay that cannot be played is said on stderr, also where no window opens.
echo "not a replay" >"$work/bad.rpl"
status=0
run --replay "$work/bad.rpl" 2>"$work/err" >/dev/null || status=$?
[ "$status" -eq 1 ] || fail "--replay of a bad file ended with $status"
grep -q "bad.rpl is not a replay file of this game" "$work/err" || fail "--replay of a bad file: $(cat "$work/err")"
# No display: the message and 1 well within two seconds.
mkdir "$work/game"
for entry in "$(realpath "$2")"/*; do ln -s "$entry" "$work/game/"; done
printf 'GAME_WAIT=80\r\n' >"$work/game/option.txt"
status=0
start=$(date +%s%N)
(cd "$work/game" && run_nodisplay() { env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER SDL_AUDIODRIVER=dummy \
  HOME="$work/home" XDG_DATA_HOME= timeout 10 "$nuvel"; } && run_nodisplay) >/dev/null 2>"$work/err" || status=$?
took=$((($(date +%s%N) - start) / 1000000))
[ "$status" -eq 1 ] || fail "without a display the game ended with $status after $took ms (124: it ran on)"
[ "$took" -lt 2000 ] || fail "without a display the game took $took ms to end"
grep -qx "Tarnwick: no display could be opened." "$work/err" || fail "without a display: $(cat "$work/err")"
echo "3 passed, 0 failed"
