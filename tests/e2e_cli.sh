#!/usr/bin/env bash
# The command line without a display: --help and --version print and end
# with 0 without opening a window (with no display a window could not
# open) and without making the per-user folder; an unknown option ends
# with 1 and a message.
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
echo "1 passed, 0 failed"
