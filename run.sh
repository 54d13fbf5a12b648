#!/usr/bin/env bash
# Installs what is missing, builds the game and its data set, and starts it
# in its game folder.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DNUVEL_TESTS=OFF
cmake --build build
cd build/game
exec ../nuvel
