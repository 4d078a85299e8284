#include "decode/LinkTypes.h"

#include "decode/LinkHeaders.h"
#include "framework/Bytes.h"

namespace {

// Address families of IPv4 and of IPv6 as the BSDs, Linux, macOS and others number it.
bool IsIpFamily(uint32_t family) {
    return family == 2 || family == 10 || family == 24 || family == 28 || family == 30;
}

// Removes a link header of `size` bytes when the frame holds it and carries IP.
int StripTo(bool carriesIp, uint32_t size, const uint8_t*& data, uint32_t& length) {
    if (!carriesIp) return 0;
    data += size;
    length -= size;
    return 1;
}

}  // namespace

int StoredFrameType(uint32_t linkType, const uint8_t*& data, uint32_t& length) {
    switch (linkType) {
        case linktype::kEthernet:
            return 2;
        case linktype::kRaw:
        case linktype::kIPv4:
        case linktype::kIPv6:
            return 1;
        case linktype::kNull:
            // The family is in the byte order of the machine that wrote the file.
            return StripTo(length >= 4 && (IsIpFamily(bytes::LoadLe32(data)) ||
                                           IsIpFamily(bytes::LoadBe32(data))),
                           4, data, length);
        case linktype::kLinuxCooked: {
            const uint16_t protocol = length >= 16 ? bytes::LoadBe16(data + 14) : 0;
            return StripTo(protocol == kTypeIPv4 || protocol == kTypeIPv6, 16, data, length);
        }
        case linktype::kLinuxCooked2: {
            const uint16_t protocol = length >= 20 ? bytes::LoadBe16(data) : 0;
            return StripTo(protocol == kTypeIPv4 || protocol == kTypeIPv6, 20, data, length);
        }
        default:
            return 0;
    }
}

bool DecodesLinkType(uint32_t linkType) {
    switch (linkType) {
        case linktype::kNull:
        case linktype::kEthernet:
        case linktype::kRaw:
        case linktype::kLinuxCooked:
        case linktype::kIPv4:
        case linktype::kIPv6:
        case linktype::kLinuxCooked2:
            return true;
        default:
            return false;
    }
}
