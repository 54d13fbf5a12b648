#!/usr/bin/env bash
# The installed game: installs this build into a fresh prefix, checks the
# installed files, and starts the installed program twice from an unrelated
# read-only folder in a real X server. Its data set comes from the prefix;
# its settings and screenshots go to the per-user folder, which the first
# start creates and the second finds with the settings of the first. The
# prefix and the starting folder must come out unchanged.
# Usage: install_game.sh <nuvel binary> <game folder>
set -euo pipefail
source "$(dirname "$0")/tools/e2e_common.sh" "$1" "$2"

fail() { echo "$*" >&2; exit 1; }

build=$(dirname "$nuvel")
[ -f "$build/cmake_install.cmake" ] || fail "no install rules in $build"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

for file in bin/nuvel share/tarnwick/Graphics/font.png share/tarnwick/Stage/stage.txt \
            share/tarnwick/Bgm/bgm.txt share/tarnwick/Sound/cur_ok.wav share/applications/tarnwick.desktop \
            share/icons/hicolor/64x64/apps/tarnwick.png share/icons/hicolor/256x256/apps/tarnwick.png; do
  [ -s "$prefix/$file" ] || fail "not installed: $file"
done
# Only the data set: nothing the game wrote into the build's game folder.
[ -z "$(find "$prefix/share/tarnwick" -maxdepth 1 -type f)" ] || fail "loose files in the installed data folder"
desktop=$prefix/share/applications/tarnwick.desktop
for line in 'Exec=nuvel' 'Icon=tarnwick' 'Type=Application' 'Categories=Game;ActionGame;'; do
  grep -qxF "$line" "$desktop" || fail "the menu entry lacks $line"
done
python3 - "$prefix/share/icons/hicolor" <<'PY' || fail "an icon is not a PNG of its folder's size"
import struct, sys
for size in (64, 256):
    with open(f"{sys.argv[1]}/{size}x{size}/apps/tarnwick.png", "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n" and struct.unpack(">II", head[16:24]) == (size, size)
PY

snapshot() { (cd "$1" && find . -printf '%p %s %m\n' | sort && find . -type f -exec sha256sum {} + | sort); }
prefix_before=$(snapshot "$prefix")

nuvel=$prefix/bin/nuvel
# First start: no per-user folder yet; XDG_DATA_HOME unset means ~/.local/share.
as_new_user
chmod 555 "$run_dir"
start_game
wait_for_title
key Down Down             # the second player's line
key Right Right           # MAN -> NON -> EASY COM
key F6
wait_for_file "$shot_dir/shot_001.png"
key Up Up Up              # up past START wraps round to EXIT
key Return
expect_normal_exit
grep -q $'^PLAYER_TYPE_2P=2\r$' "$shot_dir/option.txt" || fail "the settings did not reach $shot_dir"
[ "$(stat -c %a "$shot_dir")" = 700 ] || fail "the per-user folder is not private"

# Second start: an existing per-user folder under XDG_DATA_HOME, with the
# settings of the first start; they are read, kept and written back.
export XDG_DATA_HOME=$work/xdg
shot_dir=$XDG_DATA_HOME/tarnwick
mkdir -p "$shot_dir"
cp "$HOME/.local/share/tarnwick/option.txt" "$shot_dir/"
start_game
wait_for_title
key Up                    # START -> EXIT
key Return
expect_normal_exit
grep -q $'^PLAYER_TYPE_2P=2\r$' "$shot_dir/option.txt" || fail "the stored settings were not kept"
[ -s "$shot_dir/shot_000.png" ] || fail "no screenshot in $shot_dir"

[ -z "$(ls -A "$run_dir")" ] || fail "the game wrote into its working directory: $(ls -A "$run_dir")"
[ "$(snapshot "$prefix")" = "$prefix_before" ] || fail "the game changed the install prefix"
[ -z "$(find "$shot_dir" "$HOME" -name '*.new')" ] || fail "a half-written file was left behind"
echo "1 passed, 0 failed"
