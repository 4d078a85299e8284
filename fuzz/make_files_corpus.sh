#!/usr/bin/env bash
# Remakes the seeds of fuzz_files in fuzz/corpus/files: small captures of the project's own
# traffic mix in each format the readers take. Each seed's first byte chooses the extension the
# fuzzer gives the rest (0 .tdw, 1 .cap, 2 .pcap, 3 .pcapng).
#
#     fuzz/make_files_corpus.sh BUILD_DIR     (a build with the gen_traffic and tidewatch
#                                             targets; needs editcap and mergecap)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: make_files_corpus.sh BUILD_DIR}
ninja -C "$build" gen_traffic tidewatch >/dev/null
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
editcap -F nsecpcap "$work/small.pcap" "$work/nsec.pcap"
data="$root/tests/files/data"
# Several interfaces and link types (Ethernet, Linux cooked v1 and v2) in one pcapng.
mergecap -w "$work/merged.pcapng" "$work/small.pcap" "$data/cooked.pcap" "$data/cooked2.pcap"
# Raw IP, written by the program itself.
"$build/tidewatch" --convert "$data/cooked.pcap" "$work/raw.pcap" 2>/dev/null
# A big-endian libpcap file: the header's and each record's fields byte-swapped.
python3 - "$work/small.pcap" "$work/bigendian.pcap" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
out = bytearray(struct.pack('>IHHiIII', *struct.unpack('<IHHiIII', data[:24])))
at = 24
while at + 16 <= len(data):
    fields = struct.unpack('<IIII', data[at:at + 16])
    out += struct.pack('>IIII', *fields) + data[at + 16:at + 16 + fields[2]]
    at += 16 + fields[2]
open(sys.argv[2], 'wb').write(out)
PY

seed own_tdw 00 "$work/own.tdw"
seed mix_pcap 02 "$work/mix.pcap"
seed netmon1_cap 01 "$work/netmon1.cap"
seed netmon2_cap 01 "$work/netmon2.cap"
seed pcap_as_cap 01 "$work/small.pcap"
seed nsec_pcap 02 "$work/nsec.pcap"
seed bigendian_pcap 02 "$work/bigendian.pcap"
seed raw_pcap 02 "$work/raw.pcap"
seed merged_pcapng 03 "$work/merged.pcapng"
seed pcapng_as_tdw 00 "$work/merged.pcapng"
cp "$data/cooked2.pcap" "$work/cooked2.pcap"
seed cooked2_pcap 02 "$work/cooked2.pcap"
ls -l "$out"
