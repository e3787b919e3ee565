#!/usr/bin/env bash
# Installs the build folder into a temporary prefix and starts what was
# installed: the window renders itself once (offscreen) and closes, the
# command line answers --help. An installed window keeps its settings in the
# user's folders, never beside the executable; only the three programs land
# in bin.
# Usage: install_test.sh CMAKE BUILD_DIR
set -euo pipefail
cmake=$1
build=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

"$cmake" --install "$build" --prefix "$prefix" > "$tmp/install.log" ||
  { cat "$tmp/install.log" >&2; fail "cmake --install"; }
for file in bin/tarnel bin/tarnel-cli bin/tarnel-sim share/applications/tarnel.desktop \
  share/icons/hicolor/scalable/apps/tarnel.svg; do
  [ -e "$prefix/$file" ] || fail "$file was not installed"
done
installed=$(cd "$prefix/bin" && ls | tr '\n' ' ')
[ "$installed" = "tarnel tarnel-cli tarnel-sim " ] || fail "bin holds more than the programs: $installed"

export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/config XDG_DATA_HOME=$tmp/home/data
export XDG_RUNTIME_DIR=$tmp/runtime QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 0700 "$XDG_RUNTIME_DIR"
cd "$tmp"

"$prefix/bin/tarnel" --screenshot "$tmp/s.png" > "$tmp/tarnel.log" 2>&1 ||
  { cat "$tmp/tarnel.log" >&2; fail "the installed tarnel did not run"; }
[ "$(head -c 8 "$tmp/s.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
  fail "no PNG from --screenshot"
[ -s "$XDG_CONFIG_HOME/Tarnel/tarnel.ini" ] || fail "no settings in \$XDG_CONFIG_HOME/Tarnel"
[ -d "$XDG_DATA_HOME/Tarnel" ] || fail "no data folder in \$XDG_DATA_HOME/Tarnel"
grep -qx "Dir=$XDG_DATA_HOME/Tarnel" "$XDG_CONFIG_HOME/Tarnel/tarnel.ini" ||
  fail "the data folder is not the user's"
[ ! -e "$prefix/bin/tarnel.ini" ] || fail "settings written beside the installed executable"

"$prefix/bin/tarnel-cli" --help > "$tmp/cli.log" 2>&1 ||
  { cat "$tmp/cli.log" >&2; fail "the installed tarnel-cli --help"; }
grep -q "tarnel-cli" "$tmp/cli.log" || fail "tarnel-cli --help printed no usage"
echo "installed into $prefix and started: tarnel, tarnel-cli"
