#!/usr/bin/env bash
# Checks what a desktop finds once the tool is installed: the two programs, the .desktop entry and
# the icon, and that the installed tool starts and stays up at its login.
#   install-check.sh <build>             cmake --install into a temporary prefix
#   install-check.sh <build> <version>   the Debian package instead: cpack builds it, its control
#                                        fields are checked and it is unpacked with dpkg-deb -x
set -euo pipefail
build=$1
version=${2:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/root/usr
if [ -n "$version" ]; then
    (cd "$build" && cpack -B "$tmp/deb" >/dev/null)
    deb=$tmp/deb/lmx207_${version}_amd64.deb
    fields=$(dpkg-deb -f "$deb" Package Version Architecture)
    [ "$fields" = "$(printf 'Package: lmx207\nVersion: %s\nArchitecture: amd64' "$version")" ] ||
        { echo "control fields: $fields"; exit 1; }
    for dep in libqt6widgets6 libqt6serialport6 libqt6sql6-sqlite fonts-wqy-microhei; do
        dpkg-deb -f "$deb" Depends | grep -Eq "(^|, )$dep( |,|$)" || { echo "Depends lacks $dep"; exit 1; }
    done
    dpkg-deb -x "$deb" "$tmp/root"
else
    cmake --install "$build" --prefix "$prefix" >/dev/null
fi
for f in bin/lmx207 bin/lmx207-sim share/applications/lmx207.desktop share/icons/hicolor/48x48/apps/lmx207.png; do
    [ -e "$prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
grep -q '^Exec=lmx207$' "$prefix/share/applications/lmx207.desktop"
grep -q '^Icon=lmx207$' "$prefix/share/applications/lmx207.desktop"
# grep reads the whole help (no -q): a grep that left early would end the writer with SIGPIPE once
# the text outgrows one buffer, and pipefail would count that as a failure.
"$prefix/bin/lmx207-sim" --help | grep -- '--silent' >/dev/null
# The logbook: its files, and its command line with no display at all.
for f in bin/lmx207-logbook share/applications/lmx207-logbook.desktop \
    share/icons/hicolor/48x48/apps/lmx207-logbook.png; do
    [ -e "$prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
grep -q '^Exec=lmx207-logbook$' "$prefix/share/applications/lmx207-logbook.desktop"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_DATA_HOME="$tmp/data" \
    "$prefix/bin/lmx207-logbook" --help | grep 'lmx207-logbook export' >/dev/null
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_DATA_HOME="$tmp/data" \
    "$prefix/bin/lmx207-logbook" visits >/dev/null 2>&1 || status=$?
[ "$status" -eq 2 ] || { echo "lmx207-logbook visits without an archive: exit $status, not 2"; exit 1; }
# The tool waits at its login for ever: still running when timeout ends it (exit 124), and silent,
# also where XDG_RUNTIME_DIR is not set (it makes its runtime folder in the temporary one). It has
# no switch of a test rig: the screenshot and start-up probe variables of its early days change
# nothing.
mkdir -p "$tmp/config"
status=0
env -u XDG_RUNTIME_DIR TMPDIR="$tmp" XDG_CONFIG_HOME="$tmp/config" LMX207_DRIVE_C="$tmp" QT_QPA_PLATFORM=offscreen \
    LMX207_SCREENSHOT="$tmp/shot.png" LMX207_BENCH_READY=1 LMX207_BENCH_IDLE=1 \
    timeout 5 "$prefix/bin/lmx207" >"$tmp/stdout" 2>"$tmp/stderr" || status=$?
[ "$status" -eq 124 ] && [ ! -s "$tmp/stderr" ] && [ ! -s "$tmp/stdout" ] && [ ! -e "$tmp/shot.png" ] ||
    { echo "the installed tool did not stay at its login (exit $status): $(cat "$tmp/stderr")"; exit 1; }
echo "install: tool, logbook, simulator, desktop entries and icons in place; the installed tool starts"
