#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that the program lands
# where a desktop finds it, with its skin beside it, and starts from the link
# on the PATH. Usage: install_test.sh <build folder>
set -euo pipefail
build=$1
prefix=$(mktemp -d /tmp/gloxen-install-XXXXXX)
runtime=$(mktemp -d /tmp/gloxen-install-run-XXXXXX)
trap 'kill "${pid:-0}" 2>/dev/null || true; rm -rf "$prefix" "$runtime"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

libdir=$(cd "$prefix" && ls -d lib*/gloxen | head -n 1)
[ -n "$libdir" ] || fail "no lib*/gloxen folder"
[ -x "$prefix/$libdir/gloxen" ] || fail "program not installed in $libdir"
[ -f "$prefix/$libdir/DUI/Options.dat" ] || fail "skin not beside the program"
[ -L "$prefix/bin/gloxen" ] || fail "no link on the PATH"
[ "$(readlink -f "$prefix/bin/gloxen")" = "$(readlink -f "$prefix/$libdir/gloxen")" ] || fail "the link points elsewhere"

# The command-line converter sits in the same private folder, with its own
# link, and answers from there.
[ -x "$prefix/$libdir/gloxen-convert" ] || fail "gloxen-convert not installed in $libdir"
[ -L "$prefix/bin/gloxen-convert" ] || fail "no gloxen-convert link on the PATH"
[ "$(readlink -f "$prefix/bin/gloxen-convert")" = "$(readlink -f "$prefix/$libdir/gloxen-convert")" ] ||
  fail "the gloxen-convert link points elsewhere"
# The project's version without its last component (4.2.2.2890 -> 4.2.2).
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=\(.*\)\.[0-9]*$/\1/p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in the build's cache"
[ "$("$prefix/bin/gloxen-convert" --version)" = "$version" ] ||
  fail "the installed gloxen-convert does not give the version $version"
picture=$runtime/dot.bmp
# A 1 x 1 BMP, 24 bits: converted through the link, it gives an icon.
printf 'BM\x3a\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x01\0\0\0\x01\0\0\0\x01\0\x18\0\0\0\0\0\x04\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x10\x20\x30\0' >"$picture"
"$prefix/bin/gloxen-convert" "$picture" || fail "the installed gloxen-convert cannot convert"
[ -s "$runtime/dot.ico" ] || fail "the installed gloxen-convert wrote no icon"

desktop=$prefix/share/applications/gloxen.desktop
[ -f "$desktop" ] || fail "no desktop entry"
grep -qx 'Exec=gloxen' "$desktop" || fail "desktop entry does not start gloxen"
grep -qx 'Icon=gloxen' "$desktop" || fail "desktop entry names another icon"
icon=$prefix/share/icons/hicolor/48x48/apps/gloxen.png
[ -f "$icon" ] || fail "no icon"
# A PNG whose header says 48 x 48.
[ "$(od -An -tx1 -j16 -N8 "$icon" | tr -d ' \n')" = "0000003000000030" ] || fail "icon is not 48 x 48"

# Started through the link, the program runs (it would end at once if it
# could not start).
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$runtime "$prefix/bin/gloxen" &
pid=$!
sleep 1.5
kill -0 "$pid" 2>/dev/null || fail "the installed program did not stay up"
echo "installed layout ok"
