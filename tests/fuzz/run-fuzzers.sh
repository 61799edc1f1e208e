#!/bin/sh
# Builds the libFuzzer targets (clang, address and undefined-behaviour sanitizers) in build-fuzz
# and runs every target for the given number of seconds each (default 20), one after the other,
# starting from its seed corpus in tests/fuzz/corpus/<target>/. Fails on the first finding (crash,
# sanitizer report, broken invariant, leak, timeout); the input that found it is kept under
# build-fuzz/fuzz-findings/<target>/.
#
#   tests/fuzz/run-fuzzers.sh         # 20 s per target
#   tests/fuzz/run-fuzzers.sh 600     # the long run: 10 minutes per target
#
# Environment: BUILD_DIR (default <source>/build-fuzz), FUZZ_TARGETS (default: every target),
# FUZZ_JOBS (ninja jobs, default 2).
set -eu

seconds=${1:-20}
src=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$src/build-fuzz}

if ! command -v clang++ >/dev/null 2>&1; then
    echo "run-fuzzers: clang++ is needed (Debian: apt-get install clang libclang-rt-dev)" >&2
    exit 1
fi

CC=clang CXX=clang++ cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLMX207_FUZZ=ON -DLMX207_BUILD_TESTS=OFF >/dev/null

targets=${FUZZ_TARGETS:-$(cd "$src/tests/fuzz" && ls fuzz_*.cpp | sed 's/\.cpp$//')}
# shellcheck disable=SC2086
ninja -C "$build" -j"${FUZZ_JOBS:-2}" $targets

export QT_QPA_PLATFORM=offscreen
status=0
for t in $targets; do
    work="$build/fuzz-work/$t"        # what the run finds on top of the seeds; kept between runs
    findings="$build/fuzz-findings/$t"
    mkdir -p "$work" "$findings"
    log="$build/fuzz-work/$t.log"
    printf '%-20s %4ss ... ' "$t" "$seconds"
    if (cd "$findings" && "$build/tests/fuzz/$t" -max_total_time="$seconds" -timeout=25 \
        -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$findings/" \
        "$work" "$src/tests/fuzz/corpus/$t") >"$log" 2>&1; then
        grep -E '^Done [0-9]+ runs' "$log" || echo "done"
    else
        echo "FINDING (log: $log, input under $findings/)"
        grep -E '^==[0-9]+==ERROR|^SUMMARY|fuzz invariant broken|^artifact_prefix' "$log" || tail -20 "$log"
        status=1
    fi
done
exit $status
