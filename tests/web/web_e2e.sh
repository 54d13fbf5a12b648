#!/usr/bin/env bash
# The browser tests: the desktop build makes the references (its F6 pictures
# of the title and the options menu, under a private X server, and a replay
# recorded by its match runner), then tests/web/web_test.js drives the page
# in headless chromium against them.
# Usage: web_e2e.sh <nuvel binary> <game folder> <nuvel-sim binary> <site folder>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
sim=$(realpath "$3")
site=$(realpath "$4")
source "$here/../tools/e2e_common.sh" "$1" "$2"

# Two human seats, no items, the round's pace fixed: the page gets the same.
# Player 1 plays on keys of its own, named as the desktop names them.
printf 'GAME_WAIT=80\r\nITEM_MAX=0\r\nPLAYER_TYPE_1P=0\r\nPLAYER_TYPE_2P=0\r\nPLAYER_TYPE_3P=1\r\nPLAYER_TYPE_4P=1\r\n' \
  >"$work/option.txt"
printf 'KEYS_1P=Keypad 1,Keypad 2,[\r\n' >>"$work/option.txt"
ref=$work/ref
mkdir "$ref"
cp "$work/option.txt" "$ref/"

start_game
wait_for_title              # leaves shot_000.png; the opening has settled
# The title three times: its background moves, the rest stays (the figures
# tell the title by what the three share).
for n in 1 2 3; do
  key F6
  wait_for_file "$work/shot_00$n.png"
  sleep 0.$((2 * n))
done
cp "$work/shot_001.png" "$ref/title.png"
cp "$work/shot_002.png" "$ref/title-2.png"
cp "$work/shot_003.png" "$ref/title-3.png"
key Up Up Return            # OPTION
sleep 1
key F6
wait_for_file "$work/shot_004.png"
sleep 0.3
cp "$work/shot_004.png" "$ref/options.png"
key Escape                  # leaves the options menu, which saves the same settings
sleep 0.5
key Down Return             # EXIT
expect_normal_exit

# A round of two computer lines, recorded by the desktop's match runner.
"$sim" --game "$game" --seats normal,hard,non,non --rounds 1 --seed 7 --wait 80 --record "$work/rec" >/dev/null
cp "$work/rec/round-0001.rpl" "$ref/desktop.rpl"

# NUVEL_WEB_REF_KEEP: a folder that keeps the references (for web_figures.js).
if [ -n "${NUVEL_WEB_REF_KEEP:-}" ]; then mkdir -p "$NUVEL_WEB_REF_KEEP" && cp "$ref"/* "$NUVEL_WEB_REF_KEEP"/; fi
node "$here/web_test.js" "$site" "$ref" "$work" "$sim" "$game"
