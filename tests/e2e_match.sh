#!/usr/bin/env bash
# End to end: a round between two human players in the real program in a real
# X server. From the title: START, the round intro, the selector (stage FOUR
# PILLARS, whose starts are fixed), the countdown and the round; player 1
# steers into the top border, player 2 wins; the result screen, NEXT ROUND,
# the intro of round 2, EXIT, and the title's EXIT. Screenshots taken with F6
# are read back for what the game drew.
# Usage: e2e_match.sh <nuvel binary> <game folder>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/tools/e2e_common.sh" "$1" "$2"
png="python3 $here/tools/pngindex.py"

# Two human players, no items (so nothing but the border ends the round).
printf 'GAME_WAIT=80\r\nITEM_MAX=0\r\nPLAYER_TYPE_1P=0\r\nPLAYER_TYPE_2P=0\r\nPLAYER_TYPE_3P=1\r\nPLAYER_TYPE_4P=1\r\n' \
  >"$work/option.txt"

fail() { echo "$*" >&2; exit 1; }
shot() {  # takes the next screenshot and prints its name
  local name
  name=$(printf '%s/shot_%03d.png' "$work" "$1")
  key F6
  wait_for_file "$name" >&2 || exit 1
  sleep 0.2
  echo "$name"
}
count() { $png "$@"; }

start_game
wait_for_title

key Return                  # START
sleep 0.5
key Return                  # round intro: OK NEXT
sleep 0.5
key Down Down Right         # selector: the stage line, FOUR PILLARS
key Up Up                   # back to NORMAL GAME START
key Return
sleep 3.9                   # the countdown: 3, 2, 1, START
# Player 1 turns up at once and runs into the top border; player 2 goes on
# left and meets nothing for a few seconds.
key q
sleep 0.3
round=$(shot 1)

# The round: the status line above the outline at row 16, two trails in the
# players' colours (28 and 44) on the field, the two panels below.
[ "$(count "$round" count 255 0 16 640 17)" -eq 640 ] || fail "no playfield outline at row 16"
[ "$(count "$round" count 28 1 17 639 431)" -gt 20 ] || fail "no trail of player 1"
[ "$(count "$round" count 44 1 17 639 431)" -gt 20 ] || fail "no trail of player 2"

sleep 2
result=$(shot 2)

# The result screen shows the final field 16 rows lower, with both trails,
# and player 2 as the winner: the banner "2P WIN" is drawn on player 2's
# text colour cells, which the draw banner does not use.
[ "$(count "$result" count 255 0 32 640 33)" -gt 600 ] || fail "the result screen does not show the field at row 32"
[ "$(count "$result" count 255 0 16 640 17)" -lt 320 ] || fail "the result screen still shows the round's outline"
[ "$(count "$result" count 28 1 33 639 447)" -gt 20 ] || fail "player 1's trail is missing on the result screen"
[ "$(count "$result" count 44 1 33 639 447)" -gt 20 ] || fail "player 2's trail is missing on the result screen"
# The generated font's colour cells: 80..87 for text colour 0, 88..95 for 1.
[ "$(count "$result" inrange 88 95 128 80 512 144)" -gt 5000 ] || fail "the banner is not player 2's"
[ "$(count "$result" inrange 80 87 128 80 512 144)" -lt 100 ] || fail "the banner shows player 1's colour"

key Return                  # NEXT ROUND
sleep 0.5
intro=$(shot 3)
[ "$(count "$intro" count 255 0 32 640 33)" -lt 100 ] || fail "the round intro did not follow the results"
key Escape                  # intro: EXIT, back to the title
sleep 0.8
key Up Return               # title: EXIT
expect_normal_exit
grep -q $'^PLAYER_TYPE_3P=1\r$' "$work/option.txt" || fail "option.txt was not written on EXIT"
if [ -n "${NUVEL_E2E_KEEP:-}" ]; then cp "$work"/shot_*.png "$NUVEL_E2E_KEEP"/; fi
echo "1 passed, 0 failed"
