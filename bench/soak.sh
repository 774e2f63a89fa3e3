#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Soak run (not part of CI): one nuvupload-cli session uploads 200 small videos and 3
# large files (256 MiB of random data each) to nuv-devserver while about one chunk
# attempt in ten is rejected, dropped or stalled, and the network goes out now and then
# (every OUTAGE_EVERY seconds for OUTAGE_MS, connections cut or refused in turn; 0 for
# none). Checks that every file is registered
# and arrived byte for byte (server-side SHA-256), that the client's open file
# descriptors, threads and resident memory at the end are within a few percent of their
# value after the first file, and that the log rotated correctly if it passed 10 MiB.
# A file whose registration an outage cut after sending fails (it may have been made); a
# second run of the session then registers it, as the user's retry would.
# Prints one summary line, with the bytes of the chunk attempts the server saw against the
# bytes in the files (the overhead of retries and continuations); exits non-zero when a
# check fails.
#
#   bench/soak.sh            SMALL=200 LARGE=3 LARGE_MIB=256 FAULTS=0.1 OUTAGE_EVERY=30
#                            OUTAGE_MS=8000 to change the load
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${BUILD_DIR:-build}
small=${SMALL:-200}
large=${LARGE:-3}
large_mib=${LARGE_MIB:-256}
faults=${FAULTS:-0.1}
outage_every=${OUTAGE_EVERY:-30}
outage_ms=${OUTAGE_MS:-8000}
bin="$root/$build/bin"
if [ ! -x "$bin/nuvupload-cli" ] || [ ! -x "$bin/nuv-devserver" ]; then
    (cd "$root" && BUILD_DIR="$build" ./setup.sh >/dev/null)
fi

