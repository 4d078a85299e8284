#include "files/PacketRow.h"

#include <charconv>

namespace {

// Decimal text without a printf round trip: a listing builds several per row.
void AssignDecimal(str& text, uint32_t value) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text.Assign(digits, static_cast<size_t>(end - digits));
}

// Two decimal digits, or three; the value is below 100 (1000).
char* PutDigits(char* out, uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

}  // namespace

// Formatted by hand rather than with "%02d:%02d:%02d.%03d": a listing formats one per row.
void FormatTimeOffset(uint32_t t, str& text) {
    const uint32_t hours = t / 3600000;
    const uint32_t minutes = (t % 3600000) / 60000;
    const uint32_t seconds = (t % 3600000 % 60000) / 1000;
    const uint32_t milliseconds = t % 1000;
    char buffer[32];
    char* p = hours < 10 ? PutDigits(buffer, hours, 2)
                         : std::to_chars(buffer, buffer + 16, hours).ptr;  // not wrapped at 24
    *p++ = ':';
    p = PutDigits(p, minutes, 2);
    *p++ = ':';
    p = PutDigits(p, seconds, 2);
    *p++ = '.';
    p = PutDigits(p, milliseconds, 3);
    text.Assign(buffer, static_cast<size_t>(p - buffer));
}

void BuildPacketRow(const PacketRecord& record, PacketRow& row) {
    for (str& column : row.columns) column.Clear();
    AssignDecimal(row.columns[kColumnNumber], record.index);
    row.columns[kColumnFrameType] = record.frameType == 1 ? "RAW IP" : "ETHERNET";
    FormatTimeOffset(record.timeOffset, row.columns[kColumnTime]);
    ProtocolName(record, row.columns[kColumnProtocol]);
    if (!record.source.Empty()) row.columns[kColumnSource] = record.source.c_str();
    if (!record.destination.Empty()) row.columns[kColumnDestination] = record.destination.c_str();
    if (record.protocol == 6 || record.protocol == 17) {
        AssignDecimal(row.columns[kColumnSourcePort], record.sourcePort);
        AssignDecimal(row.columns[kColumnDestinationPort], record.destinationPort);
    }
    AssignDecimal(row.columns[kColumnSize], record.length);
}
