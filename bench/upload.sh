#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Upload throughput of nuvupload-cli against one curl process sending the same 2 MiB chunks
# over one kept-alive connection, both to nuv-devserver on loopback, and the client's peak
# resident memory for a 512 MiB and a 2 GiB file. Builds first when the programs are
# missing; removes everything it made when it ends. See bench/README.md.
#
#   bench/upload.sh                       uses build/ (BUILD_DIR=... for another)
set -euo pipefail

size_mib=512
rounds=${BENCH_ROUNDS:-3}
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"
bench_require nuvupload-cli nuv-devserver
bench_work bench-upload
mib_per_s() { awk -v bytes="$1" -v t0="$2" -v t1="$3" 'BEGIN { printf "%.1f", bytes / 1048576 / (t1 - t0) }'; }

bench_client
bench_start_server --plan original

echo "generating ${size_mib} MiB of random data"
source="$work/random.mp4"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$source"
total=$(stat -c %s "$source")
bench_curl_args "$source"

# nuvupload-cli: the whole session (settings, token, check, upload, registration). The file
# is random data, not a video, so the ffmpeg probe is skipped.
upload_client() {
    /usr/bin/time -f "%M %U %S" -o "$work/usage-client" "$cli" --no-probe "$launch" "$source" >"$work/cli.out" 2>&1 \
        || { cat "$work/cli.out" >&2; exit 1; }
}
# curl: one process, one connection, the same chunks as consecutive multipart requests.
upload_curl() {
    /usr/bin/time -f "%M %U %S" -o "$work/usage-curl" curl "${curl_args[@]}"
}

# Alternating rounds, best of each: other work on the machine only ever slows a round down.
client=0
reference=0
for round in $(seq "$rounds"); do
    t0=$(now); upload_client; t1=$(now)
    speed=$(mib_per_s "$total" "$t0" "$t1")
    bench_check_arrived "$source" random.mp4
    t0=$(now); upload_curl; t1=$(now)
    curl_speed=$(mib_per_s "$total" "$t0" "$t1")
    bench_check_arrived "$source" curl.mp4
    echo "round $round: nuvupload-cli $speed MiB/s ($(cpu_seconds "$work/usage-client") s CPU)," \
         "curl $curl_speed MiB/s ($(cpu_seconds "$work/usage-curl") s CPU)"
    client=$(larger "$client" "$speed")
    reference=$(larger "$reference" "$curl_speed")
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
