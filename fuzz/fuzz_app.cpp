// libFuzzer target for the application decoders: the first byte picks a class, the rest is the
// payload handed to its Parse, then Describe (and Build into a bounded buffer) runs on the result.
// The decoders must never read past the payload, and the cursor must stay inside it.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "decode/BONE.h"
#include "decode/DHCP.h"
#include "decode/NetBIOS.h"
#include "decode/rwho.h"
#include "framework/str.h"

namespace {

template <typename P>
void Exercise(P& packet, const uint8_t* data, int32_t size) {
    const uint8_t* cursor = data;
    int32_t remaining = size;
    packet.Parse(cursor, remaining);
    if (remaining < 0 || remaining > size || cursor != data + (size - remaining)) std::abort();

    // Build writes only what fits; give it a buffer of the payload's size (at least 1).
    std::vector<uint8_t> out(static_cast<size_t>(size) + 1);
    uint8_t* write = out.data();
    int32_t room = size;
    packet.Build(write, room);
    if (room < 0 || room > size || write != out.data() + (size - room)) std::abort();
}

template <typename P>
void ParseAndDescribe(const uint8_t* data, int32_t size) {
    P packet;
    Exercise(packet, data, size);
    str text;
    packet.Describe(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 70000) return 0;
    const uint8_t selector = data[0];
    // The payload in an allocation of its own size, so that any read past it is caught.
    const std::vector<uint8_t> payload(data + 1, data + size);
    const uint8_t* bytes = payload.data();
    const int32_t length = static_cast<int32_t>(payload.size());

    switch (selector % 10) {
    case 0: ParseAndDescribe<DHCPPacket>(bytes, length); break;
    case 1: ParseAndDescribe<NBNSNameQuery>(bytes, length); break;
    case 2: ParseAndDescribe<NBNSQuestion>(bytes, length); break;
    case 3: ParseAndDescribe<NBNSResourceRecord>(bytes, length); break;
    case 4: {
        NBNSAddressRecord record;
        Exercise(record, bytes, length);
        str text;
        record.Describe(text);
        NBNSAddr addr;
        Exercise(addr, bytes, length);
        break;
    }
    case 5: ParseAndDescribe<rwhoPacket>(bytes, length); break;
    case 6: ParseAndDescribe<BONEPacket>(bytes, length); break;
    case 7: ParseAndDescribe<DECDNARCSystemIDPacket>(bytes, length); break;
    case 8: ParseAndDescribe<DECDNAInfo>(bytes, length); break;
    case 9: {
        // Name coding on a buffer of exactly the payload's size.
        std::vector<uint8_t> buffer(payload.begin(), payload.end());
        if (buffer.empty()) buffer.push_back(0);
        const int32_t n = static_cast<int32_t>(payload.size());
        DecodeNetBIOSName(buffer.data(), n);
        std::vector<char> name(payload.begin(), payload.end());
        name.push_back(0);
        EncodeNetBIOSName(name.data(), buffer.data(), static_cast<int32_t>(buffer.size()),
                          selector & 0x80);
        break;
    }
    }
    return 0;
}
