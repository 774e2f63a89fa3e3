#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs every Debian package the project needs (only what is missing), then
# configures and builds in build/. Idempotent: seconds when everything is in place.
#
#   ./setup.sh                 normal build in build/
#   BUILD_DIR=x CMAKE_ARGS=".." ./setup.sh   another build folder or options
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
    # build
    cmake ninja-build g++ pkg-config
    # Qt 5 and its Chinese translations (compiled into the program at build time)
    qtbase5-dev qtbase5-dev-tools qttranslations5-l10n
    # reference platform server
    libcpp-httplib-dev nlohmann-json3-dev libssl-dev openssl
    # media, display for screenshots, Chinese glyphs, SVG to PNG for the images
    ffmpeg xvfb xauth fonts-wqy-microhei librsvg2-bin desktop-file-utils
    # benchmarks and scripts
    curl time python3
    # Debian packages (package.sh) and their check: desktop entry, AppStream data, man pages,
    # the link handler as xdg-open sees it
    dpkg-dev appstream groff-base xdg-utils procps
    # fuzzing and sanitizers (clang's libFuzzer runtime)
    clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

BUILD_DIR="${BUILD_DIR:-build}"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    # shellcheck disable=SC2086
    cmake -S . -B "$BUILD_DIR" -G Ninja ${CMAKE_ARGS:-}
fi
# BUILD_TARGETS="a b" builds only those targets (the fuzz script uses it).
# shellcheck disable=SC2086
cmake --build "$BUILD_DIR" ${BUILD_TARGETS:+--target $BUILD_TARGETS} -- -j"$(nproc)"
