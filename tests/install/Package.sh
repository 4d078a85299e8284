#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, installs it with dpkg and checks the capture
# rights: only the helper holds one (cap_net_raw), runnable by root and the group alone; the
# programs are open to everyone and hold none. A member captures through the helper (methods 1, 2
# and 3, byte for byte what tcpdump sees) and replays; anyone else opens files but cannot
# capture. An administrator's dpkg-statoverride survives a reinstall; purging leaves no
# capability and removes the group only when the package made it. Needs root and a machine
# without a tidewatch package and group; the package, the test's users, group, statoverride and
# namespaces are removed however the test ends.
#     Package.sh BUILD_DIR GROUP HELPER "PROGRAMS"
set -euo pipefail
build=$1 group=$2 helper=$3
read -r -a programs <<<"$4"
here=$(cd "$(dirname "$0")" && pwd)

[ "$(id -u)" = 0 ] || { echo "SKIP: installing a package needs root"; exit 77; }
if dpkg-query -W -f='${Status}' tidewatch 2>/dev/null | grep -q 'ok installed'; then
  echo "SKIP: a tidewatch package is installed on this machine; it is left alone"; exit 77
fi
getent group "$group" >/dev/null && { echo "SKIP: the group $group exists already"; exit 77; }

work=$(mktemp -d)
chmod 755 "$work"
member=twmem$$ outsider=twout$$
ns=twpkg$$ ifa=twa$$ ifb=twb$$
rights=/var/lib/twrights$$
override=0
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# dpkg refuses to run while another dpkg or apt holds its lock: wait for it.
dpkg_run() {
  local tries=0
  until dpkg "$@" >"$work/dpkg.log" 2>&1; do
    grep -q 'lock' "$work/dpkg.log" && [ $((tries += 1)) -lt 120 ] || { cat "$work/dpkg.log" >&2; return 1; }
    sleep 1
  done
}

cleanup() {
  ip netns del "$ns-a" 2>/dev/null || true
  ip netns del "$ns-b" 2>/dev/null || true
  for user in "$member" "$outsider"; do id "$user" >/dev/null 2>&1 && userdel "$user"; done
  [ "$override" = 1 ] && dpkg-statoverride --remove "$helper"
  dpkg-query -W tidewatch >/dev/null 2>&1 && dpkg_run --purge tidewatch
  getent group "$group" >/dev/null && groupdel "$group"
  rm -rf "$work" "$rights"
}
trap cleanup EXIT

# Runs a command as a user with a home of its own in the test's folder; NS=name runs it inside
# that network namespace.
as_user() {
  local who=$1; shift
  ${NS:+ip netns exec "$NS"} runuser -u "$who" -- env HOME="$work/$who" XDG_CONFIG_HOME="$work/$who" \
    XDG_STATE_HOME="$work/$who" XDG_CACHE_HOME="$work/$who" QT_QPA_PLATFORM=offscreen "$@"
}

