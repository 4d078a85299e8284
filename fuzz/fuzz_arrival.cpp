// Arbitrary bytes through the arrival handler (either frame type) and every header class's Parse.
#include <cstddef>
#include <cstdint>

#include "capture/CaptureFilters.h"
#include "capture/PacketStore.h"
#include "decode/IPHeaders.h"
#include "decode/LinkHeaders.h"
#include "decode/TransportHeaders.h"

namespace {

template <class Header>
void ParseWith(const uint8_t* data, size_t size) {
    Header header;
    const uint8_t* cursor = data;
    int32_t remaining = static_cast<int32_t>(size);
    header.Parse(cursor, remaining);
    if (remaining < 0 || cursor < data || cursor > data + size) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        AllocateStore();
        ResetFilters();
        return true;
    }();
    (void)ready;
    if (size < 1 || size > 65536) return 0;
    const int frameType = data[0] & 1 ? 2 : 1;
    ++data;
    --size;
    if (GetPacketStore().Count() > 4096) ClearStore();
    HandleArrival(data, static_cast<uint32_t>(size), frameType, true);

    ParseWith<EthernetHeader>(data, size);
    ParseWith<LLCHeader>(data, size);
    ParseWith<SNAPHeader>(data, size);
    ParseWith<ARPHeader>(data, size);
    ParseWith<IPHeader>(data, size);
    ParseWith<IPv4Header>(data, size);
    ParseWith<IPv6Header>(data, size);
    ParseWith<HBHOptHeader>(data, size);
    ParseWith<TCPHeader>(data, size);
    ParseWith<TCPv4Header>(data, size);
    ParseWith<UDPHeader>(data, size);
    ParseWith<UDPv4Header>(data, size);

    // Transport verification against a parsed network header, as the decoder does it.
    IPHeader ip;
    const uint8_t* cursor = data;
    int32_t remaining = static_cast<int32_t>(size);
    if (ip.Parse(cursor, remaining)) {
        TCPv4Header tcp;
        tcp.SetPseudoHeader(ip);
        const uint8_t* c = cursor;
        int32_t r = remaining;
        tcp.Parse(c, r);
        UDPv4Header udp;
        udp.SetPseudoHeader(ip);
        c = cursor;
        r = remaining;
        udp.Parse(c, r);
        (void)tcp.ChecksumStatus();
        (void)udp.ChecksumStatus();
    }
    return 0;
}
