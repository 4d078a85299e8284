// The packet list's context menu: the items it offers for a selection, built fresh on every
// right click. Item numbers are the menu's own (1 to 10), not command numbers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/PacketStore.h"

// The replay items and the separator before "Replay this packet".
inline constexpr int kContextSeparator = 8;
inline constexpr int kContextReplay = 9;

inline constexpr const char* kReplayThisPacket = "Replay this packet";
inline constexpr const char* kReplayThesePackets = "Replay these packets";
inline constexpr const char* kReplayFailed = "Error: Must use PCap driver to send packets";
// A raw IP datagram (frame type 1) has no link header for the sending drivers to put on the wire.
inline constexpr const char* kReplayOnlyEthernet = "Error: Only Ethernet frames can be replayed";

struct ContextMenuItem {
    int item;          // kContextSeparator: a separator, with no text
    std::string text;  // as shown, UTF-8
};

// The items, in menu order, for `selectedRows` selected rows, the right-clicked row's packet
// (used only with exactly one selected row) and the capture method. No row selected: no items.
std::vector<ContextMenuItem> ContextMenuItems(const PacketRecord& packet, int selectedRows,
                                              int method);
