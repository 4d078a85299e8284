#include "app/headless/Describe.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/headless/HeadlessArrivalView.h"
#include "app/headless/Output.h"
#include "capture/PacketStore.h"
#include "decode/DescriptionTree.h"
#include "decode/Dispatch.h"

namespace {

DecodeViewKind ViewFor(HeadlessView view) {
    switch (view) {
    case HeadlessView::Raw: return DecodeViewKind::RawData;
    case HeadlessView::Ascii: return DecodeViewKind::ASCIIData;
    case HeadlessView::Parser: break;
    }
    return DecodeViewKind::PacketParser;
}

void PrintPacket(const PacketRecord& record, int32_t index, bool asTree, str& text, HeadlessOutput& out) {
    DescribePacket(record, text);
    char heading[24];
    const int n = std::snprintf(heading, sizeof heading, "#%d\n", index);
    out.Add(std::string_view(heading, static_cast<size_t>(n)));
    const std::string_view description(text.c_str(), text.Length());
    if (!asTree) {
        out.Add(description);
        out.Add("\n");
        return;
    }
    static constexpr char kIndent[] = "                                                        ";
    ForEachDescriptionLine(description, [&](int depth, std::string_view label) {
        for (size_t spaces = 2 * static_cast<size_t>(depth); spaces > 0;) {
            const size_t piece = std::min(spaces, sizeof kIndent - 1);
            out.Add(std::string_view(kIndent, piece));
            spaces -= piece;
        }
        out.Add(label);
        out.Add("\n");
    });
}

}  // namespace

int RunDescribe(const HeadlessOptions& options) {
    const bool opened = OpenForHeadless(options.file.c_str());
    DecodeView.store(ViewFor(options.view), std::memory_order_release);
    const bool asTree = options.mode == HeadlessMode::Tree;

    const PacketStore& store = GetPacketStore();
    const int32_t count = store.Count();
    {
        HeadlessOutput out;
        str text;
        if (options.packet >= 0) {
            if (options.packet < count) {
                const int32_t index = static_cast<int32_t>(options.packet);
                PrintPacket(store[index], index, asTree, text, out);
            }
        } else {
            for (int32_t index = 0; index < count; ++index) {
                PrintPacket(store[index], index, asTree, text, out);
            }
        }
    }
    std::fflush(stdout);
    return opened ? 0 : ReportOpenFailure();
}
