# SPDX-License-Identifier: MIT
# Shared by the benchmark scripts (sourced, not run): the programs, a work folder inside the
# build folder that goes when the script ends, nuv-devserver, and curl's chunk requests.

bench_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$bench_here")
build=${BUILD_DIR:-build}
bin="$root/$build/bin"
chunk=$((2 * 1024 * 1024))

# Builds first when one of the named programs is missing.
bench_require() {
    local program
    for program in "$@"; do
        if [ ! -x "$bin/$program" ]; then
            (cd "$root" && BUILD_DIR="$build" ./setup.sh >/dev/null)
            return
        fi
    done
}

# Source files, the server's uploads and the client's tmp all on the build folder's disk.
bench_work() { # name
    work=$(mktemp -d "$root/$build/$1.XXXXXX")
    server_pid=""
    trap bench_cleanup EXIT
}
bench_cleanup() {
    bench_stop_server
    rm -rf "$work"
}

now() { date +%s.%N; }
load() { cut -d' ' -f1 /proc/loadavg; }

# Starts nuv-devserver with these arguments and the uploads in $work/uploads; sets base,
# launch, uuid and code from its first line.
bench_start_server() {
    "$bin/nuv-devserver" --port 0 --data "$work/uploads" "$@" >"$work/server.out" 2>"$work/server.err" &
    server_pid=$!
    for _ in $(seq 300); do [ -s "$work/server.out" ] && break; sleep 0.1; done
    local first
    first=$(head -n1 "$work/server.out")
    base=$(sed -n 's/^nuv-devserver listening on \(http:[^ ]*\) launch .*/\1/p' <<<"$first")
    launch=$(sed -n 's/.* launch \(nuvVideoClient:[^ ]*\)$/\1/p' <<<"$first")
    uuid=$(sed -n 's/.*[?&]uuid=\([^&]*\).*/\1/p' <<<"$launch")
    code=$(sed -n 's/.*[?&]code=\([^&]*\).*/\1/p' <<<"$launch")
    [ -n "$base" ] && [ -n "$uuid" ] || { echo "nuv-devserver did not start: $first" >&2; cat "$work/server.err" >&2; exit 1; }
}
bench_stop_server() {
    if [ -n "${server_pid:-}" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    server_pid=""
}

# A private copy of the client, so its logs, tmp and setting.ini stay in $work.
bench_client() {
    mkdir -p "$work/cli"
    cp "$bin/nuvupload-cli" "$work/cli/"
    cli="$work/cli/nuvupload-cli"
}

# curl_args: one curl run sending $1 as 2 MiB chunks in consecutive multipart requests over
# one kept-alive connection (--next), with the client's query parameters and token header,
# to the running server under the name curl.mp4.
bench_curl_args() { # source
    local total pos part length end token
    total=$(stat -c %s "$1")
    rm -rf "$work/chunks"
    mkdir -p "$work/chunks"
    split -b "$chunk" -d -a 5 "$1" "$work/chunks/c"
    token=$(curl -s "$base/api/token?code=$code" | sed -n 's/.*"data":"\([^"]*\)".*/\1/p')
    curl_args=()
    pos=0
    for part in "$work"/chunks/c*; do
        length=$(stat -c %s "$part")
        end=0
        [ $((pos + length)) -ge "$total" ] && end=1
        [ ${#curl_args[@]} -gt 0 ] && curl_args+=(--next)
        curl_args+=(-s -o /dev/null -H "token: $token"
                    -F "file=@$part;filename=unknow.fs;type=application/octet-stream"
                    "$base/api/upload?uuid=$uuid&name=curl.mp4&total=$total&pos=$pos&end=$end")
        pos=$((pos + length))
    done
}

# Both copies must have arrived whole, or the numbers mean nothing.
bench_check_arrived() { # source name
    local arrived
    arrived=$(find "$work/uploads" -name "$2" -type f | head -n1)
    cmp -s "$1" "$arrived" || { echo "the upload of $2 did not arrive intact" >&2; exit 1; }
}
cpu_seconds() { awk '{ printf "%.2f", $2 + $3 }' "$1"; }
larger() { awk -v a="$1" -v b="$2" 'BEGIN { print (b > a ? b : a) }'; }
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (b < a ? b : a) }'; }
