#include "decode/Packet.h"

uint32_t InternetChecksum(const uint8_t* bytes, int32_t length) {
    uint32_t sum = 0;
    int32_t i = 0;
    // A 32-bit accumulator cannot overflow here: at most 32,767 words of at most 0xffff each
    // for a 65,535-byte frame, folded as we go to stay safe for any signed length.
    for (; i + 1 < length; i += 2) {
        sum += static_cast<uint32_t>(bytes[i]) | static_cast<uint32_t>(bytes[i + 1]) << 8;
        if (sum & 0x80000000u) sum = (sum & 0xffff) + (sum >> 16);
    }
    if (i < length) sum += bytes[i];
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return ~sum;
}
