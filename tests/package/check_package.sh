#!/usr/bin/env bash
# Builds the Debian package from a built tree and checks it as a user would meet it: lintian
# without errors, everything a desktop needs in its file list, valid desktop entry and metainfo,
# and the programs of the unpacked package running.  Usage: check_package.sh <build-dir>
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || fail "cpack: $(tail -n 5 "$work/cpack.log")"
debs=("$work"/out/tarnwick_*_amd64.deb)
[ -f "${debs[0]}" ] || fail "no tarnwick_<version>_amd64.deb in $(ls "$work/out")"
deb=${debs[0]}
lintian --fail-on error "$deb" 2>/dev/null || fail "lintian reports errors"

depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6core6 qt6-qpa-plugins aspell-en; do
  grep -q "$package" <<<"$depends" || fail "the package does not depend on $package"
done
dpkg-deb -x "$deb" "$work/root"
root=$work/root/usr
id=org.tarnwick.Tarnwick
expected=(bin/tarnwick bin/tarnwick-backend "share/applications/$id.desktop"
  "share/metainfo/$id.metainfo.xml" "share/icons/hicolor/scalable/apps/$id.svg"
  share/man/man1/tarnwick.1.gz share/man/man1/tarnwick-backend.1.gz
  share/tarnwick/HotkeysResources.bundle/en.json share/doc/tarnwick/copyright)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("share/icons/hicolor/${size}x$size/apps/$id.png")
done
for file in "${expected[@]}"; do
  [ -s "$root/$file" ] || fail "the package lacks /usr/$file"
done
for size in 16 256; do
  file "$root/share/icons/hicolor/${size}x$size/apps/$id.png" | grep -q "$size x $size" \
    || fail "the ${size} px icon is not ${size} pixels wide"
done

desktop=$root/share/applications/$id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/share/metainfo/$id.metainfo.xml" >"$work/appstream.log" 2>&1 \
  || fail "appstreamcli validate: $(cat "$work/appstream.log")"
# Every command of the entry and its actions starts the packaged program.
while IFS= read -r exec; do
  program=${exec#Exec=}
  program=${program%% *}
  [ "$program" = /usr/bin/tarnwick ] || fail "the desktop entry starts $program"
done < <(grep '^Exec=' "$desktop")
[ "$(grep -c '^Exec=' "$desktop")" -eq 3 ] || fail "the desktop entry does not have its two actions"

"$root/bin/tarnwick" --help >"$work/help.txt" || fail "tarnwick --help"
grep -q '^Usage: tarnwick' "$work/help.txt" || fail "tarnwick --help printed: $(head -n 3 "$work/help.txt")"
corrected=$(printf 'teh cat sat' | env XDG_CONFIG_HOME="$work/config" "$root/bin/tarnwick-backend" --correct fix)
[ "$corrected" = "the cat sat" ] || fail "tarnwick-backend --correct fix gave '$corrected'"
echo "package checked: $(basename "$deb")"
