// The DNS describer: turns the payload of a TCP or UDP packet on port 53 into decode text.
//
// There is no packet class: these functions read the messages straight from the payload bytes.
// Every DNS line ends with a bare line feed and is indented by leading tabs. Nothing is read
// outside the data handed to DescribeDNS: a field that does not lie wholly within it ends the
// description (or, inside record data, the record's text), and compression pointers are followed
// only to targets inside the data and for at most 64 hops.
#pragma once

#include <cstdint>

#include "framework/str.h"

// Whether compression offsets are shifted past a 2-byte TCP length prefix (offsets count from the
// DNS header, not from the prefix). DescribeDNS sets it at its start and the name reader follows
// it. It is per thread: a description runs on one thread from start to end, so two descriptions
// running at the same time (the decode lock serialises the detail pane's, but tests and fuzzers
// call in directly) never see each other's framing.
enum class DNSFraming : uint8_t { Bare, Prefixed };
extern thread_local DNSFraming dnsFraming;

// Appends the description of every message in the data and returns 1 when the data was walked to
// its end, 0 when the description stopped early. A nonzero plain flag says the data is one bare
// message without TCP length prefix; with 0 the framing is detected per message.
int DescribeDNS(const uint8_t* data, int32_t length, int plain, str& text);

// Reads the possibly compressed name at position, for the message that starts at message; end is
// the end of the data (position must not lie beyond it). Returns the bytes the name occupies at
// position (2 for any success when nested is set), or 0 on failure; name holds the dot-separated
// labels, empty for the root or after a failure.
uint16_t ReadDNSName(const uint8_t* position, const uint8_t* message, const uint8_t* end,
                     str& name, bool nested);

// Reads one character-string (or, behind a compression pointer, a name) at position; returns the
// bytes it occupies (2 for any success when nested is set), or 0 on failure. An empty string
// fails.
uint16_t ReadDNSString(const uint8_t* position, const uint8_t* message, const uint8_t* end,
                       str& text, bool nested);

// "Unknown type" for a type not in the table.
const char* DNSTypeName(uint16_t type);
// "Unknown Class" for a class not in the table.
const char* DNSClassName(uint16_t dnsClass);

// Appends the type-specific lines for one record whose data starts at recordData (not beyond end)
// and is declared recordLength bytes long. A value that does not lie wholly within the data, or a
// name or string that cannot be read, ends the record's text.
void DescribeDNSRecordData(uint16_t type, const uint8_t* recordData, const uint8_t* message,
                           const uint8_t* end, uint16_t recordLength, str& text);
