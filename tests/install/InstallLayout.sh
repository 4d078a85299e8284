#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR under prefix /usr and checks what desktops, the
# shell and users look for there; the installed programs run from that folder, which is not
# where they were configured to live.
#     InstallLayout.sh BUILD_DIR TIDEWATCH PRIVATE_DIR
set -euo pipefail
build=$1 built=$2 private=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

DESTDIR=$work/root cmake --install "$build" --prefix /usr >"$work/install.log" ||
  { cat "$work/install.log" >&2; exit 1; }
usr=$work/root/usr
share=$usr/share

expected=(bin/tidewatch "$private/tidewatch-window" "$private/tidewatch-capture"
          share/doc/tidewatch/copyright share/doc/tidewatch/changelog.Debian.gz
          share/doc-base/tidewatch share/lintian/overrides/tidewatch share/applications/tidewatch.desktop
          share/mime/packages/tidewatch.xml share/icons/hicolor/scalable/apps/tidewatch.svg
          share/man/man1/tidewatch.1.gz share/bash-completion/completions/tidewatch
          share/doc/tidewatch/manual/index.html)
# The provider goes with the window program when the build has it.
[ -n "$(find "$build" -name libnpptools.so -print -quit)" ] && expected+=("$private/libnpptools.so")
for file in "${expected[@]}"; do
  [ -f "$usr/$file" ] || fail "not installed: $file"
done

# The helper that holds the capture right loads no GUI toolkit.
needed=$(readelf -d "$usr/$private/tidewatch-capture" 2>&1 | grep -i 'NEEDED' || true)
! grep -qi 'qt' <<<"$needed" || fail "the capture helper links Qt: $needed"

desktop=$share/applications/tidewatch.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop file"

# The databases the desktop builds from these files.
XDG_DATA_DIRS=$share update-mime-database "$share/mime" 2>"$work/mime.log" && [ ! -s "$work/mime.log" ] ||
  fail "update-mime-database: $(cat "$work/mime.log")"
grep -q ':application/x-tidewatch-capture:\*\.tdw$' "$share/mime/globs2" ||
  fail "*.tdw is not a Tidewatch capture in the MIME database"
grep -q '^application/x-pcapng$' "$share/mime/types" || fail "no pcapng type in the MIME database"
update-desktop-database "$share/applications" || fail "update-desktop-database"
for type in $(sed -n 's/^MimeType=//p' "$desktop" | tr ';' ' '); do
  grep -q "^$type=.*tidewatch.desktop" "$share/applications/mimeinfo.cache" ||
    fail "$type does not open with Tidewatch"
done

icon=$(sed -n 's/^Icon=//p' "$desktop")
for size in 16 24 32 48 64 128 256; do
  png=$share/icons/hicolor/${size}x${size}/apps/$icon.png
  [ "$(identify -format '%wx%h' "$png" 2>/dev/null)" = "${size}x${size}" ] ||
    fail "$png is not a ${size}x${size} picture"
done

# Every picture and page the manual refers to is installed with it.
for page in "$share/doc/tidewatch/manual/"*.html; do
  for ref in $(grep -oE '(src|href)="[^":#]+' "$page" | sed 's/^[a-z]*="//'); do
    [ -e "$(dirname "$page")/$ref" ] || fail "$(basename "$page") refers to missing $ref"
  done
done

# The manual's doc-base registration names installed pages.
while read -r page; do
  compgen -G "$work/root$page" >/dev/null || fail "doc-base names $page, which is not installed"
done < <(sed -n 's/^\(Index\|Files\): //p' "$share/doc-base/tidewatch")

MANWIDTH=80 man -l "$share/man/man1/tidewatch.1.gz" 2>&1 | grep -q '^NAME' ||
  fail "the installed manual page does not render"

# The installed program reads a capture as the built one does.
python3 "$here/MakeCapture.py" "$work/mix.pcap"
"$built" --list "$work/mix.pcap" >"$work/built.txt"
"$usr/bin/tidewatch" --list "$work/mix.pcap" >"$work/installed.txt" ||
  fail "installed tidewatch --list exits $?"
[ -s "$work/built.txt" ] && cmp -s "$work/built.txt" "$work/installed.txt" ||
  fail "installed --list differs: $(diff "$work/built.txt" "$work/installed.txt")"

# The installed tidewatch finds its window program: the window is still up after 3 seconds.
mkdir -p "$work/run"
status=0
(cd "$work/run" && XDG_CONFIG_HOME=$work/run QT_QPA_PLATFORM=offscreen \
  timeout 3 "$usr/bin/tidewatch" 2>"$work/window.log") || status=$?
[ "$status" = 124 ] || fail "the installed window did not start (exit $status): $(cat "$work/window.log")"

[ "$failures" = 0 ]
