#!/usr/bin/env bash
# Builds the Debian package, installs it with dpkg, checks the capture rights it sets up and
# that purging takes every trace away again. Needs root and a machine without a tidewatch
# package; the package, the test's user and its namespaces are removed however the test ends.
#     Package.sh BUILD_DIR GROUP "CAPTURE_PROGRAMS"
set -euo pipefail
build=$1 group=$2
read -r -a programs <<<"$3"

[ "$(id -u)" = 0 ] || { echo "SKIP: installing a package needs root"; exit 77; }
if dpkg-query -W -f='${Status}' tidewatch 2>/dev/null | grep -q 'ok installed'; then
  echo "SKIP: a tidewatch package is installed on this machine; it is left alone"; exit 77
fi
getent group "$group" >/dev/null && { echo "SKIP: the group $group exists already"; exit 77; }

work=$(mktemp -d)
chmod 755 "$work"
user=twpkg$$
ns=twpkg$$
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
  id "$user" >/dev/null 2>&1 && userdel "$user"
  dpkg-query -W tidewatch >/dev/null 2>&1 && dpkg_run --purge tidewatch
  getent group "$group" >/dev/null && groupdel "$group"
  rm -rf "$work"
}
trap cleanup EXIT

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; exit 1; }
deb=$(ls "$work"/out/tidewatch_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends lacks the Qt libraries: $depends"
grep -q "libpcap0.8" <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "libpcap is not recommended"

dpkg_run -i "$deb" || { fail "dpkg -i"; exit 1; }
dpkg-query -L tidewatch >"$work/files"

getent group "$group" >/dev/null || fail "the package made no group $group"
for program in "${programs[@]}"; do
  [ "$(stat -c '%U:%G %a' "$program")" = "root:$group 750" ] ||
    fail "$program is $(stat -c '%U:%G %a' "$program"), not root:$group 750"
  getcap "$program" | grep -q 'cap_net_admin,cap_net_raw=ep' ||
    fail "$program lacks its capture rights: $(getcap "$program")"
done

# A member of the group runs the program; anyone else may not.
useradd --system --no-create-home --shell /usr/sbin/nologin --groups "$group" "$user"
runuser -u "$user" -- /usr/bin/tidewatch --version >/dev/null || fail "a member cannot run tidewatch"
runuser -u nobody -- /usr/bin/tidewatch --version >/dev/null 2>&1 && fail "nobody runs tidewatch"

# ---- Live capture by a member of the group, method 3, in a network namespace. --------------
# Runs once the program has its --capture mode: the member captures on one end of a veth pair
# while the other namespace pings across it.
if /usr/bin/tidewatch --help | grep -q -- '--capture'; then
  install -d -o "$user" "$work/member"
  ip netns add "$ns-a" && ip netns add "$ns-b"
  ip link add twa$$ netns "$ns-a" type veth peer name twb$$ netns "$ns-b"
  ip -n "$ns-a" addr add 10.213.0.1/24 dev twa$$ && ip -n "$ns-a" link set twa$$ up
  ip -n "$ns-b" addr add 10.213.0.2/24 dev twb$$ && ip -n "$ns-b" link set twb$$ up
  ip netns exec "$ns-b" ping -q -c 20 -i 0.2 10.213.0.1 >/dev/null 2>&1 &
  ip netns exec "$ns-a" runuser -u "$user" -- /usr/bin/tidewatch --capture --method 3 \
    --device twa$$ --count 5 --seconds 10 --write "$work/member/capture.tdw" >"$work/capture.log" 2>&1 ||
    fail "a member could not capture: $(cat "$work/capture.log")"
  wait
  rows=$(/usr/bin/tidewatch --list "$work/member/capture.tdw" 2>/dev/null | grep -c ICMP || true)
  [ "$rows" -ge 1 ] || fail "the member's capture holds no ICMP packet"
else
  echo "NOTE: tidewatch has no --capture mode yet; the member's live capture is not checked"
fi
# ---------------------------------------------------------------------------------------------

userdel "$user"
dpkg_run --purge tidewatch || fail "dpkg --purge"
[ -z "$(dpkg-query -L tidewatch 2>/dev/null)" ] || fail "dpkg -L still lists files after purge"
while read -r path; do
  [ -f "$path" ] && fail "left behind: $path"
done <"$work/files"
getent group "$group" >/dev/null && fail "the group $group is still there"
left=$(getcap -r /usr/bin /usr/lib 2>/dev/null | grep tidewatch || true)
[ -z "$left" ] || fail "capabilities left: $left"

[ "$failures" = 0 ]