# The capabilities of the installed files, one "path capabilities" line each.
installed_caps() {
  dpkg-query -L tidewatch | while read -r path; do [ -f "$path" ] && echo "$path"; done |
    xargs -d '\n' getcap
}

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; exit 1; }
deb=$(ls "$work"/out/tidewatch_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends lacks the Qt libraries: $depends"
grep -q "libpcap0.8" <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "libpcap is not recommended"
if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || fail "lintian: $(cat "$work/lintian.log")"
else
  echo "NOTE: lintian is not installed (scripts/setup package); the package is not linted"
fi

# ---- Installed by a machine without the group: the package makes it. --------------------------
dpkg_run -i "$deb" || { fail "dpkg -i"; exit 1; }
dpkg-query -L tidewatch >"$work/files"
getent group "$group" >/dev/null || fail "the package made no group $group"
[ "$(installed_caps)" = "$helper cap_net_raw=ep" ] ||
  fail "not the helper alone with cap_net_raw=ep: $(installed_caps)"
[ "$(stat -c '%U:%G %a' "$helper")" = "root:$group 750" ] ||
  fail "$helper is $(stat -c '%U:%G %a' "$helper"), not root:$group 750"
for program in "${programs[@]}"; do
  [ "$(stat -c '%U:%G %a' "$program")" = "root:root 755" ] ||
    fail "$program is $(stat -c '%U:%G %a' "$program"), not root:root 755"
done

useradd --system --no-create-home --shell /usr/sbin/nologin --groups "$group" "$member"
useradd --system --no-create-home --shell /usr/sbin/nologin "$outsider"
for user in "$member" "$outsider"; do install -d -o "$user" "$work/$user"; done
install -m 644 "$here/Frames.py" "$work/Frames.py"

# Anyone opens capture files, in the command-line modes and in the window; only the group runs
# the helper.
python3 "$here/MakeCapture.py" "$work/mix.pcap"
/usr/bin/tidewatch --list "$work/mix.pcap" >"$work/list-root.txt"
as_user "$outsider" /usr/bin/tidewatch --list "$work/mix.pcap" >"$work/list-outsider.txt" ||
  fail "a user outside the group cannot list a capture file"
[ -s "$work/list-root.txt" ] && cmp -s "$work/list-root.txt" "$work/list-outsider.txt" ||
  fail "the outsider's --list differs from root's"
status=0
as_user "$outsider" timeout 5 /usr/bin/tidewatch "$work/mix.pcap" 2>"$work/window.log" || status=$?
[ "$status" = 124 ] || fail "the window did not stay up for the outsider (exit $status): $(cat "$work/window.log")"
status=0
as_user "$outsider" "$helper" </dev/null >/dev/null 2>&1 || status=$?
[ "$status" = 126 ] || fail "a user outside the group ran the helper (exit $status)"

# ---- Live capture in the test's namespaces. ---------------------------------------------------
# A quiet link (no IPv6, permanent neighbours): only the pings cross it. tcpdump on the capturing
# end runs before and after every capture, so each capture must be a run of what it saw.
ip netns add "$ns-a" && ip netns add "$ns-b"
ip link add "$ifa" netns "$ns-a" address 02:00:00:00:00:0a type veth peer name "$ifb" netns "$ns-b" \
  address 02:00:00:00:00:0b
ip netns exec "$ns-a" sysctl -qw "net.ipv6.conf.$ifa.disable_ipv6=1"
ip netns exec "$ns-b" sysctl -qw "net.ipv6.conf.$ifb.disable_ipv6=1"
ip -n "$ns-a" addr add 10.213.0.1/24 dev "$ifa" && ip -n "$ns-a" link set "$ifa" up
ip -n "$ns-b" addr add 10.213.0.2/24 dev "$ifb" && ip -n "$ns-b" link set "$ifb" up
ip -n "$ns-a" neigh replace 10.213.0.2 lladdr 02:00:00:00:00:0b dev "$ifa" nud permanent
ip -n "$ns-b" neigh replace 10.213.0.1 lladdr 02:00:00:00:00:0a dev "$ifb" nud permanent

ip netns exec "$ns-a" tcpdump -Z root --immediate-mode -U -n -i "$ifa" -w "$work/seen.pcap" 2>"$work/tcpdump.log" &
tcpdump_pid=$!
for _ in $(seq 100); do grep -q 'listening on' "$work/tcpdump.log" && break; sleep 0.1; done

# Each capture ends by itself with its frames, or after 30 seconds.
capture() {
  local who=$1 out=$2; shift 2
  NS=$ns-a as_user "$who" /usr/bin/tidewatch --capture --count 6 --seconds 30 \
    --write "$work/$who/$out" "$@" >"$work/$out.log" 2>&1
}
pids=()
capture "$member" method1.pcap --method 1 --address 10.213.0.1 & pids[1]=$!
capture "$member" method2.pcap --method 2 --device "$ifa" & pids[2]=$!
capture "$member" method3.pcap --method 3 --device "$ifa" & pids[3]=$!
capture "$outsider" refused.pcap --method 3 --device "$ifa" & refused=$!
ip netns exec "$ns-b" ping -q -i 0.2 -w 60 10.213.0.1 >/dev/null 2>&1 &
ping_pid=$!
for method in 1 2 3; do
  wait "${pids[$method]}" || fail "a member could not capture with method $method: $(cat "$work/method$method.pcap.log")"
done
NS=$ns-a as_user "$member" python3 "$work/Frames.py" replay "$helper" "$ifa" "$work/$member/replay.pcap" ||
  fail "a member could not replay through the helper"
status=0
wait "$refused" || status=$?
grep -q 'not currently running as a local administrator' "$work/refused.pcap.log" && [ "$status" != 0 ] ||
  fail "the outsider's capture was not refused with the warning (exit $status): $(cat "$work/refused.pcap.log")"
# Every frame stored or sent must be in tcpdump's file: waited for (at most 10 seconds) before tcpdump
# stops, then checked.
compare_all() {
  local out minimum good=0
  for out in method1.pcap method2.pcap method3.pcap replay.pcap; do
    [ -f "$work/$member/$out" ] || continue
    minimum=$([ "$out" = replay.pcap ] && echo 1 || echo 6)
    python3 "$here/Frames.py" compare "$work/seen.pcap" "$work/$member/$out" "$minimum" ||
      { "$@" "$out"; good=1; }
  done
  return $good
}
for _ in $(seq 50); do compare_all true 2>/dev/null && break; sleep 0.2; done
kill "$ping_pid" 2>/dev/null || true
wait "$ping_pid" || true
kill -INT "$tcpdump_pid" && wait "$tcpdump_pid" || true
compare_all fail || true

# ---- An administrator's statoverride wins over a reinstall. -----------------------------------
dpkg-statoverride --add root root 0700 "$helper" && override=1
dpkg_run -i "$deb" || fail "dpkg -i over the statoverride"
[ "$(stat -c '%U:%G %a' "$helper")" = "root:root 700" ] ||
  fail "the reinstall did not keep the statoverride: $(stat -c '%U:%G %a' "$helper")"
[ -z "$(getcap "$helper")" ] || fail "a capability was put on an overridden helper: $(getcap "$helper")"
dpkg-statoverride --remove "$helper" && override=0

# ---- Purge: nothing left, and the group the package made goes with it. ------------------------
userdel "$member" && userdel "$outsider"
dpkg_run --purge tidewatch || fail "dpkg --purge"
[ -z "$(dpkg-query -L tidewatch 2>/dev/null)" ] || fail "dpkg -L still lists files after purge"
while read -r path; do
  [ -f "$path" ] && fail "left behind: $path"
done <"$work/files"
getent group "$group" >/dev/null && fail "the group $group made by the package is still there"
[ ! -e /var/lib/tidewatch ] || fail "/var/lib/tidewatch is left behind"
left=$(getcap -r /usr/bin /usr/lib 2>/dev/null | grep tidewatch || true)
[ -z "$left" ] || fail "capabilities left: $left"

# ---- A group that was there before: the build-folder recipe uses it, purge keeps it. ----------
groupadd --system "$group"
"$here/../../scripts/capture-rights" --dir "$work/rights" "$build" >"$work/rights.log" 2>&1 &&
  fail "capture-rights used a folder under a world-writable one"
grep -q refused "$work/rights.log" || fail "capture-rights did not say why: $(cat "$work/rights.log")"
"$here/../../scripts/capture-rights" --dir "$rights" "$build" >"$work/rights.log" 2>&1 ||
  fail "capture-rights: $(cat "$work/rights.log")"
[ "$(stat -c '%U:%G %a' "$rights/tidewatch-capture" 2>&1) $(getcap "$rights/tidewatch-capture" | cut -d' ' -f2)" = \
  "root:$group 750 cap_net_raw=ep" ] || fail "capture-rights installed: $(cat "$work/rights.log")"
"$here/../../scripts/capture-rights" --remove --dir "$rights" >/dev/null
[ ! -e "$rights" ] || fail "capture-rights --remove left $rights"

dpkg_run -i "$deb" || fail "dpkg -i with the group there"
dpkg_run --purge tidewatch || fail "dpkg --purge"
getent group "$group" >/dev/null || fail "purge removed the group $group that was there before"

[ "$failures" = 0 ]
