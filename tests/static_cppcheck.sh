#!/usr/bin/env bash
# Static analysis of the game's sources beside the tests: any warning fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cppcheck --quiet --error-exitcode=1 --enable=warning,performance,portability --std=c++20 \
  --suppress=missingReturn:app/startup.cpp --inline-suppr -I . \
  app core graphics sound net match items computer replay online config screens platform server tools
echo "1 passed, 0 failed"
