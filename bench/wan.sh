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

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BUILD_DIR:-build}
links=${LINKS:-"20:40 100:80"}
size_mib=${SIZE_MIB:-64}
rounds=${BENCH_ROUNDS:-2}
chunk=$((2 * 1024 * 1024))

bin="$root/$build/bin"
if [ ! -x "$bin/nuvupload-cli" ] || [ ! -x "$bin/nuv-devserver" ]; then
    (cd "$root" && BUILD_DIR="$build" ./setup.sh >/dev/null)
fi

work=$(mktemp -d "$root/$build/bench-wan.XXXXXX")
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
mkdir -p "$work/cli"
cp "$bin/nuvupload-cli" "$work/cli/"
cli="$work/cli/nuvupload-cli"

echo "generating ${size_mib} MiB of random data"
source="$work/random.mp4"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$source"
total=$(stat -c %s "$source")
mkdir -p "$work/chunks"
split -b "$chunk" -d -a 5 "$source" "$work/chunks/c"

check_arrived() {
    arrived=$(find "$work/uploads" -name "$1" -type f | head -n1)
    cmp -s "$source" "$arrived" || { echo "the upload of $1 did not arrive intact" >&2; exit 1; }
}
cpu_seconds() { awk '{ printf "%.2f", $2 + $3 }' "$1"; }
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
    "$bin/nuv-devserver" --port 0 --plan original --link-mbps "$mbps" --link-rtt-ms "$rtt" \
        --data "$work/uploads" >"$work/server.out" 2>"$work/server.err" &
    server_pid=$!
    for _ in $(seq 100); do [ -s "$work/server.out" ] && break; sleep 0.1; done
    first=$(head -n1 "$work/server.out")
    base=$(sed -n 's/^nuv-devserver listening on \(http:[^ ]*\) launch .*/\1/p' <<<"$first")
    launch=$(sed -n 's/.* launch \(nuvVideoClient:[^ ]*\)$/\1/p' <<<"$first")
    uuid=$(sed -n 's/.*[?&]uuid=\([^&]*\).*/\1/p' <<<"$launch")
    code=$(sed -n 's/.*[?&]code=\([^&]*\).*/\1/p' <<<"$launch")
    [ -n "$base" ] && [ -n "$uuid" ] || { echo "nuv-devserver did not start: $first" >&2; exit 1; }

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

    client=0
    reference=0
    for round in $(seq "$rounds"); do
        curl -sf -X POST -d "" "$base/admin/reset" >/dev/null
        /usr/bin/time -f "%M %U %S" -o "$work/usage-client" "$cli" --no-probe "$launch" "$source" \
            >"$work/cli.out" 2>&1 || { cat "$work/cli.out" >&2; exit 1; }
        speed=$(awk -v bytes="$total" -v s="$(client_seconds)" 'BEGIN { printf "%.2f", bytes / 1048576 / s }')
        check_arrived random.mp4
        t0=$(now)
        /usr/bin/time -f "%M %U %S" -o "$work/usage-curl" curl "${args[@]}"
        t1=$(now)
        curl_speed=$(awk -v bytes="$total" -v t0="$t0" -v t1="$t1" 'BEGIN { printf "%.2f", bytes / 1048576 / (t1 - t0) }')
        check_arrived curl.mp4
        echo "$mbps Mbit/s $rtt ms round $round: nuvupload-cli $speed MiB/s ($(cpu_seconds "$work/usage-client") s CPU)," \
             "curl $curl_speed MiB/s ($(cpu_seconds "$work/usage-curl") s CPU) (load $(cut -d' ' -f1 /proc/loadavg))"
        client=$(awk -v a="$client" -v b="$speed" 'BEGIN { print (b > a ? b : a) }')
        reference=$(awk -v a="$reference" -v b="$curl_speed" 'BEGIN { print (b > a ? b : a) }')
        rm -rf "$work/uploads"/*
    done
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
    # One chunk per round trip: the chunk crosses the link, then the answer comes back.
    summary+=("$(awk -v b="$mbps" -v r="$rtt" -v c="$client" -v y="$reference" -v size="$chunk" 'BEGIN {
        bound = size / 1048576 / (size / (b * 1000000 / 8) + r / 1000)
        printf "wan %s Mbit/s %s ms: client %.2f MiB/s, curl %.2f MiB/s, bound %.2f MiB/s, client/bound %.2f, client/curl %.2f",
               b, r, c, y, bound, c / bound, c / y }')")
done
printf '%s\n' "${summary[@]}"
