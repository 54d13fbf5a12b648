#!/usr/bin/env bash
# The Debian package installed for real: apt installs it with its
# dependencies, the program the menu entry names is started in a private X
# server by a user without a game folder, reaches the title and leaves through
# EXIT, keeping its settings in the per-user folder; then the package is
# purged again. It changes the system, so it runs only as root and only when
# NUVEL_SYSTEM_INSTALL_TEST=1 (CI sets it); otherwise it reports a skip.
# Usage: install_system.sh <nuvel binary> <game folder>
set -euo pipefail

if [ "$(id -u)" != 0 ] || [ "${NUVEL_SYSTEM_INSTALL_TEST:-}" != 1 ] || ! command -v apt-get >/dev/null; then
  echo "skipped: installs system-wide only as root with NUVEL_SYSTEM_INSTALL_TEST=1"
  exit 77
fi
fail() { echo "$*" >&2; exit 1; }
dpkg -s tarnwick >/dev/null 2>&1 && fail "a tarnwick package is already installed here; it is left alone"

build=$(realpath "$(dirname "$1")")
[ -f "$build/CPackConfig.cmake" ] || fail "no package rules in $build"
debdir=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-sysdeb-XXXXXX")
purge() {
  if dpkg -s tarnwick >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y tarnwick >/dev/null 2>&1 || true
  fi
  rm -rf "$debdir"
}
# From here on the package and the folder go on any exit.
trap purge EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
cpack --config "$build/CPackConfig.cmake" -B "$debdir" >"$debdir/cpack.log" 2>&1 || { cat "$debdir/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$debdir"/*.deb)

DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$deb" >"$debdir/apt.log" 2>&1 ||
  { tail -20 "$debdir/apt.log" >&2; purge; fail "apt could not install the package"; }
dpkg -s tarnwick | grep -qx 'Status: install ok installed' || { purge; fail "the package is not installed"; }
echo "package $(basename "$deb"): $(stat -c %s "$deb") bytes, installed size $(dpkg -s tarnwick | sed -n 's/^Installed-Size: //p') KB"

# The match server comes with its service, which nothing enabled.
/usr/bin/nuvel-server --version >/dev/null || { purge; fail "the installed match server does not start"; }
[ ! -e /etc/systemd/system/multi-user.target.wants/nuvel-server.service ] || { purge; fail "the service was enabled"; }
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify --man=no /usr/lib/systemd/system/nuvel-server.service >"$debdir/unit.log" 2>&1 ||
    { cat "$debdir/unit.log" >&2; purge; fail "the service's unit does not verify"; }
fi

# Started as the desktop menu starts it: the entry's command, found on PATH.
command=$(sed -n 's/^Exec=//p' /usr/share/applications/tarnwick.desktop)
program=$(command -v "$command") || { purge; fail "the menu entry's command '$command' is not on PATH"; }

cleanup_script() { purge; }
source "$(dirname "$0")/tools/e2e_common.sh" "$program" /usr/share/tarnwick
as_new_user
start_game
wait_for_title
key Down Down Right       # the second player's line: MAN -> NON
key Up Up Up              # up past START wraps round to EXIT
key Return
expect_normal_exit
grep -q $'^PLAYER_TYPE_2P=1\r$' "$shot_dir/option.txt" || fail "the settings did not reach $shot_dir"
[ -z "$(ls -A "$run_dir")" ] || fail "the game wrote into its working directory"

purge
[ ! -e /usr/bin/nuvel ] && [ ! -e /usr/bin/nuvel-server ] && [ ! -e /usr/share/tarnwick ] ||
  fail "purging the package left files behind"
echo "1 passed, 0 failed"
