#!/usr/bin/env bash
# End to end: the real program in a real X server. Waits through the logo
# intro and the title opening, takes screenshots with F6, leaves through
# "EXIT" and checks the settings file the game wrote, and that the game was
# gone soon after writing it (the goal is 300 ms; the check allows a loaded
# machine 1 s, where taking the sound and the window down one by one took 2).
# Usage: e2e_title.sh <nuvel binary> <game folder>
set -euo pipefail
source "$(dirname "$0")/tools/e2e_common.sh" "$1" "$2"

start_game
wait_for_title

key Down Down             # the second player's line
key Right Right           # MAN -> NON -> EASY COM
key F6
wait_for_file "$work/shot_001.png"
key Up Up Up              # up past START wraps round to EXIT
xdotool key Return        # no pause after it: the game's end is timed
expect_normal_exit
ended=$(date +%s%N)

[ -s "$work/option.txt" ] || { echo "option.txt was not written" >&2; exit 1; }
lingered_ms=$(((ended - $(stat -c %.9Y "$work/option.txt" | tr -d .)) / 1000000))
[ "$lingered_ms" -lt 1000 ] || { echo "the game ended $lingered_ms ms after saving its settings" >&2; exit 1; }
grep -q $'^GAME_WAIT=[0-9]*\r$' "$work/option.txt" || { echo "option.txt has no GAME_WAIT line" >&2; exit 1; }
grep -q $'^PLAYER_TYPE_2P=2\r$' "$work/option.txt" || { echo "the second player's type was not saved" >&2; exit 1; }
if [ -n "${NUVEL_E2E_KEEP:-}" ]; then cp "$work"/shot_*.png "$NUVEL_E2E_KEEP"/; fi
echo "1 passed, 0 failed"
