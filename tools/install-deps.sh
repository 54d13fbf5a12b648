#!/usr/bin/env bash
# Installs the Debian packages that building, playing and testing need.
# Does nothing when they are all present; works as root or through sudo.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libsdl2-dev libpng-dev libfluidsynth-dev libenet-dev timgm6mb-soundfont
  googletest libgtest-dev cppcheck clang-format
  xvfb xdotool xauth python3 util-linux openbox
  clang libclang-rt-14-dev
  redis-server libhiredis-dev nftables iproute2
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
