#!/usr/bin/env bash
# Opens the 65,536-frame libpcap capture of mixed traffic in the main window (offscreen) several
# times and prints the median time until the last row is in the list, and the memory the store
# and the list keep per packet beyond the frame bytes.
#
#     bench/bench_window.sh [BUILD_DIR]     (default: build/release, configured and built here)
#
# Environment: RUNS (default 7), FRAMES (default 65536).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
runs=${RUNS:-7}
frames=${FRAMES:-65536}

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTW_TESTS=ON -DTW_BENCH=ON >/dev/null
fi
ninja -C "$build" bench_window gen_traffic >/dev/null
build=$(cd "$build" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
capture="$work/traffic.pcap"
"$build/bench/gen_traffic" --count "$frames" "$capture"
echo "capture: $frames frames, $(stat -c %s "$capture") bytes"
# Settings, recent files and error.log of the run stay in the scratch folder.
cd "$work"
XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" QT_QPA_PLATFORM=offscreen \
  "$build/bench/bench_window" --runs "$runs" "$capture" 2> >(grep -v XDG_RUNTIME_DIR >&2)