work=$(mktemp -d "$root/$build/soak.XXXXXX")
server_pid=""
cli_pid=""
outage_pid=""
cleanup() {
    for pid in $outage_pid $cli_pid $server_pid; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/cli" "$work/files"
cp "$bin/nuvupload-cli" "$work/cli/"
"$bin/nuv-devserver" --port 0 --plan original --max-upload-num $((small + large)) \
    --random-faults "$faults" --seed 7 --data "$work/uploads" >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/server.out" ] && break; sleep 0.1; done
first=$(head -n1 "$work/server.out")
base=$(sed -n 's/^nuv-devserver listening on \(http:[^ ]*\) launch .*/\1/p' <<<"$first")
launch=$(sed -n 's/.* launch \(nuvVideoClient:[^ ]*\)$/\1/p' <<<"$first")
[ -n "$base" ] || { echo "nuv-devserver did not start: $first" >&2; exit 1; }

# Small files: one short real video, copied under different names with a different tail
# byte each, so every upload is a distinct file.
ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc2=size=160x120:rate=10 -t 1 \
    -c:v libx264 -preset ultrafast -pix_fmt yuv420p "$work/seed.mp4"
for i in $(seq -w 1 "$small"); do
    cp "$work/seed.mp4" "$work/files/small_$i.mp4"
    printf '%s' "$i" >>"$work/files/small_$i.mp4"
done
head -c "$((large_mib * 1024 * 1024))" /dev/urandom >"$work/large_1.mp4"
for i in $(seq 1 "$large"); do
    cp "$work/large_1.mp4" "$work/files/large_$i.mp4"
    printf '%s' "$i" >>"$work/files/large_$i.mp4"
done
rm -f "$work/large_1.mp4"

# Random data is no video: the whole session runs without the ffmpeg probe.
"$work/cli/nuvupload-cli" --no-probe "$launch" "$work"/files/*.mp4 >"$work/cli.out" 2>"$work/cli.err" &
cli_pid=$!

# The outages: one every outage_every seconds, cut and refused in turn, each counted.
if [ "$outage_every" -gt 0 ]; then
    (
        mode=cut
        while sleep "$outage_every"; do
            curl -sf -X POST -d "{\"outage\": {\"ms\": $outage_ms, \"mode\": \"$mode\"}}" \
                "$base/admin/config" >/dev/null && echo "$mode" >>"$work/outages"
            sleep "$(( (outage_ms + 999) / 1000 ))"
            if [ "$mode" = cut ]; then mode=refuse; else mode=cut; fi
        done
    ) &
    outage_pid=$!
fi

sample() { # fds threads rss_kib
    local fds threads rss
    fds=$(ls "/proc/$cli_pid/fd" 2>/dev/null | wc -l)
    threads=$(awk '/^Threads:/ {print $2}' "/proc/$cli_pid/status" 2>/dev/null)
    rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$cli_pid/status" 2>/dev/null)
    echo "$fds ${threads:-0} ${rss:-0}"
}
# 0 while the journal cannot be read (the listener is closed during a refused outage).
registered() { curl -sf "$base/admin/journal" 2>/dev/null | python3 -c 'import json,sys
try: print(len(json.load(sys.stdin).get("registrations", [])))
except Exception: print(0)'; }

after_first=""
last=""
started=$(date +%s)
while kill -0 "$cli_pid" 2>/dev/null; do
    now=$(sample); echo "sample $now" >>"$work/samples"
    [ "${now%% *}" != "0" ] && last="$now"
    if [ -z "$after_first" ] && [ "$(registered)" -ge 1 ]; then after_first="$now"; fi
    sleep 0.5
done
set +e
wait "$cli_pid"
cli_status=$?
set -e
cli_pid=""
if [ -n "$outage_pid" ]; then kill "$outage_pid" 2>/dev/null || true; wait "$outage_pid" 2>/dev/null || true; fi
outage_pid=""
outages=$(wc -l <"$work/outages" 2>/dev/null || echo 0)
# The last outage may still hold the listener closed.
for _ in $(seq 100); do curl -sf "$base/admin/config" >/dev/null && break; sleep 0.2; done
# A registration cut by an outage after it was sent fails rather than risk a second one; the
# user's retry is a second run of the session for the files not registered.
retried=0
if [ "$cli_status" -ne 0 ]; then
    mapfile -t missing < <(curl -sf "$base/admin/journal" | python3 -c 'import json,sys,os
names = {r.get("filename") for r in json.load(sys.stdin).get("registrations", [])}
for p in sys.argv[1:]:
    if os.path.basename(p) not in names: print(p)' "$work"/files/*.mp4)
    retried=${#missing[@]}
    if [ "$retried" -gt 0 ]; then
        set +e
        "$work/cli/nuvupload-cli" --no-probe "$launch" "${missing[@]}" >>"$work/cli.out" 2>>"$work/cli.err"
        cli_status=$?
        set -e
    fi
fi
elapsed=$(( $(date +%s) - started ))

python3 - "$base" "$work" "$cli_status" "$after_first" "$last" "$elapsed" "$((small + large))" "$outages" "$outage_ms" "$retried" <<'PY'
import glob, hashlib, json, os, sys, urllib.request
base, work, status, first, last, elapsed, expected, outages, outage_ms, retried = sys.argv[1:11]
journal = json.load(urllib.request.urlopen(base + "/admin/journal"))
uploads = {u["name"]: u for u in journal.get("uploads", []) if u.get("finished")}
names = {r.get("filename") for r in journal.get("registrations", [])}
problems = []
for path in sorted(glob.glob(os.path.join(work, "files", "*.mp4"))):
    name = os.path.basename(path)
    digest = hashlib.sha256(open(path, "rb").read()).hexdigest()
    if name not in names:
        problems.append(name + " not registered")
    if uploads.get(name, {}).get("sha256") != digest:
        problems.append(name + " differs on the server")
chunks = [c for u in journal.get("uploads", []) for c in u.get("chunks", [])]
faulted = sum(1 for c in chunks if not c.get("accepted"))
# Every attempt carried its whole chunk, whatever became of it; attempts cut by an outage
# before the server read them are not in the journal.
CHUNK = 2 * 1024 * 1024
sent = sum(min(CHUNK, u["total"] - c["pos"]) for u in journal.get("uploads", []) for c in u.get("chunks", []))
in_files = sum(os.path.getsize(p) for p in glob.glob(os.path.join(work, "files", "*.mp4")))
overhead = 100.0 * (sent - in_files) / in_files if in_files else 0.0
f0, t0, r0 = (int(x) for x in first.split())
f1, t1, r1 = (int(x) for x in last.split())
def within(a, b, pct, slack):  # b may exceed a by pct percent (plus a small absolute slack)
    return b <= a * (1 + pct / 100.0) + slack
if not within(f0, f1, 5, 1): problems.append(f"fds grew {f0}->{f1}")
if not within(t0, t1, 5, 1): problems.append(f"threads grew {t0}->{t1}")
if not within(r0, r1, 5, 1024): problems.append(f"rss grew {r0}->{r1} KiB")
logs = sorted(glob.glob(os.path.join(work, "cli", "logs", "*.log")))
biggest = max((os.path.getsize(p) for p in logs), default=0)
rotated = [p for p in logs if "_" in os.path.basename(p)]
if biggest > 10485760 + 65536: problems.append("a log file passed 10 MiB without rotating")
if int(status) != 0: problems.append(f"nuvupload-cli exited {status}")
print(f"soak: files {len(names)}/{expected} registered, sha256 {'ok' if not any('differs' in p for p in problems) else 'MISMATCH'}, "
      f"chunk attempts {len(chunks)} ({faulted} faulted), outages {outages} x {int(outage_ms) // 1000}s, "
      f"{retried} retried, bytes sent {sent // 1048576} MiB for {in_files // 1048576} MiB in files (overhead {overhead:.1f}%), fds {f0}->{f1}, threads {t0}->{t1}, "
      f"rss {r0//1024}->{r1//1024} MiB, logs {len(logs)} ({len(rotated)} rotated, largest {biggest//1024} KiB), "
      f"{elapsed}s, {'PASS' if not problems else 'FAIL: ' + '; '.join(problems[:5])}")
sys.exit(0 if not problems else 1)
PY
