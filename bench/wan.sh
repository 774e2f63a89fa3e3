#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Upload throughput over slow, distant links: nuvupload-cli against one curl process sending
# the same 2 MiB chunks over one kept-alive connection (as bench/upload.sh), both to
# nuv-devserver emulating the link (--link-mbps, --link-rtt-ms). Ends with one line per link:
#   wan B Mbit/s R ms: client X MiB/s, curl Y MiB/s, bound Z MiB/s, client/bound P, client/curl Q
# See bench/README.md.
#
#   bench/wan.sh                  LINKS="20:40 100:80" SIZE_MIB=64 BENCH_ROUNDS=2, uses build/
set -euo pipefail

links=${LINKS:-"20:40 100:80"}
size_mib=${SIZE_MIB:-64}
rounds=${BENCH_ROUNDS:-2}
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"
bench_require nuvupload-cli nuv-devserver
bench_work bench-wan
bench_client

echo "generating ${size_mib} MiB of random data"
source="$work/random.mp4"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$source"
total=$(stat -c %s "$source")

# The client's chunk phase as the server saw it: from the first chunk's arrival to the
# registration that follows the last chunk's answer (settings, token and file check before,
# which curl does not do either, stay out).
client_seconds() {
    curl -sf "$base/admin/journal" | python3 -c 'import json, sys
requests = json.load(sys.stdin)["requests"]
first = min(r["time"] for r in requests if r["path"] == "/api/upload")
last = max(r["time"] for r in requests if r["path"] == "/api/addVideo")
print((last - first) / 1000)'
}

summary=()
for link in $links; do
    mbps=${link%%:*}
    rtt=${link##*:}
    bench_start_server --plan original --link-mbps "$mbps" --link-rtt-ms "$rtt"
    bench_curl_args "$source"

    client=0
    reference=0
    for round in $(seq "$rounds"); do
        curl -sf -X POST -d "" "$base/admin/reset" >/dev/null
        /usr/bin/time -f "%M %U %S" -o "$work/usage-client" "$cli" --no-probe "$launch" "$source" \
            >"$work/cli.out" 2>&1 || { cat "$work/cli.out" >&2; exit 1; }
        speed=$(awk -v bytes="$total" -v s="$(client_seconds)" 'BEGIN { printf "%.2f", bytes / 1048576 / s }')
        bench_check_arrived "$source" random.mp4
        t0=$(now)
        /usr/bin/time -f "%M %U %S" -o "$work/usage-curl" curl "${curl_args[@]}"
        t1=$(now)
        curl_speed=$(awk -v bytes="$total" -v t0="$t0" -v t1="$t1" 'BEGIN { printf "%.2f", bytes / 1048576 / (t1 - t0) }')
        bench_check_arrived "$source" curl.mp4
        echo "$mbps Mbit/s $rtt ms round $round: nuvupload-cli $speed MiB/s ($(cpu_seconds "$work/usage-client") s CPU)," \
             "curl $curl_speed MiB/s ($(cpu_seconds "$work/usage-curl") s CPU) (load $(load))"
        client=$(larger "$client" "$speed")
        reference=$(larger "$reference" "$curl_speed")
        rm -rf "$work/uploads"/*
    done
    bench_stop_server
    # One chunk per round trip: the chunk crosses the link, then the answer comes back.
    summary+=("$(awk -v b="$mbps" -v r="$rtt" -v c="$client" -v y="$reference" -v size="$chunk" 'BEGIN {
        bound = size / 1048576 / (size / (b * 1000000 / 8) + r / 1000)
        printf "wan %s Mbit/s %s ms: client %.2f MiB/s, curl %.2f MiB/s, bound %.2f MiB/s, client/bound %.2f, client/curl %.2f",
               b, r, c, y, bound, c / bound, c / y }')")
done
printf '%s\n' "${summary[@]}"
