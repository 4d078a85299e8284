#include "ui/PacketContextMenu.h"

#include "capture/CaptureFilters.h"

std::vector<ContextMenuItem> ContextMenuItems(const PacketRecord& packet, int selectedRows,
                                              int method) {
    std::vector<ContextMenuItem> items;
    if (selectedRows > 1) {
        items.push_back({kContextReplay, kReplayThesePackets});
        return items;
    }
    if (selectedRows != 1) return items;
    for (const QuickFilterEntry& entry : QuickFilterEntries(packet)) {
        items.push_back({entry.item, std::string(entry.text.c_str(), entry.text.Length())});
    }
    // Replaying needs the packet-capture library's driver.
    if (method == 3) {
        items.push_back({kContextSeparator, std::string()});
        items.push_back({kContextReplay, kReplayThisPacket});
    }
    return items;
}
