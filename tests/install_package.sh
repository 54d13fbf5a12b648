#!/usr/bin/env bash
# The Debian package: builds it with cpack from this build into a scratch
# folder and checks its control fields and its files. It is not installed.
# Usage: install_package.sh <nuvel binary> <game folder>
set -euo pipefail

fail() { echo "$*" >&2; exit 1; }
command -v dpkg-deb >/dev/null || fail "missing dpkg-deb"

build=$(realpath "$(dirname "$1")")
[ -f "$build/CPackConfig.cmake" ] || fail "no package rules in $build"
out=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-deb-XXXXXX")
trap 'rm -rf "$out"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log" >&2; fail "cpack failed"; }
debs=("$out"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -s "${debs[0]}" ] || fail "cpack made no single package"
deb=${debs[0]}

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tarnwick ] || fail "package name: $(field Package)"
[ "$(field Section)" = games ] || fail "section: $(field Section)"
[ -n "$(field Version)" ] && [ -n "$(field Maintainer)" ] && [ -n "$(field Description)" ] ||
  fail "a required control field is empty"
depends=$(field Depends)
for dep in 'libsdl2-2\.0-0' 'libpng16-16' 'libfluidsynth3' 'libenet7' 'libhiredis0\.14' \
           'timgm6mb-soundfont \| fluid-soundfont-gm'; do
  grep -Eq "(^|, )$dep( \(|,|$)" <<<"$depends" || fail "Depends lacks $dep: $depends"
done

listing=$(dpkg-deb -c "$deb")
for file in usr/bin/nuvel usr/bin/nuvel-server usr/lib/systemd/system/nuvel-server.service \
            usr/share/tarnwick/Graphics/font.png usr/share/tarnwick/Stage/stage.txt \
            usr/share/tarnwick/Bgm/bgm.txt usr/share/applications/tarnwick.desktop \
            usr/share/icons/hicolor/64x64/apps/tarnwick.png usr/share/icons/hicolor/256x256/apps/tarnwick.png; do
  grep -q " \./$file\$" <<<"$listing" || fail "the package lacks /$file"
done
grep -q '^-rwxr-xr-x root/root .* \./usr/bin/nuvel$' <<<"$listing" || fail "the program is not an executable owned by root"
! grep -v ' root/root ' <<<"$listing" | grep -q . || fail "files not owned by root"
! grep -Eq '/(option\.txt|option\.dat|shot_[0-9]+\.png)$' <<<"$listing" || fail "the package holds files a game run wrote"
! grep -Eq ' \./(home|root|tmp|work)/' <<<"$listing" || fail "the package holds files outside /usr"

# The match server's service comes disabled: nothing enables it on install.
! grep -q ' \./etc/' <<<"$listing" || fail "the package holds files in /etc"
if dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -Eq '(postinst|preinst)$'; then
  dpkg-deb --ctrl-tarfile "$deb" | tar -xO --wildcards '*inst' | grep -q 'systemctl\|deb-systemd' &&
    fail "a maintainer script enables the service"
fi
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/system/nuvel-server.service >"$out/unit"
grep -qx 'ExecStart=/usr/bin/nuvel-server $NUVEL_SERVER_OPTIONS' "$out/unit" || fail "the service does not start the server"
[ "$(field Suggests)" = redis-server ] || fail "Suggests: $(field Suggests)"

# The menu entry as the package carries it.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/applications/tarnwick.desktop >"$out/tarnwick.desktop"
for line in 'Exec=nuvel' 'Icon=tarnwick' 'Categories=Game;ActionGame;'; do
  grep -qxF "$line" "$out/tarnwick.desktop" || fail "the menu entry lacks $line"
done
echo "1 passed, 0 failed"
