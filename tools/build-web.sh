#!/usr/bin/env bash
# Builds the browser version of the game into build-web/site/: index.html,
# nuvel.js, nuvel.wasm, nuvel.data (the data set) and music/ (the pieces
# rendered by the desktop's own synthesizer). Any static web server serves
# the folder; see the README.
#
# With NUVEL_WEB_BENCH=1 it also builds the desktop's round benchmark as a
# page of its own (build-web/bench/), for the figures.
#
# Everything it makes is kept under build-web/ and made again only when its
# inputs change: the desktop build that generates the data set and renders
# the music (build-web/host, or the folder NUVEL_HOST_BUILD names), libpng and
# zlib compiled from Debian's sources (build-web/deps), the rendered music
# (build-web/music) and the browser build itself (build-web/wasm).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build-web
host=${NUVEL_HOST_BUILD:-$out/host}
jobs=$(nproc)
./tools/install-deps.sh

# emcc's JavaScript optimiser needs acorn, which Debian keeps here.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
mkdir -p "$out"

# ---- the desktop build: the data set and the music renderer -------------------
if [ ! -f "$host/CMakeCache.txt" ]; then
  cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNUVEL_TESTS=OFF
fi
cmake --build "$host" -j "$jobs" --target nuvel-gamedata nuvel-render-music

# ---- libpng and zlib for the browser, from Debian's source packages ----------------
deps=$out/deps
if [ ! -f "$deps/lib/libpng.a" ] || [ ! -f "$deps/lib/libz.a" ]; then
  src=$out/src
  rm -rf "$src" "$deps"
  mkdir -p "$src" "$deps/lib" "$deps/include"
  (cd "$src" && apt-get source --download-only zlib libpng1.6 >/dev/null)
  tar -xf "$src"/zlib_*.orig.tar.* -C "$src"
  tar -xf "$src"/libpng1.6_*.orig.tar.* -C "$src"
  zsrc=$(find "$src" -maxdepth 1 -type d -name 'zlib-*' | head -1)
  psrc=$(find "$src" -maxdepth 1 -type d -name 'libpng-*' | head -1)
  cp "$psrc/scripts/pnglibconf.h.prebuilt" "$psrc/pnglibconf.h"
  build_lib() { # name source-folder files...
    local name=$1 dir=$2 objs=()
    shift 2
    for f in "$@"; do
      emcc -O2 -I"$zsrc" -I"$psrc" -c "$dir/$f" -o "$deps/${name}_${f%.c}.o"
      objs+=("$deps/${name}_${f%.c}.o")
    done
    emar rcs "$deps/lib/lib$name.a" "${objs[@]}"
    rm -f "${objs[@]}"
  }
  # zlib without its gz* file functions, which libpng does not use.
  build_lib z "$zsrc" adler32.c compress.c crc32.c deflate.c infback.c inffast.c inflate.c inftrees.c trees.c \
    uncompr.c zutil.c
  build_lib png "$psrc" png.c pngerror.c pngget.c pngmem.c pngpread.c pngread.c pngrio.c pngrtran.c \
    pngrutil.c pngset.c pngtrans.c pngwio.c pngwrite.c pngwtran.c pngwutil.c
  cp "$zsrc/zlib.h" "$zsrc/zconf.h" "$psrc/png.h" "$psrc/pngconf.h" "$psrc/pnglibconf.h" "$deps/include/"
fi

# ---- the music, rendered once per set of pieces and sound font --------------------
game=$host/game
music=$out/music
font=$(readlink -f /usr/share/sounds/sf2/default-GM.sf2 2>/dev/null || true)
key=$( (cat "$game"/Bgm/*.mid; [ -n "$font" ] && sha256sum "$font"; sha256sum "$host/tools/nuvel-render-music") |
  sha256sum | cut -d' ' -f1)
if [ "$(cat "$music/key" 2>/dev/null)" != "$key" ]; then
  rm -rf "$music"
  mkdir -p "$music/ogg"
  "$host/tools/nuvel-render-music" "$game" "$music"
  for wav in "$music"/*.wav; do
    oggenc -Q -q 1 "$wav" -o "$music/ogg/$(basename "${wav%.wav}").ogg"
  done
  rm -f "$music"/*.wav
  echo "$key" >"$music/key"
fi
# The page relinks when the data set or the music changes.
stamp=$out/data.stamp
if [ ! -f "$stamp" ] || [ -n "$(find "$game" "$music/music.txt" -newer "$stamp" -print -quit)" ]; then
  touch "$stamp"
fi

# ---- the browser build --------------------------------------------------------------
emcmake cmake -S . -B "$out/wasm" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNUVEL_TESTS=OFF -DNUVEL_WERROR=ON \
  -DNUVEL_WEB_DEPS="$deps" -DNUVEL_WEB_GAME="$game" -DNUVEL_WEB_MUSIC="$music/music.txt" \
  -DNUVEL_WEB_STAMP="$stamp" >/dev/null
targets=(nuvel)
[ -n "${NUVEL_WEB_BENCH:-}" ] && targets+=(nuvel-bench-round)
cmake --build "$out/wasm" -j "$jobs" --target "${targets[@]}"

site=$out/site
rm -rf "$site"
mkdir -p "$site/music"
cp platform/web/index.html "$out/wasm/nuvel.js" "$out/wasm/nuvel.wasm" "$out/wasm/nuvel.data" "$site/"
cp "$music"/ogg/*.ogg "$site/music/"
# With NUVEL_WEB_BENCH=1, the round benchmark's page as well (tests/web/web_figures.js).
if [ -n "${NUVEL_WEB_BENCH:-}" ]; then
  mkdir -p "$out/bench"
  cp tests/web/bench.html "$out/bench/index.html"
  cp "$out"/wasm/nuvel-bench-round.{js,wasm,data} "$out/bench/"
fi
echo "The page is in $site ($(du -sh "$site" | cut -f1)); serve it with: (cd $site && python3 -m http.server)"
