#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds release binaries in build-release/ and makes the two Debian packages in build/:
#   nuvupload_<version>_<arch>.deb            NUVUpload, nuvupload-cli, the link handler
#   nuvupload-devserver_<version>_<arch>.deb  nuv-devserver, for platform integrators
# The developer's build/ keeps its configuration; only the packages are written into it.
set -euo pipefail
cd "$(dirname "$0")"
RELEASE_DIR="${RELEASE_DIR:-build-release}"
# Debian's hardening: fortified libc calls, stack protector, a read-only GOT after start-up.
# CMake reads CXXFLAGS and LDFLAGS when it first configures the folder.
CXXFLAGS="-D_FORTIFY_SOURCE=2 -fstack-protector-strong" LDFLAGS="-Wl,-z,relro,-z,now" \
    BUILD_DIR="$RELEASE_DIR" CMAKE_ARGS="-DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF" ./setup.sh
rm -rf "$RELEASE_DIR/packages"
cpack --config "$RELEASE_DIR/CPackConfig.cmake" -B "$RELEASE_DIR/packages"
mkdir -p build
for deb in "$RELEASE_DIR"/packages/*.deb; do
    cp "$deb" build/
    echo "package.sh: build/$(basename "$deb")"
done
