#!/usr/bin/env bash
# Times `tidewatch --describe` against `tshark -V -r` (the full dissection of every frame) on the
# same libpcap file of 65,536 frames of mixed traffic, in one run, and prints the median times
# and their ratio (target: under a tenth of tshark's time).
#
#     bench/compare_describe.sh [BUILD_DIR]     (default: build/release, configured and built here)
#
# Environment: RUNS (timed runs per command, default 5), FRAMES (default 65536), TIDEWATCH (the
# program to time, default BUILD_DIR/tidewatch).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
runs=${RUNS:-5}
frames=${FRAMES:-65536}

for tool in hyperfine tshark; do
  command -v "$tool" >/dev/null || { echo "compare_describe: $tool is not installed" >&2; exit 1; }
done

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTW_TESTS=ON -DTW_BENCH=ON >/dev/null
fi
if [ -z "${TIDEWATCH:-}" ]; then
  ninja -C "$build" tidewatch gen_traffic >/dev/null
  TIDEWATCH=$build/tidewatch
else
  ninja -C "$build" gen_traffic >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
capture="$work/traffic.pcap"
"$build/bench/gen_traffic" --count "$frames" "$capture"
echo "capture: $frames frames, $(stat -c %s "$capture") bytes"

# Both must describe the whole file, or the times compare different work.
"$TIDEWATCH" --describe "$capture" >"$work/describe.txt"
described=$(grep -c '^#[0-9]*$' "$work/describe.txt" || true)
[ "$described" -eq "$frames" ] || {
  echo "compare_describe: tidewatch described $described packets" >&2; exit 1; }
echo "tidewatch output: $(stat -c %s "$work/describe.txt") bytes"
dissected=$(tshark -r "$capture" -T fields -e frame.number 2>/dev/null | wc -l)
[ "$dissected" -eq "$frames" ] || {
  echo "compare_describe: tshark read $dissected frames" >&2; exit 1; }

hyperfine --warmup 1 --runs "$runs" --export-json "$work/times.json" --style basic \
  -n tidewatch "'$TIDEWATCH' --describe '$capture' >/dev/null" \
  -n tshark "tshark -V -r '$capture' >/dev/null 2>&1" >/dev/null

python3 - "$work/times.json" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
for name in ("tidewatch", "tshark"):
    r = results[name]
    print(f"{name:10s} median {r['median'] * 1000:9.1f} ms   (min {r['min'] * 1000:.1f}, "
          f"max {r['max'] * 1000:.1f}, {len(r['times'])} runs)")
ratio = results["tidewatch"]["median"] / results["tshark"]["median"]
print(f"tidewatch / tshark = {ratio:.4f}   (target < 0.1)")
PY
