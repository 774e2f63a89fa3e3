#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Many files at once. The window: N small videos (copies of one generated clip) dropped on the
# real file page under the offscreen platform, against nuv-devserver with maxUploadNum -1,
# until every row is registered; ends with the line
#   many: files N, analysed A s, registered R s, ffmpeg at once F, threads T, peak RSS M MiB, UI stall S ms
# The command line (--cli): nuvupload-cli uploads CLI_FILES and a tenth of them, and prints
# the time per file of each session, which must not grow with the number of files.
# See bench/README.md.
#
#   bench/many.sh                 FILES=300 BENCH_ROUNDS=2, uses build/ (BUILD_DIR=...)
#   bench/many.sh --cli           CLI_FILES=1000
set -euo pipefail

files=${FILES:-300}
cli_files=${CLI_FILES:-1000}
rounds=${BENCH_ROUNDS:-2}
mode=window
[ "${1:-}" = "--cli" ] && mode=cli
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"
bench_require nuvupload-cli nuv-devserver nuv-bench-many
bench_work bench-many

start_server() { bench_start_server --plan original --max-upload-num -1; }
# Every file registered, as the server saw it.
check_registered() {
    local seen
    seen=$(curl -sf "$base/admin/journal" | python3 -c 'import json, sys; print(len(json.load(sys.stdin)["registrations"]))')
    [ "$seen" = "$1" ] || { echo "the server registered $seen of $1 files" >&2; exit 1; }
}
stop_server() {
    bench_stop_server
    rm -rf "$work/uploads"
}

# One short real clip, copied under numbered names.
ffmpeg -hide_banner -nostdin -loglevel error -f lavfi -i testsrc=size=320x240:rate=25:duration=2 \
    -f lavfi -i sine=frequency=440:duration=2 -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac \
    "$work/seed.mp4"
make_files() { # count folder
    mkdir -p "$2"
    for i in $(seq -w 1 "$1"); do cp "$work/seed.mp4" "$2/clip_$i.mp4"; done
}

if [ "$mode" = cli ]; then
    bench_client
    per_file() { # count -> per_file_ms: ms per file of one session (not in a subshell: the
                 # server it starts must go with the script)
        rm -rf "$work/files"
        make_files "$1" "$work/files"
        start_server
        local t0 t1
        t0=$(now)
        # The probe is ffmpeg's time, not the client's: left out, as in bench/upload.sh.
        "$cli" --no-probe "$launch" "$work"/files/*.mp4 >"$work/cli.out" 2>&1 \
            || { tail -n 20 "$work/cli.out" >&2; exit 1; }
        t1=$(now)
        check_registered "$1"
        stop_server
        per_file_ms=$(awk -v n="$1" -v t0="$t0" -v t1="$t1" 'BEGIN { printf "%.1f", (t1 - t0) * 1000 / n }')
    }
    small=$((cli_files / 10))
    best_small=""; best_large=""
    for round in $(seq "$rounds"); do
        per_file "$small"; a=$per_file_ms
        per_file "$cli_files"; b=$per_file_ms
        echo "round $round: $small files $a ms per file, $cli_files files $b ms per file (load $(load))"
        best_small=$(smaller "${best_small:-1e9}" "$a")
        best_large=$(smaller "${best_large:-1e9}" "$b")
    done
    echo "cli: files $cli_files, $best_large ms per file ($small files: $best_small ms per file)"
    exit 0
fi

make_files "$files" "$work/files"
# One probe, as the analysis runs it: the yardstick for the analysis time.
probe=1e9
for _ in 1 2 3; do
    t0=$(now)
    ffmpeg -hide_banner -nostdin -i "$work/files/clip_$(printf '%0*d' ${#files} 1).mp4" -threads 1 -loglevel info \
        >/dev/null 2>&1 || true
    t1=$(now)
    probe=$(awk -v a="$probe" -v t0="$t0" -v t1="$t1" 'BEGIN { d = t1 - t0; print (d < a ? d : a) }')
done
cores=$(nproc)
echo "one probe $(awk -v p="$probe" 'BEGIN { printf "%.3f", p }') s, $cores cores: N x probe / cores =" \
     "$(awk -v p="$probe" -v n="$files" -v c="$cores" 'BEGIN { printf "%.1f", p * n / (c < 2 ? 2 : c) }') s"

best=""
for round in $(seq "$rounds"); do
    start_server
    line=$(QT_QPA_PLATFORM=offscreen "$bin/nuv-bench-many" "$launch" "$work/data" "$work"/files/*.mp4) \
        || { echo "$line" >&2; exit 1; }
    check_registered "$files"
    stop_server
    rm -rf "$work/data"
    echo "round $round: ${line#many: } (load $(load))"
    analysed=$(sed -n 's/.*analysed \([0-9.]*\) s.*/\1/p' <<<"$line")
    if [ -z "$best" ] || awk -v a="$analysed" -v b="$best_analysed" 'BEGIN { exit !(a < b) }'; then
        best=$line; best_analysed=$analysed
    fi
done
echo "$best"
