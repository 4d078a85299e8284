// One stored frame: what its packet-list row shows and an owned copy of its bytes. The store that
// holds records lives above the decoders; the decoders see only the record.
#pragma once

#include <cstdint>
#include <memory>

#include "framework/str.h"

// A record's frame bytes: its own (the default: freed with the record) or lent by the store,
// which frees the bytes of all its records at once when it is cleared.
struct FrameBytesDeleter {
    bool owned = true;
    void operator()(uint8_t* bytes) const {
        if (owned) delete[] bytes;
    }
};
using FrameBytes = std::unique_ptr<uint8_t[], FrameBytesDeleter>;

struct PacketRecord {
    uint32_t index = 0;
    uint32_t timeOffset = 0;  // ms from the capture start tick, or as the file gives it
    uint16_t frameType = 0;   // 1 raw IP datagram, 2 Ethernet frame
    uint16_t isIp = 0;
    uint16_t protocol = 0;    // IP protocol when isIp, else the link protocol type
    str source;
    str destination;
    uint16_t sourcePort = 0;
    uint16_t destinationPort = 0;
    uint32_t length = 0;
    FrameBytes data;
};
