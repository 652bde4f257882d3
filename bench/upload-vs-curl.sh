#!/usr/bin/env bash
# Uploads one file of SIZE_MIB MiB (default 512) to a local sink, alternately
# with pelkin-upload-bench and with curl -F, and prints for each tool the
# median wall time and peak RSS, and the ratio driver/curl.
#   bench/upload-vs-curl.sh [SIZE_MIB]
# Environment: ROUNDS (default 5, at least 3), BENCH (path of the driver;
# default: build/bench/pelkin-upload-bench, then any build*/ folder that is
# not a sanitizer build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
size_mib=${1:-512}
rounds=${ROUNDS:-5}
(( rounds >= 3 )) || rounds=3

bench=${BENCH:-}
if [[ -z $bench ]]; then
  for candidate in "$root"/build/bench/pelkin-upload-bench "$root"/build*/bench/pelkin-upload-bench; do
    # A sanitizer build would measure the sanitizer.
    [[ $candidate == *sanitize* || $candidate == *asan* ]] && continue
    if [[ -x $candidate ]]; then bench=$candidate; break; fi
  done
fi
[[ -x ${bench:-} ]] || { echo "pelkin-upload-bench not built (set BENCH=...)" >&2; exit 2; }
command -v curl >/dev/null && [[ -x /usr/bin/time ]] || { echo "needs curl and /usr/bin/time" >&2; exit 2; }

work=$(mktemp -d)
sink_pid=
cleanup() {
  [[ -n $sink_pid ]] && kill "$sink_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Real data (not a sparse file), written once so both tools read the page cache.
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$work/payload.bin"
head -c 1024 /dev/urandom > "$work/tiny.bin"

python3 "$root/bench/sink-server.py" > "$work/port" &
sink_pid=$!
for _ in $(seq 50); do [[ -s $work/port ]] && break; sleep 0.1; done
port=$(head -1 "$work/port")
endpoint="http://127.0.0.1:$port/api/upload.php"
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1

# Prints "seconds kib" of one run.
measure() {
  local out=$work/time.txt start end
  # time -v reports wall time in hundredths only; take it from the clock.
  start=$(date +%s%N)
  /usr/bin/time -v -o "$out" "$@" > "$work/stdout.txt" 2> "$work/stderr.txt" || {
    echo "failed: $*" >&2; cat "$work/stdout.txt" "$work/stderr.txt" >&2; exit 1; }
  end=$(date +%s%N)
  python3 - "$out" "$start" "$end" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
seconds = (int(sys.argv[3]) - int(sys.argv[2])) / 1e9
rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1))
print(f"{seconds:.3f} {rss}")
PY
}

driver() { measure "$bench" "$endpoint" "$1"; }
curl_upload() { measure curl -sS -o /dev/null -F "file=@$1" "$endpoint"; }

echo "driver binary: $bench"
tiny=$(driver "$work/tiny.bin")
echo "driver, tiny upload: $tiny (s, KiB)"
# One warm-up each, not counted.
driver "$work/payload.bin" >/dev/null
curl_upload "$work/payload.bin" >/dev/null

: > "$work/driver.txt"; : > "$work/curl.txt"
for round in $(seq "$rounds"); do
  d=$(driver "$work/payload.bin"); echo "$d" >> "$work/driver.txt"
  c=$(curl_upload "$work/payload.bin"); echo "$c" >> "$work/curl.txt"
  echo "round $round: driver $d, curl $c (s, KiB)"
done

python3 - "$work/driver.txt" "$work/curl.txt" "$tiny" "$size_mib" <<'PY'
import statistics, sys
def load(path):
    rows = [line.split() for line in open(path) if line.strip()]
    return [float(r[0]) for r in rows], [int(r[1]) for r in rows]
dw, dr = load(sys.argv[1])
cw, cr = load(sys.argv[2])
tiny_rss = int(sys.argv[3].split()[1])
mdw, mcw = statistics.median(dw), statistics.median(cw)
mdr, mcr = statistics.median(dr), statistics.median(cr)
print(f"\n{sys.argv[4]} MiB, {len(dw)} rounds (median)")
print(f"driver: {mdw:.3f} s, peak RSS {mdr / 1024:.1f} MiB")
print(f"curl:   {mcw:.3f} s, peak RSS {mcr / 1024:.1f} MiB")
print(f"wall ratio driver/curl: {mdw / mcw:.3f} (target <= 1.15)")
print(f"RSS ratio driver/curl: {mdr / mcr:.2f}")
growth = (max(dr) - tiny_rss) / 1024
print(f"driver RSS above its tiny upload: {growth:.1f} MiB (target <= 64)")
PY
