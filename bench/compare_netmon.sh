#!/usr/bin/env bash
# Capture method 2 at top speed against tcpdump, in network namespaces of its own: a peer sends
# the 65,536 frames of mixed traffic (bench/gen_traffic) with `tcpreplay --topspeed` over a veth
# pair while, on the other end and in the same run,
#   (a) `tidewatch --capture --method 2` stores them, or
#   (b) bench/netmon_delivery takes them from the provider without the store,
# and `tcpdump -w /dev/null` captures the same burst. For each it prints the frames sent, kept
# and dropped by the kernel, the send rate, the provider's batch sizes, and the CPU time (user +
# system, all threads) each capturing process spent on the burst (for tidewatch, up to the end
# of the capture, without the writing of the file after it): in total, per frame, and as a
# ratio to tcpdump's.
#
#     sudo bench/compare_netmon.sh [BUILD_DIR]     (default: build/release, built here)
#
# Environment: RUNS (bursts per case, default 3), FRAMES (default 65536).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
runs=${RUNS:-3}
frames=${FRAMES:-65536}

[ "$(id -u)" -eq 0 ] || { echo "compare_netmon: needs root (network namespaces)" >&2; exit 1; }
for tool in tcpreplay tcpdump ip; do
  command -v "$tool" >/dev/null || { echo "compare_netmon: $tool is not installed" >&2; exit 1; }
done
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C "$build" tidewatch gen_traffic netmon_delivery npptools >/dev/null

tag="nb$$"
a="twA$tag" b="twB$tag" ifa="twa$tag" ifb="twb$tag"
work=$(mktemp -d)
cleanup() {
  for ns in "$a" "$b"; do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null || true; done
    ip netns del "$ns" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
ip netns add "$a"
ip netns add "$b"
ip link add "$ifa" type veth peer name "$ifb"
ip link set "$ifa" netns "$a"
ip link set "$ifb" netns "$b"
for ns in "$a" "$b"; do
  ip -n "$ns" link set lo up
  # No router solicitations or listener reports: the burst is all there is on the link.
  ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
done
ip -n "$a" link set "$ifa" up
ip -n "$b" link set "$ifb" up
# The settings of this run stay in the scratch folder.
export XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state"

traffic="$work/traffic.pcap"
"$build/bench/gen_traffic" --count "$frames" "$traffic" >/dev/null

# CPU time in nanoseconds of all threads of a process.
cpu_ns() {
  local total=0 run rest
  for f in /proc/"$1"/task/*/schedstat; do
    read -r run rest <"$f" || true
    total=$((total + run))
  done
  echo "$total"
}

# The CPU time of a process's threads, read every 5 ms for as long as all the threads it had at
# the start live; prints the last reading. The time of a thread that has ended is no longer
# listed, and the capture ends with its provider thread: tidewatch stops capturing by itself
# once the store is full, and what it does after (writing the file, ending) is not the burst.
cpu_while_threads_live() {
  local threads last=0 now
  threads=$(ls "/proc/$1/task" | wc -l)
  while [ "$(ls "/proc/$1/task" 2>/dev/null | wc -l)" -ge "$threads" ]; do
    now=$(cpu_ns "$1" 2>/dev/null) || break
    # A reading taken as the thread ends lacks its time: keep the largest.
    [ "$now" -gt "$last" ] && last=$now
    sleep 0.005
  done
  echo "$last"
}

# Waits until the file holds the text.
wait_for() {
  for _ in $(seq 1 100); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done
  echo "compare_netmon: '$2' not seen in $1" >&2
  return 1
}

wait_for_threads() {
  for _ in $(seq 1 100); do
    [ "$(ls "/proc/$1/task" 2>/dev/null | wc -l)" -ge "$2" ] && return 0
    sleep 0.05
  done
  echo "compare_netmon: the capture did not start" >&2
  return 1
}

# One burst: $1 names the case, the rest is the capturing command (run in namespace A).
burst() {
  local name=$1
  shift
  ip netns exec "$a" tcpdump -i "$ifa" -w /dev/null >"$work/tcpdump.out" 2>&1 &
  local dump=$!
  ip netns exec "$a" "$@" >"$work/own.out" 2>&1 &
  local own=$!
  wait_for "$work/tcpdump.out" "listening on"
  # tidewatch: its main thread, the capture thread and the provider's once the capture runs.
  case $name in
    tidewatch) wait_for_threads "$own" 3 ;;
    *) wait_for "$work/own.out" "listening on" ;;
  esac
  local own0 dump0 own1 dump1 rate sampler
  own0=$(cpu_ns "$own")
  dump0=$(cpu_ns "$dump")
  cpu_while_threads_live "$own" >"$work/own.cpu" &
  sampler=$!
  rate=$(ip netns exec "$b" tcpreplay --topspeed -i "$ifb" "$traffic" 2>&1 |
         awk '/Rated:/ {printf "%.0f", $6}')
  sleep 0.5  # the last blocks are handed over
  dump1=$(cpu_ns "$dump")
  kill -INT "$own" "$dump" 2>/dev/null || true
  wait "$own" "$dump" "$sampler" || true
  own1=$(cat "$work/own.cpu")

  local kept dropped batches dumped
  if [ "$name" = tidewatch ]; then
    kept=$(awk '/packets captured/ {print $1}' "$work/own.out")
    dropped=$(awk '/dropped by the kernel/ {print $1}' "$work/own.out")
    batches=$(grep -o '[0-9]* batches.*' "$work/own.out" || echo "no batches")
  else
    kept=$(awk '/ frames, / {print $1}' "$work/own.out")
    dropped=$(awk '/received by the kernel/ {print $(NF-1)}' "$work/own.out")
    batches=$(grep -o '^[0-9]* batches.*' "$work/own.out" || echo "no batches")
  fi
  dumped=$(awk '/packets captured/ {print $1}' "$work/tcpdump.out")
  local own_ns=$((own1 - own0)) dump_ns=$((dump1 - dump0))
  awk -v name="$name" -v sent="$frames" -v kept="${kept:-0}" -v dropped="${dropped:-?}" \
      -v rate="$rate" -v own="$own_ns" -v dump="$dump_ns" -v dumped="${dumped:-0}" \
      -v batches="$batches" 'BEGIN {
    printf "%-16s sent %d at %d frames/s; kept %d, kernel drops %s; %s\n", name, sent, rate, kept, dropped, batches
    printf "%-16s CPU %.1f ms (%.3f us/frame); tcpdump %.1f ms (%.3f us/frame, kept %d); ratio %.2f\n",
      "", own / 1e6, own / 1e3 / sent, dump / 1e6, dump / 1e3 / sent, dumped, (dump > 0 ? own / dump : 0)
  }'
}

echo "$frames frames of mixed traffic, $(stat -c %s "$traffic") bytes; $runs bursts per case"
for _ in $(seq 1 "$runs"); do
  burst tidewatch "$build/tidewatch" --capture --method 2 --device "$ifa" --write "$work/out.tdw"
done
for _ in $(seq 1 "$runs"); do
  burst netmon_delivery "$build/bench/netmon_delivery" "$ifa"
done
