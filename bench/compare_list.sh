#!/usr/bin/env bash
# Times `tidewatch --list` against `tcpdump -nn -r` and `tshark -r` on the same libpcap file of
# 65,536 frames of mixed traffic, in one run, and prints the median times and the ratios; and
# `tidewatch --list` of the same frames as pcapng (written by editcap) against its libpcap time.
#
#     bench/compare_list.sh [BUILD_DIR]     (default: build/release, configured and built here)
#
# The full hyperfine results are kept in BUILD_DIR/compare_list.json.
# Environment: RUNS (timed runs per command, default 5), FRAMES (default 65536).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
runs=${RUNS:-5}
frames=${FRAMES:-65536}

for tool in hyperfine tcpdump tshark editcap; do
  command -v "$tool" >/dev/null || { echo "compare_list: $tool is not installed" >&2; exit 1; }
done

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTW_TESTS=ON -DTW_BENCH=ON >/dev/null
fi
ninja -C "$build" tidewatch gen_traffic >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
capture="$work/traffic.pcap"
"$build/bench/gen_traffic" --count "$frames" "$capture"
echo "capture: $frames frames, $(stat -c %s "$capture") bytes"
pcapng="$work/traffic.pcapng"
editcap -F pcapng "$capture" "$pcapng"

# The listings must cover the whole file and agree, or the times compare different work.
listed=$("$build/tidewatch" --list "$capture" | wc -l)
[ "$listed" -eq "$frames" ] || { echo "compare_list: tidewatch listed $listed rows" >&2; exit 1; }
cmp -s <("$build/tidewatch" --list "$capture") <("$build/tidewatch" --list "$pcapng") ||
  { echo "compare_list: the pcapng rows differ from the libpcap ones" >&2; exit 1; }

hyperfine --warmup 1 --runs "$runs" --export-json "$build/compare_list.json" \
  --export-csv "$work/times.csv" --style basic \
  -n tidewatch "'$build/tidewatch' --list '$capture' >/dev/null" \
  -n tidewatch-pcapng "'$build/tidewatch' --list '$pcapng' >/dev/null" \
  -n tcpdump "tcpdump -nn -r '$capture' >/dev/null 2>&1" \
  -n tshark "tshark -r '$capture' >/dev/null 2>&1" >/dev/null

# times.csv: command,mean,stddev,median,user,system,min,max (seconds)
awk -F, 'NR > 1 { median[$1] = $4 }
  END {
    for (i = 1; i <= 3; i++) {
      name = i == 1 ? "tidewatch" : i == 2 ? "tcpdump" : "tshark"
      printf "%-10s median %9.1f ms\n", name, median[name] * 1000
    }
    printf "%-10s median %9.1f ms\n", "pcapng", median["tidewatch-pcapng"] * 1000
    printf "tidewatch / tcpdump = %.3f   (target < 1)\n", median["tidewatch"] / median["tcpdump"]
    printf "tidewatch / tshark  = %.3f   (target < 0.1)\n", median["tidewatch"] / median["tshark"]
    printf "pcapng / libpcap    = %.3f   (target < 1.1)\n", median["tidewatch-pcapng"] / median["tidewatch"]
  }' "$work/times.csv"
