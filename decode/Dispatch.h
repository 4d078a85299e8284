// The decode dispatcher: turns one stored packet into the text of the detail pane, in one of
// three views. The layered view walks link header, network header, transport header and an
// application decoder chosen by Ethernet type or port, and ends with a hexadecimal dump of
// whatever no layer consumed.
//
// Text conventions shared by every describer: lines are separated by "\r\n"; a layer's title has
// no tab, each of its fields is "\r\n\t" + label + ": " + value; a describer does not end its text
// with a line break, the dispatcher appends "\r\n" after each layer.
//
// The steps below the root take the cursor and remaining count by value: what a step consumes is
// not seen by its caller.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "framework/str.h"

struct PacketRecord;
class IPHeader;

enum class DecodeViewKind : int {
    PacketParser = 1,  // the layered description
    ASCIIData = 2,     // the payload characters
    RawData = 3,       // the hexadecimal dump of the whole frame
};

// The current view, changed by the View commands; read by every description.
extern std::atomic<DecodeViewKind> DecodeView;

// Held by DescribePacket for its whole run, so that one description is built at a time.
extern std::mutex DecodeLock;

// Empties the text and fills it with the record's description in the current view. True.
bool DescribePacket(const PacketRecord& record, str& text);

// The two roots of the layered walk. False when the root header does not parse: nothing at all
// for Ethernet, a raw dump of what the parse left for IP.
bool DescribeEthernet(const uint8_t* bytes, int32_t length, str& text);
bool DescribeIP(const uint8_t* bytes, int32_t length, str& text);

// The steps below the network layer. ICMP and the transport headers take the IP header in front
// of them for their checksums.
bool DescribeARP(const uint8_t* cursor, int32_t remaining, str& text);
bool DescribeICMP(const IPHeader& ip, const uint8_t* cursor, int32_t remaining, str& text);
bool DescribeTCP(const IPHeader& ip, const uint8_t* cursor, int32_t remaining, str& text);
bool DescribeUDP(const IPHeader& ip, const uint8_t* cursor, int32_t remaining, str& text);

// Decodes the payload by port. A decoder that parses commits the cursor; the DNS and port-143
// rules describe without advancing it, so the raw dump that follows repeats their payload.
// True only when a decoder committed the cursor.
bool DescribeApplication(uint16_t sourcePort, uint16_t destPort, const uint8_t*& cursor,
                         int32_t& remaining, str& text);

// The bytes 16 to a line as hexadecimal and as characters, under the title "Raw Data". Nothing
// for a length of 0. True.
bool DescribeRawData(const uint8_t* bytes, int32_t length, str& text);

// The frame's bytes behind the IP and transport headers as characters, at most 80 to a line.
// True.
bool DescribeASCII(const PacketRecord& record, str& text);

// Parses the object from copies of the cursor and remaining count. On success the copies are
// committed and the object's description appended; on failure the caller's values stay.
template <class Decoder>
bool TryDescribe(Decoder& decoder, const uint8_t*& cursor, int32_t& remaining, str& text) {
    const uint8_t* trial = cursor;
    int32_t left = remaining;
    if (!decoder.Parse(trial, left)) return false;
    cursor = trial;
    remaining = left;
    decoder.Describe(text);
    return true;
}
