#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Upload throughput of nuvupload-cli against one curl process sending the same 2 MiB chunks
# over one kept-alive connection, both to nuv-devserver on loopback, and the client's peak
# resident memory for a 512 MiB and a 2 GiB file. Builds first when the programs are
# missing; removes everything it made when it ends. See bench/README.md.
#
#   bench/upload.sh                       uses build/ (BUILD_DIR=... for another)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BUILD_DIR:-build}
size_mib=512
rounds=${BENCH_ROUNDS:-3}
chunk=$((2 * 1024 * 1024))

bin="$root/$build/bin"
if [ ! -x "$bin/nuvupload-cli" ] || [ ! -x "$bin/nuv-devserver" ]; then
    (cd "$root" && BUILD_DIR="$build" ./setup.sh >/dev/null)
fi

# Source files, the server's uploads and the client's tmp all on the build folder's disk.
work=$(mktemp -d "$root/$build/bench-upload.XXXXXX")
server_pid=""
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

now() { date +%s.%N; }
mib_per_s() { awk -v bytes="$1" -v t0="$2" -v t1="$3" 'BEGIN { printf "%.1f", bytes / 1048576 / (t1 - t0) }'; }

# The client in a folder of its own: its logs, tmp and setting.ini stay in $work.
mkdir -p "$work/cli"
cp "$bin/nuvupload-cli" "$work/cli/"
cli="$work/cli/nuvupload-cli"

"$bin/nuv-devserver" --port 0 --plan original --data "$work/uploads" >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 100); do
    [ -s "$work/server.out" ] && break
    sleep 0.1
done
first=$(head -n1 "$work/server.out")
base=$(sed -n 's/^nuv-devserver listening on \(http:[^ ]*\) launch .*/\1/p' <<<"$first")
launch=$(sed -n 's/.* launch \(nuvVideoClient:[^ ]*\)$/\1/p' <<<"$first")
uuid=$(sed -n 's/.*[?&]uuid=\([^&]*\).*/\1/p' <<<"$launch")
code=$(sed -n 's/.*[?&]code=\([^&]*\).*/\1/p' <<<"$launch")
[ -n "$base" ] && [ -n "$uuid" ] || { echo "nuv-devserver did not start: $first" >&2; exit 1; }

echo "generating ${size_mib} MiB of random data"
source="$work/random.mp4"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$source"
total=$(stat -c %s "$source")
mkdir -p "$work/chunks"
split -b "$chunk" -d -a 5 "$source" "$work/chunks/c"

# nuvupload-cli: the whole session (settings, token, check, upload, registration). The file
# is random data, not a video, so the ffmpeg probe is skipped.
upload_client() {
    /usr/bin/time -f "%M %U %S" -o "$work/usage-client" "$cli" --no-probe "$launch" "$source" >"$work/cli.out" 2>&1 \
        || { cat "$work/cli.out" >&2; exit 1; }
}

# curl: one process, one connection, the same chunks as consecutive multipart requests.
token=$(curl -s "$base/api/token?code=$code" | sed -n 's/.*"data":"\([^"]*\)".*/\1/p')
args=()
pos=0
for part in "$work"/chunks/c*; do
    length=$(stat -c %s "$part")
    end=0
    [ $((pos + length)) -ge "$total" ] && end=1
    [ ${#args[@]} -gt 0 ] && args+=(--next)
    args+=(-s -o /dev/null -H "token: $token"
           -F "file=@$part;filename=unknow.fs;type=application/octet-stream"
           "$base/api/upload?uuid=$uuid&name=curl.mp4&total=$total&pos=$pos&end=$end")
    pos=$((pos + length))
done
upload_curl() {
    /usr/bin/time -f "%M %U %S" -o "$work/usage-curl" curl "${args[@]}"
}
cpu_seconds() { awk '{ printf "%.2f", $2 + $3 }' "$1"; }

# Both copies must have arrived whole, or the numbers mean nothing.
check_arrived() {
    arrived=$(find "$work/uploads" -name "$1" -type f | head -n1)
    cmp -s "$source" "$arrived" || { echo "the upload of $1 did not arrive intact" >&2; exit 1; }
}

# Alternating rounds, best of each: other work on the machine only ever slows a round down.
client=0
reference=0
for round in $(seq "$rounds"); do
    t0=$(now); upload_client; t1=$(now)
    speed=$(mib_per_s "$total" "$t0" "$t1")
    check_arrived random.mp4
    t0=$(now); upload_curl; t1=$(now)
    curl_speed=$(mib_per_s "$total" "$t0" "$t1")
    check_arrived curl.mp4
    echo "round $round: nuvupload-cli $speed MiB/s ($(cpu_seconds "$work/usage-client") s CPU)," \
         "curl $curl_speed MiB/s ($(cpu_seconds "$work/usage-curl") s CPU)"
    client=$(awk -v a="$client" -v b="$speed" 'BEGIN { print (b > a ? b : a) }')
    reference=$(awk -v a="$reference" -v b="$curl_speed" 'BEGIN { print (b > a ? b : a) }')
    rm -rf "$work/uploads"/*
done

# Memory does not depend on the content; a sparse file saves writing 2 GiB first.
rm -rf "$work/chunks"
large="$work/sparse.mp4"
truncate -s 2G "$large"
/usr/bin/time -f %M -o "$work/rss-large" "$cli" --no-probe "$launch" "$large" >"$work/cli-large.out" 2>&1 \
    || { cat "$work/cli-large.out" >&2; exit 1; }

rss_small=$(awk '{ printf "%.1f", $1 / 1024 }' "$work/usage-client")
rss_large=$(awk '{ printf "%.1f", $1 / 1024 }' "$work/rss-large")
echo "nuvupload-cli: $client MiB/s (${size_mib} MiB, whole session, best of $rounds)"
echo "curl: $reference MiB/s (${size_mib} MiB, one connection, best of $rounds)"
awk -v a="$client" -v b="$reference" 'BEGIN { printf "ratio client/curl: %.2f\n", a / b }'
echo "peak RSS MiB 512M/2G: $rss_small $rss_large"
