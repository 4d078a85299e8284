// The texts of one packet-list row, built from a record's summary fields alone (no packet is
// decoded): the window's list and the headless --list mode both show exactly these.
#pragma once

#include <cstdint>

#include "capture/PacketStore.h"
#include "framework/str.h"

enum PacketColumn : int {
    kColumnNumber = 0,
    kColumnFrameType,
    kColumnTime,
    kColumnProtocol,
    kColumnSource,
    kColumnDestination,
    kColumnSourcePort,
    kColumnDestinationPort,
    kColumnSize,
    kPacketColumnCount
};

struct PacketRow {
    str columns[kPacketColumnCount];
};

// Fills every column for the record; a column with nothing to show is the empty text.
void BuildPacketRow(const PacketRecord& record, PacketRow& row);

// "%02d:%02d:%02d.%03d" of a time offset in milliseconds; hours are not wrapped at 24.
void FormatTimeOffset(uint32_t milliseconds, str& text);
