#!/usr/bin/env bash
# Remakes the seeds of fuzz_files in fuzz/corpus/files: small captures of the project's own
# traffic mix in each format the readers take. Each seed's first byte chooses the extension the
# fuzzer gives the rest (0 .tdw, 1 .cap, 2 .pcap).
#
#     fuzz/make_files_corpus.sh BUILD_DIR     (a build with the gen_traffic target; needs editcap)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: make_files_corpus.sh BUILD_DIR}
ninja -C "$build" gen_traffic >/dev/null
gen="$build/bench/gen_traffic"
out="$root/fuzz/corpus/files"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

seed() {  # seed NAME SELECTOR FILE
  { printf "\\x$2"; cat "$3"; } >"$out/$1"
}

"$gen" --count 4 --format tdw "$work/own.tdw"
"$gen" --first 6 --count 10 "$work/mix.pcap"
"$gen" --first 9 --count 4 "$work/small.pcap"
editcap -F netmon1 "$work/small.pcap" "$work/netmon1.cap"
editcap -F netmon2 "$work/small.pcap" "$work/netmon2.cap"

seed own_tdw 00 "$work/own.tdw"
seed mix_pcap 02 "$work/mix.pcap"
seed netmon1_cap 01 "$work/netmon1.cap"
seed netmon2_cap 01 "$work/netmon2.cap"
seed pcap_as_cap 01 "$work/small.pcap"
ls -l "$out"
