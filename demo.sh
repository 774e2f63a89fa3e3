#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds, and runs the tool. Extra arguments are passed on as
# the launch command. Without a display the window runs under Xvfb for a short while.
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
BUILD_DIR="${BUILD_DIR:-build}"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$BUILD_DIR/bin/NUVUpload" "$@"
fi
echo "demo: no display; running NUVUpload under Xvfb for 10 seconds"
xvfb-run -a timeout --preserve-status -s TERM 10 "$BUILD_DIR/bin/NUVUpload" "$@" || true
echo "demo: done; the log is in $BUILD_DIR/bin/logs/"
