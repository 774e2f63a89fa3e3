#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes the Debian packages from this build tree (cpack, no second build) and checks them
# as a Debian desktop sees them: the files, Depends, the desktop entry, AppStream data and
# man pages; then unpacks them into a scratch root and checks that the programs print the
# version and that xdg-open hands a "nuvVideoClient://" link to the unpacked NUVUpload, which
# keeps its log in the user's data folder and writes nothing beside itself.
#   check_package.sh BUILD_DIR VERSION
set -euo pipefail
build="$1"
version="$2"
if ! command -v dpkg-deb >/dev/null; then
    echo "dpkg-deb is missing: the Debian packages cannot be built or checked here"
    exit 77
fi
fail() {
    echo "FAIL: $*"
    exit 1
}
work="$(mktemp -d)"
group=""
cleanup() {
    if [ -n "$group" ]; then kill -- "-$group" 2>/dev/null || true; fi
    chmod -R u+w "$work" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log"; fail "cpack"; }
arch="$(dpkg --print-architecture)"
desktop_deb="$work/out/nuvupload_${version}_${arch}.deb"
server_deb="$work/out/nuvupload-devserver_${version}_${arch}.deb"

files_of() { dpkg-deb --fsys-tarfile "$1" | tar -t | grep -v '/$' | sort; }
expect_files() {
    diff -u <(printf '%s\n' "${@:2}" | sort) <(files_of "$1") || fail "files of $(basename "$1")"
}
expect_files "$desktop_deb" ./usr/bin/NUVUpload ./usr/bin/nuvupload-cli \
    ./usr/share/applications/NUVUpload.desktop \
    ./usr/share/doc/nuvupload/changelog.gz ./usr/share/doc/nuvupload/copyright \
    ./usr/share/icons/hicolor/{48x48,128x128,256x256}/apps/nuvupload.png \
    ./usr/share/icons/hicolor/scalable/apps/nuvupload.svg \
    ./usr/share/man/man1/NUVUpload.1.gz ./usr/share/man/man1/nuvupload-cli.1.gz \
    ./usr/share/metainfo/org.nuvupload.NUVUpload.metainfo.xml
expect_files "$server_deb" ./usr/bin/nuv-devserver \
    ./usr/share/doc/nuvupload-devserver/{README.md,changelog.gz,copyright} \
    ./usr/share/man/man1/nuv-devserver.1.gz

# Depends: what the library scan finds, plus what the program runs or draws with.
expect_depends() {
    local depends
    depends="$(dpkg-deb -f "$1" Depends)"
    for name in "${@:2}"; do
        grep -Eq "(^|, )${name}( |,|$)" <<<"$depends" || fail "$(basename "$1") Depends lacks $name: $depends"
    done
    echo "$(basename "$1") Depends: $depends"
}
expect_depends "$desktop_deb" ffmpeg fonts-wqy-microhei libqt5widgets5 libqt5network5 libc6
expect_depends "$server_deb" libssl3 libc6
if grep -q ffmpeg <<<"$(dpkg-deb -f "$server_deb" Depends)"; then fail "the server depends on ffmpeg"; fi

root="$work/root"
dpkg -x "$desktop_deb" "$root"
dpkg -x "$server_deb" "$root"
share="$root/usr/share"
desktop-file-validate "$share/applications/NUVUpload.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$share/metainfo/org.nuvupload.NUVUpload.metainfo.xml" || fail "AppStream data"
grep -q "<release version=\"$version\"" "$share/metainfo/org.nuvupload.NUVUpload.metainfo.xml" \
    || fail "AppStream release is not $version"
for page in "$share"/man/man1/*.gz; do
    warnings="$(zcat "$page" | LC_ALL=C.UTF-8 groff -man -Tutf8 -z -wall 2>&1)"
    [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done
icon="$(sed -n 's/^Icon=//p' "$share/applications/NUVUpload.desktop")"
[ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon '$icon', which the entry names"
for size in 48 128 256; do
    # Width and height are the big-endian words at bytes 16 and 20 of a PNG.
    png="$share/icons/hicolor/${size}x${size}/apps/$icon.png"
    [ "$(od -An -tu4 --endian=big -j16 -N8 "$png" | xargs)" = "$size $size" ] || fail "icon ${size}x${size}"
done

# NUVUpload answers --version before it needs a display.
for program in NUVUpload nuvupload-cli nuv-devserver; do
    out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/$program" --version)" \
        || fail "$program --version"
    [ "$out" = "$program $version" ] || fail "$program --version printed: $out"
done

# A system install is in a folder the user neither owns nor may write: so is this one.
chmod a-w "$root/usr/bin"
if [ "$(id -u)" -eq 0 ]; then chown 65534 "$root/usr/bin"; fi
home="$work/home"
mkdir -p "$home" "$work/tmp" "$work/run"
chmod 700 "$work/run"
# Desktop-file-utils' trigger does this for an installed package.
update-desktop-database "$share/applications"
# A clean session without a desktop, so xdg-utils use the desktop entries themselves. It
# names a display because xdg-open opens links only then; the program draws offscreen.
session=(env -i PATH="$root/usr/bin:/usr/bin:/bin" HOME="$home" LANG=C.UTF-8
    XDG_DATA_HOME="$home/.local/share" XDG_DATA_DIRS="$share" XDG_CONFIG_HOME="$home/.config"
    XDG_CONFIG_DIRS="$work/xdg" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/tmp"
    DISPLAY=:99 QT_QPA_PLATFORM=offscreen
    "ASAN_OPTIONS=${ASAN_OPTIONS:-}" "LSAN_OPTIONS=${LSAN_OPTIONS:-}" "UBSAN_OPTIONS=${UBSAN_OPTIONS:-}")
# Browsers hand the scheme over in lower case; xdg-utils without a desktop match it as written.
for scheme in nuvvideoclient nuvVideoClient; do
    handler="$("${session[@]}" xdg-mime query default "x-scheme-handler/$scheme")"
    [ "$handler" = "NUVUpload.desktop" ] || fail "xdg-mime names '$handler' for $scheme links"
done

uuid="packagecheck$$"
link="nuvVideoClient://http://127.0.0.1:9/api/settings?uuid=$uuid&code=c0de1234&type=1&moduleId=7"
# Its own process group (setsid without a fork, as a background job is no group leader),
# so the program xdg-open starts is ended with it.
setsid "${session[@]}" xdg-open "$link" &
group=$!
log_folder="$home/.local/share/NUVUpload/logs"
for _ in $(seq 300); do
    if grep -qs "launchText:.*uuid=$uuid" "$log_folder"/*.log; then break; fi
    case "$(ps -o stat= -p "$group")" in
    Z* | "") fail "xdg-open ended before NUVUpload logged the link" ;;
    esac
    sleep 0.1
done
grep -qs "launchText:.*uuid=$uuid" "$log_folder"/*.log || fail "no log of the link in $log_folder"
started=no
for pid in $(ps -o pid= --sid "$group"); do
    if [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$root/usr/bin/NUVUpload" ]; then started=yes; fi
done
[ "$started" = yes ] || fail "the unpacked NUVUpload is not what xdg-open started"
kill -- "-$group"
wait "$group" || true
for _ in $(seq 100); do
    [ -n "$(ps -o pid= --sid "$group")" ] || break
    sleep 0.1
done
[ -z "$(ps -o pid= --sid "$group")" ] || fail "NUVUpload did not end on SIGTERM"
group=""
leftovers="$(find "$root/usr/bin" -mindepth 1 ! -name NUVUpload ! -name nuvupload-cli ! -name nuv-devserver)"
[ -z "$leftovers" ] || fail "files beside the installed program: $leftovers"
echo "packages ok: $(basename "$desktop_deb") $(du -k "$desktop_deb" | cut -f1) KiB," \
    "$(basename "$server_deb") $(du -k "$server_deb" | cut -f1) KiB"
