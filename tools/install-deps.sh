#!/usr/bin/env bash
# Installs the Debian packages that building, playing and testing need.
# Does nothing when they are all present; works as root or through sudo.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libsdl2-dev libpng-dev libfluidsynth-dev libenet-dev timgm6mb-soundfont
  googletest libgtest-dev cppcheck clang-format
  xvfb xdotool xauth x11-utils python3 util-linux openbox
  clang libclang-rt-14-dev
  redis-server libhiredis-dev nftables iproute2
  # the browser build and its tests (tools/build-web.sh, tests/web/)
  emscripten node-acorn nodejs vorbis-tools chromium
)

# The browser build compiles libpng and zlib from Debian's source packages,
# which apt finds once a source list names the distribution's archive.
source_list=/etc/apt/sources.list.d/tarnwick-sources.sources
needs_sources() { ! grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; }

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && ! needs_sources && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
if needs_sources; then
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$codename" | "${sudo_cmd[@]}" tee "$source_list" >/dev/null
fi
"${sudo_cmd[@]}" apt-get update -q
[ ${#missing[@]} -eq 0 ] || "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
