// Arbitrary bytes as a stored frame through DescribePacket in all three views.
//
// Input: one control byte, then the frame. Bit 0 of the control byte picks the frame type (set:
// Ethernet, clear: raw IP). The record is summarised as the arrival handler summarises it,
// unless bit 1 is set: then the next input byte is taken as the protocol, so that the ASCII view
// also meets records whose protocol does not match their bytes (as a file in the own format can
// hand over).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "decode/Dispatch.h"
#include "decode/FrameSummary.h"

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
    SummariseFrame(record.data.get(), record.length, record.frameType, record);
    if (forced) record.protocol = forcedProtocol;

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
