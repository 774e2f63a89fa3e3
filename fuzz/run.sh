#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every libFuzzer target for SECONDS each (default 60), starting from the seed corpus
# kept in fuzz/<area>/corpus/<target>/. New inputs go to fuzz/corpus-run/ (not kept);
# a crash, hang or huge allocation stops the run and leaves the input in
# fuzz/crashes/. Keep such an input as fuzz/<area>/regressions/<target>/<name> once fixed:
# the ordinary test suite replays those (tests/fuzzreplay).
#
#   fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true

targets=()
for dir in fuzz/*/corpus/*/; do
    targets+=("$(basename "$dir")")
done
if (($#)); then targets=("$@"); fi

BUILD_DIR=build-fuzz CC=clang CXX=clang++ CMAKE_ARGS="-DNUV_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo" \
    BUILD_TARGETS="${targets[*]}" ./setup.sh

export ASAN_OPTIONS="fast_unwind_on_malloc=0:detect_leaks=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
mkdir -p fuzz/crashes
status=0
for target in "${targets[@]}"; do
    seeds=$(ls -d fuzz/*/corpus/"$target")
    work="fuzz/corpus-run/$target"
    mkdir -p "$work"
    echo "== $target: ${seconds}s"
    if ! build-fuzz/fuzz/"$target" "$work" "$seeds" -max_total_time="$seconds" -timeout=10 \
            -rss_limit_mb=2048 -malloc_limit_mb=512 -print_final_stats=1 \
            -artifact_prefix="fuzz/crashes/$target-" 2> "fuzz/crashes/$target.log"; then
        echo "!! $target failed; see fuzz/crashes/$target.log"
        status=1
    fi
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "fuzz/crashes/$target.log" | tr '\n' ' '
    echo
done
exit $status
