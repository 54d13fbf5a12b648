# Screenshots of a game by its F6 key, for scripts that drive games in Xvfb.
# The sourcing script defines $work (each game's folder is $work/NAME), key
# NAME KEYS... (how a key reaches that game) and fail.

# try_shot NAME: takes the game's next screenshot and prints its path; false
# when none comes (the window is not there yet).
try_shot() {
  local file
  file=$(printf '%s/%s/shot_%03d.png' "$work" "$1" "$(ls "$work/$1" | grep -c '^shot_')")
  key "$1" F6
  for _ in $(seq 50); do [ -e "$file" ] && break; sleep 0.1; done
  [ -e "$file" ] || return 1
  sleep 0.2
  echo "$file"
}
shot() { try_shot "$1" || fail "no screenshot of $1"; }
