#!/usr/bin/env bash
# Builds, runs and tests the LMX-207 Service Program.
#   ./lmx207.sh run    install what is missing, build, start the tool (against the simulated pair of
#                      units on a pseudo-terminal unless LMX207_COM1 names a port)
#   ./lmx207.sh test   install what is missing, build normally and with the address and
#                      undefined-behaviour sanitizers, run the whole test suite in both, and run
#                      every fuzz target briefly
set -euo pipefail
cd "$(dirname "$0")"
top=$(pwd)

packages=(cmake ninja-build g++ dpkg-dev clang libclang-rt-14-dev qt6-base-dev qt6-serialport-dev qt6-translations-l10n libgl-dev fonts-wqy-microhei xvfb xauth lintian libqt6sql6-sqlite sqlite3 postgresql libqt6sql6-psql poppler-utils)

install_packages() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

build() { # build <folder> <targets, or "all"> [cmake options...]
    local dir=$1 targets=$2
    shift 2
    cmake -S "$top" -B "$dir" -G Ninja "$@" >/dev/null
    # shellcheck disable=SC2086
    cmake --build "$dir" -j"$(nproc)" --target $targets
}

run_tool() {
    build "$top/build" "lmx207 lmx207-sim lmx207-tour" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "No display here: taking the tour instead (every window in both languages, off-screen)."
        QT_QPA_PLATFORM=offscreen "$top/build/tools/lmx207-tour" "$top/build/tour" | tail -n 1
        echo "The pictures are in $top/build/tour/ (the same as docs/tour/ in the README)."
        return
    fi
    if [ -z "${LMX207_COM1:-}" ]; then
        # The link to the simulator lives in the user's runtime folder, or else in a private one of
        # its own, never under a name in the shared temporary folder that another account can take.
        [ -n "${XDG_RUNTIME_DIR:-}" ] || private_dir=$(mktemp -d)
        local link="${XDG_RUNTIME_DIR:-${private_dir:-}}/lmx207-sim-com1-$$"
        "$top/build/sim/lmx207-sim" --link "$link" >/dev/null &
        sim_pid=$!
        trap 'kill "${sim_pid:-}" 2>/dev/null || true; [ -z "${private_dir:-}" ] || rm -rf "$private_dir"' EXIT
        for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
        export LMX207_COM1="$link"
        echo "COM1 is the simulated pair of units on $link (set LMX207_COM1=/dev/ttyUSB0 for a real unit)."
    fi
    "$top/build/lmx207"
}

run_tests() {
    build "$top/build" all -DCMAKE_BUILD_TYPE=RelWithDebInfo
    (cd "$top/build" && ctest --output-on-failure -j2)
    build "$top/build-sanitize" all -DCMAKE_BUILD_TYPE=Debug -DLMX207_SANITIZE=ON
    (cd "$top/build-sanitize" &&
        ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
            LSAN_OPTIONS="suppressions=$top/tests/lsan.supp:print_suppressions=0" ctest --output-on-failure -j2)
    # Every fuzz target for a short bounded time (the long run: tests/fuzz/run-fuzzers.sh 600).
    "$top/tests/fuzz/run-fuzzers.sh" 15
}

case "${1:-}" in
run)
    install_packages
    run_tool
    ;;
test)
    install_packages
    run_tests
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
