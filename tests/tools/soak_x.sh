#!/usr/bin/env bash
# The real program in a private X server for a long run of matches between
# four HARD COM lines with every item, meteorites every 10 s and the cosmo
# explosion, worked through the menus by keys: Return every two seconds takes
# it from the round intro through the selector into a round and from the
# result screen to the next intro. Resident memory is sampled every minute.
# At the end the script waits for a result screen, leaves through the intro's
# EXIT and the title's EXIT, and checks the exit status and the settings file.
#   tests/tools/soak_x.sh NUVEL_BINARY GAME_DIR [MINUTES]   (default 30)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/e2e_common.sh" "$1" "$2"
minutes=${3:-30}
png="python3 $here/pngindex.py"

settings=$'GAME_WAIT=80\r\nITEM_MAX=3\r\nMETEORITE_ENABLE=1\r\nMETEORITE_TIME=10\r\nEXPLOTION_TYPE=1\r\nPLAYER_TYPE_1P=4\r\nPLAYER_TYPE_2P=4\r\nPLAYER_TYPE_3P=4\r\nPLAYER_TYPE_4P=4\r\n'
printf '%s' "$settings" >"$work/option.txt"

fail() { echo "$*" >&2; exit 1; }
rss() { awk '/^VmRSS:/ {print $2}' "/proc/$game_pid/status"; }

start_game
wait_for_title
key Return                          # START
shots=1
end=$((SECONDS + minutes * 60))
next_sample=$SECONDS
samples=()
while [ $SECONDS -lt $end ]; do
  kill -0 "$game_pid" 2>/dev/null || fail "the game ended during the soak"
  if [ $SECONDS -ge $next_sample ]; then
    samples+=("$(rss)")
    echo "minute $(( (SECONDS - end + minutes * 60) / 60 )): resident memory $(rss) KB"
    next_sample=$((next_sample + 60))
  fi
  xdotool key Return
  sleep 2
done

# Wait for a result screen (the field framed at row 32), then leave.
for _ in $(seq 120); do
  name=$(printf '%s/shot_%03d.png' "$work" "$shots")
  key F6
  wait_for_file "$name"
  sleep 0.2
  shots=$((shots + 1))
  if [ "$($png "$name" count 255 0 32 640 33)" -gt 600 ]; then break; fi
  sleep 1
done
key Return                          # NEXT ROUND
sleep 0.8
key Escape                          # intro: EXIT
sleep 0.8
key Up Return                       # title: EXIT
expect_normal_exit

echo "resident memory: first ${samples[0]} KB, after 2 minutes ${samples[2]:-?} KB, last ${samples[-1]} KB"
for line in GAME_WAIT=80 ITEM_MAX=3 METEORITE_ENABLE=1 METEORITE_TIME=10 EXPLOTION_TYPE=1 \
  PLAYER_TYPE_1P=4 PLAYER_TYPE_2P=4 PLAYER_TYPE_3P=4 PLAYER_TYPE_4P=4; do
  grep -q "^$line"$'\r$' "$work/option.txt" || fail "option.txt lost $line"
done
[ "$(tail -c 2 "$work/option.txt" | od -An -c | tr -d ' ')" = '\r\n' ] || fail "option.txt does not end with a whole line"
echo "settings file intact: $(wc -l <"$work/option.txt") lines"
kept=$(find "$work/replays" -name '*.rpl' 2>/dev/null | wc -l)
echo "replays kept: $kept"
[ "$kept" -ge 1 ] && [ "$kept" -le 20 ] || fail "expected 1 to 20 kept replays, found $kept"
echo "1 passed, 0 failed"
