// Link types, as libpcap and pcapng files and live adapters give them: what a frame of each
// becomes in the store, and the link type a stored frame is written with.
#pragma once

#include <cstdint>

namespace linktype {

inline constexpr uint32_t kNull = 0;  // BSD loopback: 4-byte address family, host byte order
inline constexpr uint32_t kEthernet = 1;
inline constexpr uint32_t kRaw = 101;
inline constexpr uint32_t kLinuxCooked = 113;
inline constexpr uint32_t kIPv4 = 228;
inline constexpr uint32_t kIPv6 = 229;
inline constexpr uint32_t kLinuxCooked2 = 276;

}  // namespace linktype

// The frame type a frame of that link type is stored as: 2 Ethernet (bytes unchanged), 1 raw IP
// (data and length moved past the link header), or 0 when it is not stored: a link type the
// program does not decode, or a frame of a cooked or loopback type that carries no IP datagram.
int StoredFrameType(uint32_t linkType, const uint8_t*& data, uint32_t& length);

// Whether frames of that link type can be stored at all.
bool DecodesLinkType(uint32_t linkType);

// The link type of a live adapter's type as libpcap reports it: the same number, except raw IP,
// which the library numbers 12 (14 on OpenBSD) and files number 101.
inline uint32_t LinkTypeOfAdapter(int libraryType) {
    return libraryType == 12 || libraryType == 14 ? linktype::kRaw
                                                  : static_cast<uint32_t>(libraryType);
}

// The link type a stored frame of that type is written with.
inline uint32_t LinkTypeOf(int frameType) {
    return frameType == 2 ? linktype::kEthernet : linktype::kRaw;
}
