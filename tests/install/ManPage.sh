#!/usr/bin/env bash
# The manual page renders without warnings, and it and the bash completion name every option
# that tidewatch --help names.
#     ManPage.sh TIDEWATCH MANPAGE COMPLETION
set -euo pipefail
tidewatch=$1 page=$2 completion=$3
failures=0

options=$("$tidewatch" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
[ -n "$options" ] || { echo "FAIL: tidewatch --help names no options" >&2; exit 1; }

warnings=$(LC_ALL=C MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "FAIL: man -l warns: $warnings" >&2; failures=$((failures + 1)); }
rendered=$(LC_ALL=C MANWIDTH=200 man -l "$page" 2>/dev/null | col -b)

for option in $options; do
  pattern="(^|[^a-z-])$option([^a-z-]|\$)"
  grep -qE -- "$pattern" <<<"$rendered" ||
    { echo "FAIL: the manual page does not name $option" >&2; failures=$((failures + 1)); }
  grep -qE -- "$pattern" "$completion" ||
    { echo "FAIL: the bash completion does not offer $option" >&2; failures=$((failures + 1)); }
done
[ "$failures" = 0 ]
