#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs the build into a scratch prefix and checks what a desktop needs to hand
# "nuvVideoClient://" links to the program: the executable and a valid desktop entry
# that claims the scheme and passes the link as an argument.
set -eu
build="$1"
desktop_src="$2"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
test -x "$prefix/bin/NUVUpload" || { echo "NUVUpload not installed"; exit 1; }
entry="$prefix/share/applications/NUVUpload.desktop"
test -f "$entry" || { echo "desktop entry not installed"; exit 1; }
grep -qx 'MimeType=x-scheme-handler/nuvvideoclient;' "$entry" || { echo "scheme not claimed"; exit 1; }
grep -qx 'Exec=NUVUpload %u' "$entry" || { echo "link not passed as an argument"; exit 1; }
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop_src"
fi
echo "install ok"
