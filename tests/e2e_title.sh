#!/usr/bin/env bash
# End to end: the real program in a real X server. Waits through the logo
# intro and the title opening, takes screenshots with F6, leaves through
# "EXIT" and checks the settings file the game wrote.
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
key Return
expect_normal_exit

[ -s "$work/option.txt" ] || { echo "option.txt was not written" >&2; exit 1; }
grep -q $'^GAME_WAIT=[0-9]*\r$' "$work/option.txt" || { echo "option.txt has no GAME_WAIT line" >&2; exit 1; }
grep -q $'^PLAYER_TYPE_2P=2\r$' "$work/option.txt" || { echo "the second player's type was not saved" >&2; exit 1; }
if [ -n "${NUVEL_E2E_KEEP:-}" ]; then cp "$work"/shot_*.png "$NUVEL_E2E_KEEP"/; fi
echo "1 passed, 0 failed"
