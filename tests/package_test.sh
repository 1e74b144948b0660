#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package and checks it as a learner's machine would get it:
# unpacked into a scratch root, its layout, its dependencies, kestro-cli playing
# the demo lesson from there, and lintian with neither errors nor warnings.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
deb="$("$top/scripts/package" | tail -n 1)"
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

[ "$(basename "$deb")" = "kestro_$(sed -n 's/^project(Kestro VERSION \([0-9.]*\).*/\1/p' \
  "$top/CMakeLists.txt")_amd64.deb" ] || fail "the package is named $deb"
dpkg-deb -x "$deb" "$root"
lib="usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/kestro"
for file in usr/bin/kestro usr/bin/kestro-cli "$lib/kestro" "$lib/kestro-cli" \
  "$lib/Arch/qv.so" "$lib/Arch/mp3.so" "$lib/Arch/m4a.so" usr/share/kestro/Skin/main.bmp \
  usr/share/kestro/demo/demo-lesson.ogg usr/share/applications/kestro.desktop \
  usr/share/icons/hicolor/256x256/apps/kestro.png usr/share/man/man1/kestro.1.gz \
  usr/share/man/man1/kestro-cli.1.gz usr/share/doc/kestro/copyright \
  usr/share/doc/kestro/changelog.gz; do
  [ -e "$root/$file" ] || fail "$file is missing"
done
# A file manager offers Kestro for a folder of lessons, and the licence is told.
grep -q '^MimeType=.*inode/directory;' "$root/usr/share/applications/kestro.desktop" ||
  fail "the desktop entry does not open folders"
grep -q '^License: GPL-3.0-or-later' "$root/usr/share/doc/kestro/copyright" ||
  fail "the copyright file names no GPL-3.0-or-later"
depends="$(dpkg-deb -f "$deb" Depends)"
for library in libqt6widgets6 libsndfile1 libavformat59 libswresample4 libebur128-1 libpulse0 \
  libsdl2-2.0-0 libsoundtouch1; do
  grep -q "$library" <<< "$depends" || fail "Depends lacks $library: $depends"
done
cd "$root"
"$root/usr/bin/kestro-cli" --audio=offline --wav=demo.wav "$root/usr/share/kestro/demo/demo-lesson.ogg" \
  || fail "the packaged kestro-cli does not play the demo lesson"
[ "$(stat -c %s demo.wav)" -gt 1000000 ] || fail "the demo lesson played too short"
lintian --fail-on error,warning "$deb" 2> /dev/null || fail "lintian found errors or warnings"
echo "package test: $deb is whole; lintian says:"
lintian -L '>=info' "$deb" 2> /dev/null || true
