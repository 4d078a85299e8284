#!/usr/bin/env bash
# Remakes the real-traffic captures of the capture-format tests: one short exchange between two
# network namespaces (ARP, ICMP, a TCP connection refused, a UDP datagram answered by ICMP port
# unreachable, ICMPv6 echo), captured at the same time on the Ethernet device (ethernet.pcap) and
# on the "any" device as Linux cooked v1 and v2 (cooked.pcap, cooked2.pcap). Needs root, iproute2
# and tcpdump; the namespaces are removed however the script ends.
#
#     tests/files/data/make_captures.sh
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)
a=twcapa$$ b=twcapb$$
work=$(mktemp -d)
cleanup() {
  jobs -p | xargs -r kill 2>/dev/null || true
  ip netns del "$a" 2>/dev/null || true
  ip netns del "$b" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
ip netns add "$a"
ip netns add "$b"
ip -n "$a" link add veth0 type veth peer name veth1 netns "$b"
ip -n "$a" addr add 10.77.0.1/24 dev veth0
ip -n "$b" addr add 10.77.0.2/24 dev veth1
ip -n "$a" addr add fd77::1/64 dev veth0 nodad
ip -n "$b" addr add fd77::2/64 dev veth1 nodad
for ns in "$a" "$b"; do ip -n "$ns" link set lo up; done
ip -n "$a" link set veth0 up
ip -n "$b" link set veth1 up
sleep 1

capture() {  # capture NAME TCPDUMP-ARGS...
  local name=$1; shift
  ip netns exec "$a" tcpdump -U -w "$work/$name" "$@" 2>"$work/$name.err" &
}
capture ethernet.pcap -i veth0
capture cooked.pcap -i any -y LINUX_SLL
capture cooked2.pcap -i any -y LINUX_SLL2
for f in ethernet.pcap cooked.pcap cooked2.pcap; do
  for _ in $(seq 100); do grep -q 'listening on' "$work/$f.err" && break; sleep 0.1; done
done

ip netns exec "$a" ping -c 1 -W 1 10.77.0.2 >/dev/null
ip netns exec "$a" bash -c 'echo x >/dev/tcp/10.77.0.2/80' 2>/dev/null || true
ip netns exec "$a" bash -c 'echo "a datagram long enough to store" >/dev/udp/10.77.0.2/53'
ip netns exec "$a" ping -6 -c 1 -W 1 fd77::2 >/dev/null
sleep 1
jobs -p | xargs -r kill -INT
wait || true
for f in ethernet.pcap cooked.pcap cooked2.pcap; do cp "$work/$f" "$out/$f"; done
ls -l "$out"/*.pcap
