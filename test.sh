#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds, and runs every test through ctest.
# Extra arguments go to ctest (for example: ./test.sh -R tst_log).
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
BUILD_DIR="${BUILD_DIR:-build}"
export QT_QPA_PLATFORM=offscreen
# Read only by sanitizer builds (CMAKE_ARGS=-DNUV_SANITIZE=ON): any report fails its test.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:check_initialization_order=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cd "$BUILD_DIR"
ctest --output-on-failure -j"$(nproc)" "$@"
