#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks that a desktop finds the tool: the two
# programs, the .desktop entry and the icon, and that the installed tool starts.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
home=$(mktemp -d)
trap 'rm -rf "$prefix" "$home"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/lmx207 bin/lmx207-sim share/applications/lmx207.desktop share/icons/hicolor/48x48/apps/lmx207.png; do
    [ -e "$prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
grep -q '^Exec=lmx207$' "$prefix/share/applications/lmx207.desktop"
grep -q '^Icon=lmx207$' "$prefix/share/applications/lmx207.desktop"
"$prefix/bin/lmx207-sim" --help | grep -q -- '--silent'
mkdir -p "$home/config" "$home/runtime"
chmod 700 "$home/runtime"
XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/runtime" QT_QPA_PLATFORM=offscreen \
    LMX207_SCREENSHOT="$home/shot.png" timeout 60 "$prefix/bin/lmx207"
[ -s "$home/shot.png" ] || { echo "the installed tool did not show its login"; exit 1; }
echo "install: tool, simulator, desktop entry and icon in place; the installed tool starts"
