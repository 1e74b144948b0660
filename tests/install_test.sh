#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs Kestro into a temporary prefix and uses it from elsewhere, as a
# learner's machine would: kestro-cli from any directory, the launcher making
# the learner's folder, the desktop entry, the icons and the man pages.
set -euo pipefail
build="$1"
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
prefix="$root/prefix"
cmake --install "$build" --prefix "$prefix" > /dev/null
fail() { echo "install test: $*" >&2; exit 1; }

cd "$root"
"$prefix/bin/kestro-cli" --version | grep -q '^kestro-cli ' || fail "kestro-cli --version"
"$prefix/bin/kestro-cli" --audio=offline --wav=demo.wav "$prefix/share/kestro/demo/demo-lesson.ogg" \
  || fail "the installed kestro-cli does not play the demo lesson"
[ "$(stat -c %s demo.wav)" -gt 1000000 ] || fail "the demo lesson played too short"
"$prefix/bin/kestro" --version | grep -q '^kestro ' || fail "kestro --version"

desktop-file-validate "$prefix/share/applications/kestro.desktop" || fail "desktop entry"
# A learner's .m4a, .opus and films: the installed plug-ins play them, and a
# file manager's "Open with" offers Kestro for them (the MIME cache made as
# the system's package trigger makes it).
update-desktop-database "$prefix/share/applications"
for lesson in lesson.m4a lesson.opus film.mkv film.webm; do
  ffmpeg -v error -y -t 3 -i "$prefix/share/kestro/demo/demo-lesson.ogg" "$lesson" \
    || fail "ffmpeg could not make $lesson"
  "$prefix/bin/kestro-cli" --audio=offline --wav=heard.wav "$lesson" \
    || fail "the installed kestro-cli does not play $lesson"
  type="$(gio info -a standard::content-type "$lesson" | awk '/content-type/ {print $2}')"
  PATH="$prefix/bin:$PATH" XDG_DATA_HOME="$root/nothing" XDG_DATA_DIRS="$prefix/share:/usr/share" \
    gio mime "$type" | grep kestro.desktop > /dev/null || fail "Open with does not offer Kestro for $type"
done
for size in 64 128 256; do
  [ -s "$prefix/share/icons/hicolor/${size}x${size}/apps/kestro.png" ] || fail "icon $size"
done
for page in kestro kestro-cli; do
  [ -s "$prefix/share/man/man1/$page.1.gz" ] || fail "man page $page"
done

# SIGTERM is blocked once the window watches for it (bit 15 of the mask); a
# shell on its way to starting it blocks signals for a moment too.
watching() {
  case "$(readlink "/proc/$window/exe" 2>/dev/null)" in
    */kestro/kestro) ;;
    *) return 1 ;;
  esac
  mask=$(awk '/^SigBlk/ {print $2}' "/proc/$window/status" 2>/dev/null) || return 1
  [ -n "$mask" ] && [ $((0x$mask & 0x4000)) -ne 0 ]
}
# Waits (a sanitizer build on a busy machine starts slowly) until the window
# runs; false when it ended first.
wait_for_window() {
  for _ in $(seq 600); do
    watching && return 0
    kill -0 "$window" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Starts the installed launcher in folder with the files given, waits until
# the window runs, then ends it as a logout would; it must end well.
run_window_until_sigterm() {
  (cd "$1" && shift && QT_QPA_PLATFORM=offscreen exec "$prefix/bin/kestro" --audio=offline "$@") \
    > "$root/kestro.out" 2>&1 &
  window=$!
  wait_for_window || { cat "$root/kestro.out" >&2; return 1; }
  kill -TERM "$window"
  wait "$window" || fail "the window did not end well on SIGTERM: $(cat "$root/kestro.out")"
}

# The first start makes the learner's folder and starts the window in it.
export XDG_DATA_HOME="$root/xdg"
home="$XDG_DATA_HOME/kestro"
run_window_until_sigterm "$root" || fail "the launcher did not start the window"
[ -f "$home/Skin/main.bmp" ] || fail "no skin in the learner's folder"
ls "$home/Arch/"*.so > /dev/null || fail "no plug-ins in the learner's folder"
grep -q "demo-lesson.ogg" "$home/Kestro.m3u" || fail "the learner's playlist lacks the demo"

# Kestro moved to another prefix: the links lead nowhere and are made again. A
# file named from the learner's own folder is added with its whole path, and
# SIGTERM (a logout) ends the window with the list saved.
ln -sfn "$root/gone/Skin" "$home/Skin"
rm "$home/Arch"
mkdir -p "$root/lessons"
cp "$prefix/share/kestro/demo/demo-lesson.ogg" "$root/lessons/mine.ogg"
run_window_until_sigterm "$root/lessons" mine.ogg || fail "the window did not start"
[ -f "$home/Skin/main.bmp" ] || fail "the skin link was not made again"
ls "$home/Arch/"*.so > /dev/null || fail "the plug-in link was not made again"
grep -q "$root/lessons/mine.ogg" "$home/Kestro.m3u" || fail "the named file is not in the list"
echo "install test: passed"
