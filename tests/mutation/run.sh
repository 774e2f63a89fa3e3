#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Mutation pass: applies each patch in patches/ to the tree, builds, runs the whole ctest
# suite and reverts, then tells which mutants the suite killed. Not part of the normal run.
#
#   tests/mutation/run.sh                      every patch
#   tests/mutation/run.sh 07 23-chunk-chunked-crlf   only these (number or full name)
#
# Environment: BUILD_DIR (default build-mutation, configured as ./setup.sh does),
# TEST_TIMEOUT (seconds, for tests without a TIMEOUT of their own; default 300), JOBS (default: cores),
# CTEST_ARGS (added to every ctest call, e.g. "--stop-on-failure" or "-E packaging").
# Results: one line per mutant here and in $BUILD_DIR/mutation/results.txt; the ctest
# output of each mutant in $BUILD_DIR/mutation/<name>.log.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
cd "$root"
# A mutant that breaks a writer's rotation or a loop's end can fill the disk (one did, with
# 74 GB of log): no file of a run may pass 8 GiB (the suite's largest is a sparse 5 GiB one).
ulimit -f $((8 * 1024 * 1024))

BUILD_DIR="${BUILD_DIR:-build-mutation}"
TEST_TIMEOUT="${TEST_TIMEOUT:-300}"
JOBS="${JOBS:-$(nproc)}"
out="$BUILD_DIR/mutation"

patches=()
if (($#)); then
    for want in "$@"; do
        found=("$here"/patches/"$want"*.patch)
        if [ ! -f "${found[0]}" ] || ((${#found[@]} != 1)); then
            echo "run.sh: no single patch matches '$want'" >&2
            exit 2
        fi
        patches+=("${found[0]}")
    done
else
    patches=("$here"/patches/*.patch)
fi

# A mutant is reverted with the patch that made it, so the files it touches must be clean.
for p in "${patches[@]}"; do
    if ! git apply --check "$p" 2>/dev/null; then
        echo "run.sh: $(basename "$p") does not apply to this tree (uncommitted change there?)" >&2
        exit 2
    fi
done

# Whatever else is uncommitted must be the same afterwards.
tree_before="$(git diff | sha1sum)"
applied=""
revert() {
    if [ -n "$applied" ]; then
        git apply -R "$applied" || echo "run.sh: could not revert $(basename "$applied")" >&2
        applied=""
    fi
}
trap 'revert; exit 130' INT TERM
trap revert EXIT

if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja ${CMAKE_ARGS:-} >/dev/null || exit 2
fi
mkdir -p "$out"
: >"$out/results.txt"
export QT_QPA_PLATFORM=offscreen

build() { nice -n 10 cmake --build "$BUILD_DIR" -- -j"$JOBS" >"$1" 2>&1; }

echo "run.sh: building the unmutated tree"
if ! build "$out/build-base.log"; then
    echo "run.sh: the unmutated tree does not build (see $out/build-base.log)" >&2
    exit 2
fi

killed=0
total=0
nobuild=0
started=$SECONDS
for p in "${patches[@]}"; do
    name="$(basename "$p" .patch)"
    total=$((total + 1))
    t0=$SECONDS
    git apply "$p" || { echo "run.sh: $name did not apply" >&2; exit 2; }
    applied="$p"
    if ! build "$out/$name.build.log"; then
        result="no-build"
        nobuild=$((nobuild + 1))
    else
        rm -f "$BUILD_DIR/Testing/Temporary/LastTestsFailed.log"
        # shellcheck disable=SC2086
        nice -n 5 ctest --test-dir "$BUILD_DIR" -j"$JOBS" --timeout "$TEST_TIMEOUT" --output-on-failure ${CTEST_ARGS:-} \
            >"$out/$name.log" 2>&1
        failed=""
        if [ -f "$BUILD_DIR/Testing/Temporary/LastTestsFailed.log" ]; then
            failed="$(cut -d: -f2- "$BUILD_DIR/Testing/Temporary/LastTestsFailed.log" | sort | paste -sd, -)"
        fi
        if [ -n "$failed" ]; then
            result="killed by $failed"
            killed=$((killed + 1))
        else
            result="survived"
        fi
    fi
    revert
    line="$name: $result ($((SECONDS - t0)) s)"
    echo "$line"
    echo "$line" >>"$out/results.txt"
done

# Leaves the build folder matching the tree again.
build "$out/build-base.log" || echo "run.sh: rebuilding the unmutated tree failed" >&2
summary="killed $killed of $total"
((nobuild)) && summary+=" ($nobuild did not build)"
summary+=" in $((SECONDS - started)) s"
echo "$summary"
echo "$summary" >>"$out/results.txt"
if [ "$(git diff | sha1sum)" != "$tree_before" ]; then
    echo "run.sh: the tree is not clean after the run:" >&2
    git status --short >&2
    exit 1
fi
