#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs the build into a scratch prefix and checks what a desktop needs to hand
# "nuvVideoClient://" links to the program: the executable, a valid desktop entry that
# claims the scheme and passes the link as an argument, and the entry's icon.
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
# The icon the entry names, scalable and in the usual PNG sizes (width and height are
# the big-endian words at bytes 16 and 20 of a PNG).
grep -qx 'Icon=nuvupload' "$entry" || { echo "icon not named"; exit 1; }
icons="$prefix/share/icons/hicolor"
test -f "$icons/scalable/apps/nuvupload.svg" || { echo "scalable icon not installed"; exit 1; }
for size in 48 128 256; do
    png="$icons/${size}x${size}/apps/nuvupload.png"
    test "$(od -An -tu4 --endian=big -j16 -N8 "$png" 2>/dev/null | xargs)" = "$size $size" \
        || { echo "icon ${size}x${size} missing or of another size"; exit 1; }
done
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop_src"
fi
echo "install ok"
