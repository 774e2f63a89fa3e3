#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds, and runs every test through ctest.
# Extra arguments go to ctest (for example: ./test.sh -R tst_log).
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
BUILD_DIR="${BUILD_DIR:-build}"
export QT_QPA_PLATFORM=offscreen
cd "$BUILD_DIR"
ctest --output-on-failure -j"$(nproc)" "$@"
