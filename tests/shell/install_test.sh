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
