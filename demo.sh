#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds, and runs the tool's main job against the project's
# own platform server: nuv-devserver starts on a free loopback port and NUVUpload opens
# with that server's launch command, so it goes straight to its file page. Add the sample
# video it prints (or any video) and watch it upload. The server stops when the tool exits.
#
# Without a display the same job runs headless: the sample video is uploaded with
# nuvupload-cli and the server's record of the registered video is printed.
#
#   ./demo.sh [--plan original|nr]     nr: the server also asks for a transcoded variant
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
bin="${BUILD_DIR:-build}/bin"
plan="original"
if [ "${1:-}" = "--plan" ] && [ -n "${2:-}" ]; then plan="$2"; fi

work="$(mktemp -d /tmp/nuvupload-demo.XXXXXX)"
server_pid=""
cleanup() {
    if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

"$bin/nuv-devserver" --port 0 --plan "$plan" --data "$work/server" > "$work/server.out" 2> "$work/server.err" &
server_pid=$!
for _ in $(seq 100); do
    [ -s "$work/server.out" ] && break
    sleep 0.1
done
first_line="$(head -n 1 "$work/server.out")"
launch="${first_line##* launch }"
base="${first_line#nuv-devserver listening on }"
base="${base%% launch *}"
if [ -z "$launch" ] || [ "$launch" = "$first_line" ]; then
    echo "demo: nuv-devserver did not start:" >&2
    cat "$work/server.err" >&2
    exit 1
fi
echo "demo: platform server at $base"
echo "demo: launch command $launch"

sample="$work/sample video.mp4"
ffmpeg -hide_banner -loglevel error -f lavfi -i "testsrc2=size=640x360:rate=25" \
    -f lavfi -i "sine=frequency=440:sample_rate=44100" -t 8 \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -shortest "$sample"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: add this sample video (drag it onto the window or use 添加文件):"
    echo "      $sample"
    "$bin/NUVUpload" "$launch" || true
else
    echo "demo: no display; uploading the sample video with nuvupload-cli"
    "$bin/nuvupload-cli" "$launch" "$sample"
fi

echo "demo: what the server registered:"
curl -s "$base/admin/journal" | python3 -c '
import json, sys
journal = json.load(sys.stdin)
for u in journal.get("uploads", []):
    print("  upload  ", u.get("name"), u.get("total"), "bytes, finished:", u.get("finished"), "sha256:", u.get("sha256"))
for r in journal.get("registrations", []):
    print("  video   ", r.get("filename"), "module", r.get("moduleId"), "files", json.dumps(r.get("dataJson"), ensure_ascii=False))
if not journal.get("registrations"):
    print("  (no video registered)")
'
