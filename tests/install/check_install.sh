#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and checks what a user gets: the file list, the
# desktop entry and metainfo against their validators, the installed programs, the manual pages.
#
#   check_install.sh BUILD_DIR SOURCE_DIR VERSION [DESKTOP_ID]
#
# Without DESKTOP_ID the build has no window, and only pellavo-cli is expected.
set -euo pipefail
build=$1 source=$2 version=$3 desktop_id=${4:-}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
root=$tmp/root prefix=/usr
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

DESTDIR=$root cmake --install "$build" --prefix "$prefix" >"$tmp/install.log"
usr=$root$prefix

# Exactly these files: a missing one breaks the menu or the manual, a stray one ends up in the
# package unnoticed.
expected=(bin/pellavo-cli share/man/man1/pellavo-cli.1)
if [ -n "$desktop_id" ]; then
  expected+=(bin/pellavo share/man/man1/pellavo.1
             "share/applications/$desktop_id.desktop" "share/metainfo/$desktop_id.metainfo.xml"
             share/icons/hicolor/scalable/apps/pellavo.svg share/icons/hicolor/256x256/apps/pellavo.png)
fi
(cd "$usr" && find . \( -type f -o -type l \) -printf '%P\n' | LC_ALL=C sort) >"$tmp/installed"
printf '%s\n' "${expected[@]}" | LC_ALL=C sort >"$tmp/expected"
diff -u "$tmp/expected" "$tmp/installed" || fail "installed files differ from the expected list (- expected, + installed)"
if [ "$(find "$root" -mindepth 1 -maxdepth 1 -printf '%P\n')" != "${prefix#/}" ]; then
  fail "files were installed outside the prefix"
fi

# The installed programs answer without a display, and pellavo-cli converts.
for program in pellavo-cli ${desktop_id:+pellavo}; do
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$usr/bin/$program" --version) ||
    fail "$program --version exited with $?"
  [ "$out" = "$program $version" ] || fail "$program --version printed \"$out\", not \"$program $version\""
done
mkdir "$tmp/out"
"$usr/bin/pellavo-cli" --quiet --size 64 --format png --dest "$tmp/out" "$source/samples/landscape.jpg" >"$tmp/cli.log" 2>&1 ||
  { cat "$tmp/cli.log" >&2; fail "pellavo-cli could not convert samples/landscape.jpg"; }
# The PNG signature, then the width and height of the IHDR chunk, big-endian at bytes 16 and 20.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ print $1*16777216 + $2*65536 + $3*256 + $4 "x" $5*16777216 + $6*65536 + $7*256 + $8 }'; }
is_png() { [ "$(od -An -tx1 -N8 "$1" | tr -d ' \n')" = 89504e470d0a1a0a ]; }
converted=$tmp/out/landscape.png
if [ -f "$converted" ] && is_png "$converted"; then
  size=$(png_size "$converted")
  [ "${size%x*}" = 64 ] && [ "${size#*x}" -lt 64 ] || fail "the landscape sample became $size, not 64 wide and less high"
else
  fail "pellavo-cli wrote no PNG $converted ($(ls "$tmp/out"))"
fi

# Each manual page renders without warnings and documents its program's options.
for program in pellavo-cli ${desktop_id:+pellavo}; do
  page=$usr/share/man/man1/$program.1
  [ -f "$page" ] || continue
  MANWIDTH=80 man --warnings -l "$page" >"$tmp/$program.txt" 2>"$tmp/$program.warnings" || fail "man -l $program.1 failed"
  [ -s "$tmp/$program.warnings" ] && { cat "$tmp/$program.warnings" >&2; fail "man warns about $program.1"; }
  grep -q "^NAME" "$tmp/$program.txt" && grep -q -- "--version" "$tmp/$program.txt" &&
    grep -q "$program $version" "$tmp/$program.txt" || fail "$program.1 lacks its name, options or version"
done
grep -q -- "--size" "$tmp/pellavo-cli.txt" || fail "pellavo-cli.1 does not list --size"

if [ -n "$desktop_id" ]; then
  entry=$usr/share/applications/$desktop_id.desktop
  desktop-file-validate "$entry" || fail "desktop-file-validate rejects $desktop_id.desktop"
  appstreamcli validate --no-net "$usr/share/metainfo/$desktop_id.metainfo.xml" ||
    fail "appstreamcli rejects $desktop_id.metainfo.xml"
  # The tree: the metainfo's launchable names the installed desktop entry.
  appstreamcli validate-tree --no-net "$usr" >"$tmp/tree.log" || { cat "$tmp/tree.log" >&2; fail "appstreamcli rejects the installed tree"; }

  # What the menu starts and shows must be installed.
  exec_line=$(sed -n 's/^Exec=//p' "$entry")
  [ "$exec_line" = "pellavo %F" ] || fail "Exec=$exec_line, not \"pellavo %F\""
  [ -x "$usr/bin/${exec_line%% *}" ] || fail "the entry starts ${exec_line%% *}, which is not installed"
  icon=$(sed -n 's/^Icon=//p' "$entry")
  for file in "$usr/share/icons/hicolor/scalable/apps/$icon.svg" "$usr/share/icons/hicolor/256x256/apps/$icon.png"; do
    [ -f "$file" ] || fail "no icon $file for Icon=$icon"
  done
  png=$usr/share/icons/hicolor/256x256/apps/$icon.png
  if is_png "$png"; then
    [ "$(png_size "$png")" = 256x256 ] || fail "the 256 px icon is $(png_size "$png")"
  else
    fail "the 256 px icon is no PNG"
  fi
fi

if [ "$failures" -gt 0 ]; then
  echo "install: $failures check(s) failed" >&2
  exit 1
fi
echo "install: every check passed (${#expected[@]} files)"
