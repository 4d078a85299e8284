// --list FILE: the packet list as the window would show it after opening FILE, one line per
// stored packet in store order, the nine column texts joined by TAB.
#include <cstdio>
#include <string_view>

#include "app/headless/HeadlessArrivalView.h"
#include "app/headless/Modes.h"
#include "app/headless/Output.h"
#include "files/PacketRow.h"

int RunList(const HeadlessOptions& options) {
    const bool opened = OpenForHeadless(options.file.c_str());
    const PacketStore& store = GetPacketStore();
    PacketRow row;
    {
        HeadlessOutput out;
        const int32_t count = store.Count();
        for (int32_t i = 0; i < count; ++i) {
            BuildPacketRow(store[i], row);
            for (int column = 0; column < kPacketColumnCount; ++column) {
                if (column) out.Add('\t');
                out.Add(std::string_view(row.columns[column].c_str(), row.columns[column].Length()));
            }
            out.Add("\n");
        }
    }
    std::fflush(stdout);
    return opened ? 0 : ReportOpenFailure();
}
