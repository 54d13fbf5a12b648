#!/usr/bin/env bash
# Online play under faults, a reduced run of tests/tools/online_figures.sh
# (real games in Xvfb through impairing relays on loopback, and the probe):
# 20 joins at 3% loss; connections that never say hello and a 30 MB packet
# (the host's memory stays, a real join gets in) and false state digests from
# a playing and a watching machine (both let go, the others' round ends the
# same and every replay verifies); a joining game stopped for 0.5, 1.5 and
# 3 s mid-round (never frozen, told why when dropped, joins again); a killed
# joining game and a killed host noticed within 3 s on both lossy link kinds,
# whose watching games stay joined through all of it. Under the sanitizers
# the games run slower and the timings mean little: there it runs the
# hostile machines and the stalls only, and the memory goal allows for the
# sanitizer's own bookkeeping (its allocator keeps freed memory aside for a
# while, about a megabyte in 5 s here). Exit 77 (skipped) when a tool is missing.
# Usage: e2e_online_faults.sh <nuvel binary> <game folder>
set -euo pipefail
figures=$(dirname "$0")/tools/online_figures.sh
# (The whole of ldd's answer is read first: grep -q would stop reading at the
# first match, and ldd, cut off, would fail the pipe.)
if [[ "$(ldd "$1" 2>/dev/null)" == *libasan* ]]; then
  exec bash "$figures" "$1" "$2" --hostile --hostile-seconds 4 --memory-goal-kb 8192 --stalls 1 --wait 80
fi
exec bash "$figures" "$1" "$2" --joins 20 --hostile --hostile-seconds 5 --stalls 1 --kills 1 --wait 80
