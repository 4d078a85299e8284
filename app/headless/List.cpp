// --list FILE: the packet list as the window would show it after opening FILE, one line per
// stored packet in store order, the nine column texts joined by TAB.
#include <cstdio>
#include <vector>

#include "app/headless/HeadlessArrivalView.h"
#include "app/headless/Modes.h"
#include "files/PacketRow.h"

namespace {

// Lines are gathered in a large block and written with one call per block: a listing of a full
// store is several megabytes.
class Output {
public:
    Output() { buffer_.reserve(kFlushAt + 4096); }
    ~Output() { Flush(); }
    void Add(const char* text, size_t n) { buffer_.insert(buffer_.end(), text, text + n); }
    void Add(char c) { buffer_.push_back(c); }
    void EndLine() {
        buffer_.push_back('\n');
        if (buffer_.size() >= kFlushAt) Flush();
    }
    void Flush() {
        if (!buffer_.empty()) std::fwrite(buffer_.data(), 1, buffer_.size(), stdout);
        buffer_.clear();
    }

private:
    static constexpr size_t kFlushAt = 1 << 18;
    std::vector<char> buffer_;
};

}  // namespace

int RunList(const HeadlessOptions& options) {
    const bool opened = OpenForHeadless(options.file.c_str());
    const PacketStore& store = GetPacketStore();
    PacketRow row;
    {
        Output out;
        const int32_t count = store.Count();
        for (int32_t i = 0; i < count; ++i) {
            BuildPacketRow(store[i], row);
            for (int column = 0; column < kPacketColumnCount; ++column) {
                if (column) out.Add('\t');
                out.Add(row.columns[column].c_str(), row.columns[column].Length());
            }
            out.EndLine();
        }
    }
    std::fflush(stdout);
    return opened ? 0 : ReportOpenFailure();
}
