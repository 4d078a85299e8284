// What a packet-list row shows of a frame, read once by the arrival handler: frame type, network
// protocol, addresses, transport protocol and ports.
#pragma once

#include <cstdint>

#include "decode/PacketRecord.h"

// Fills the record's frameType, protocol, source, destination and ports from the frame's bytes
// (frame type 1 raw IP, 2 Ethernet). Sets isIp when an IP header parses and leaves it as it was
// otherwise (a file may have stored it). Ethernet frames carry their Ethernet type as protocol,
// with ARP's IPv4 addresses; IP frames carry the IP protocol and addresses, and TCP and UDP their
// ports, except in a later fragment, which has no transport header. True when IP parsed.
// With rowFields false only the frame type, the Ethernet type and the IP flag are filled: what a
// capture file keeps, for a store whose rows nobody will see.
bool SummariseFrame(const uint8_t* data, uint32_t length, int frameType, PacketRecord& record,
                    bool rowFields = true);
