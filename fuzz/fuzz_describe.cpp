// Arbitrary bytes as a stored frame through DescribePacket in all three views.
//
// Input: one control byte, then the frame. Bit 0 of the control byte picks the frame type (set:
// Ethernet, clear: raw IP). The record's protocol is what the arrival handler would store (the
// Ethernet type, or the IP protocol when an IP header parses), unless bit 1 is set: then the
// next input byte is taken as the protocol, so that the ASCII view also meets records whose
// protocol does not match their bytes (as a file in the own format can hand over).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "capture/PacketStore.h"
#include "decode/Dispatch.h"
#include "decode/IPHeaders.h"
#include "decode/LinkHeaders.h"

namespace {

uint16_t ArrivalProtocol(const uint8_t* data, int32_t length, uint16_t frameType) {
    const uint8_t* cursor = data;
    int32_t remaining = length;
    uint16_t protocol = 0;
    if (frameType == 2) {
        EthernetHeader ethernet;
        ethernet.Parse(cursor, remaining);
        protocol = ethernet.GetType();
        if (protocol != 0x0800 && protocol != 0x86dd) return protocol;
    }
    IPHeader ip;
    return ip.Parse(cursor, remaining) ? ip.GetProtocol() : protocol;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 70000) return 0;
    const uint8_t control = data[0];
    ++data;
    --size;
    uint16_t forcedProtocol = 0;
    const bool forced = control & 2;
    if (forced) {
        if (size < 1) return 0;
        forcedProtocol = data[0];
        ++data;
        --size;
    }

    PacketRecord record;
    record.frameType = control & 1 ? 2 : 1;
    record.length = static_cast<uint32_t>(size);
    // The frame in an allocation of exactly its size, so that any read past it is caught.
    if (size) {
        record.data.reset(new uint8_t[size]);
        std::memcpy(record.data.get(), data, size);
    }
    record.protocol = forced ? forcedProtocol
                             : ArrivalProtocol(record.data.get(), static_cast<int32_t>(size),
                                               record.frameType);

    str text;
    for (DecodeViewKind view :
         {DecodeViewKind::PacketParser, DecodeViewKind::ASCIIData, DecodeViewKind::RawData}) {
        DecodeView.store(view);
        DescribePacket(record, text);
        // The text is a zero-terminated string: a zero byte inside it would cut the tree short.
        if (std::strlen(text.c_str()) != text.Length()) __builtin_trap();
    }
    return 0;
}
