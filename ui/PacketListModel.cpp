#include "ui/PacketListModel.h"

#include <strings.h>

#include <QTimer>
#include <algorithm>

#include "capture/PacketStore.h"

PacketColumnInfo packetColumns[kPacketColumnCount] = {
    {"No", 30, true, true},
    {"Frame Type", 50, true, false},
    {"Time", 50, true, false},
    {"Protocol", 50, true, false},
    {"IP Src", 50, true, false},
    {"IP Dest", 50, true, false},
    {"Port Src", 40, true, false},
    {"Port Dest", 40, true, false},
    {"Size", 40, true, false},
};

namespace {

template <typename T>
int Order(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

bool IsStored(uint32_t index) {
    return index < static_cast<uint32_t>(GetPacketStore().Count());
}

}  // namespace

int ComparePackets(uint32_t a, uint32_t b, int column) {
    if (column < 0 || column >= kPacketColumnCount || !IsStored(a) || !IsStored(b)) return 0;
    const PacketStore& store = GetPacketStore();
    const PacketRecord& x = store[static_cast<int32_t>(a)];
    const PacketRecord& y = store[static_cast<int32_t>(b)];
    int result = 0;
    switch (column) {
        case kColumnNumber: result = Order(x.index, y.index); break;
        case kColumnFrameType: result = Order(x.frameType, y.frameType); break;
        case kColumnTime: result = Order(x.timeOffset, y.timeOffset); break;
        case kColumnProtocol: result = Order(x.protocol, y.protocol); break;
        // Address texts are ASCII, so ignoring ASCII letter case is ignoring case.
        case kColumnSource:
            result = Order(strcasecmp(x.source.c_str(), y.source.c_str()), 0);
            break;
        case kColumnDestination:
            result = Order(strcasecmp(x.destination.c_str(), y.destination.c_str()), 0);
            break;
        case kColumnSourcePort: result = Order(x.sourcePort, y.sourcePort); break;
        case kColumnDestinationPort: result = Order(x.destinationPort, y.destinationPort); break;
        case kColumnSize: result = Order(x.length, y.length); break;
    }
    return packetColumns[column].ascending ? result : -result;
}

PacketListModel::PacketListModel(QObject* parent) : QAbstractTableModel(parent) {
    // Room for a full store up front, so that appending never moves the rows.
    rows_.reserve(PacketStore::kLimit);
}

void PacketListModel::Enqueue(uint32_t index) {
    {
        std::lock_guard<std::mutex> lock(pendingLock_);
        pending_.push_back(index);
    }
    if (!flushScheduled_.exchange(true)) ScheduleFlush(0);
}

void PacketListModel::ScheduleFlush(int delayMilliseconds) {
    flushScheduled_.store(true);
    // Queued to the model's thread; a timer would need that thread to start it.
    QMetaObject::invokeMethod(
        this,
        [this, delayMilliseconds] {
            if (delayMilliseconds == 0) {
                flushScheduled_.store(false);
                Flush();
                return;
            }
            QTimer::singleShot(delayMilliseconds, this, [this] {
                flushScheduled_.store(false);
                Flush();
            });
        },
        Qt::QueuedConnection);
}

bool PacketListModel::HasPending() const {
    std::lock_guard<std::mutex> lock(pendingLock_);
    return !pending_.empty();
}

int PacketListModel::Flush() {
    std::vector<uint32_t> ready;
    bool waiting = false;
    {
        std::lock_guard<std::mutex> lock(pendingLock_);
        if (pending_.empty()) return 0;
        // Indexes arrive in increasing order: the ones whose records are complete come first.
        const uint32_t count = static_cast<uint32_t>(GetPacketStore().Count());
        auto complete = std::find_if(pending_.begin(), pending_.end(),
                                     [count](uint32_t index) { return index >= count; });
        ready.assign(pending_.begin(), complete);
        pending_.erase(pending_.begin(), complete);
        waiting = !pending_.empty();
    }
    if (waiting && !flushScheduled_.exchange(true)) ScheduleFlush(1);
    if (ready.empty()) return 0;
    const int first = Rows();
    const int last = first + static_cast<int>(ready.size()) - 1;
    beginInsertRows(QModelIndex(), first, last);
    rows_.insert(rows_.end(), ready.begin(), ready.end());
    if (bulk_) doomed_.resize(rows_.size(), 0);
    endInsertRows();
    emit RowsAppended(first, last);
    return last - first + 1;
}

void PacketListModel::Clear() {
    {
        std::lock_guard<std::mutex> lock(pendingLock_);
        pending_.clear();
    }
    beginResetModel();
    rows_.clear();
    doomed_.clear();
    cachedIndex_ = kNoPacket;
    endResetModel();
}

uint32_t PacketListModel::PacketAt(int row) const {
    return row >= 0 && row < Rows() ? rows_[static_cast<size_t>(row)] : kNoPacket;
}

int PacketListModel::RowOfPacket(uint32_t index) const {
    auto found = std::find(rows_.begin(), rows_.end(), index);
    return found == rows_.end() ? -1 : static_cast<int>(found - rows_.begin());
}

void PacketListModel::Sort(int column) {
    if (column < 0 || column >= kPacketColumnCount) return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<uint32_t> packets;
    packets.reserve(static_cast<size_t>(before.size()));
    for (const QModelIndex& index : before) packets.push_back(PacketAt(index.row()));

    std::stable_sort(rows_.begin(), rows_.end(), [column](uint32_t a, uint32_t b) {
        return ComparePackets(a, b, column) < 0;
    });

    // Where each packet went: one slot per stored index.
    std::vector<int> rowOf(static_cast<size_t>(GetPacketStore().Count()), -1);
    for (size_t row = 0; row < rows_.size(); ++row) {
        if (rows_[row] < rowOf.size()) rowOf[rows_[row]] = static_cast<int>(row);
    }
    QModelIndexList after;
    after.reserve(before.size());
    for (int i = 0; i < before.size(); ++i) {
        const uint32_t packet = packets[static_cast<size_t>(i)];
        const int row = packet < rowOf.size() ? rowOf[packet] : -1;
        after.push_back(row < 0 ? QModelIndex() : index(row, before[i].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void PacketListModel::BeginBulkRemoval() {
    bulk_ = true;
    doomed_.assign(rows_.size(), 0);
}

void PacketListModel::EndBulkRemoval() {
    bulk_ = false;
    // Contiguous runs are taken out from the last to the first; a list cut into too many runs
    // is rebuilt at once instead (the view then loses its selection).
    std::vector<std::pair<int, int>> runs;
    for (int row = 0; row < Rows(); ++row) {
        if (!doomed_[static_cast<size_t>(row)]) continue;
        if (!runs.empty() && runs.back().second == row - 1) {
            runs.back().second = row;
        } else {
            runs.push_back({row, row});
        }
    }
    constexpr size_t kMaxRuns = 64;
    if (runs.size() > kMaxRuns) {
        beginResetModel();
        size_t kept = 0;
        for (size_t row = 0; row < rows_.size(); ++row) {
            if (!doomed_[row]) rows_[kept++] = rows_[row];
        }
        rows_.resize(kept);
        endResetModel();
    } else {
        for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
            beginRemoveRows(QModelIndex(), run->first, run->second);
            rows_.erase(rows_.begin() + run->first, rows_.begin() + run->second + 1);
            endRemoveRows();
        }
    }
    doomed_.clear();
}

void PacketListModel::DeleteRow(int row) {
    if (row < 0 || row >= Rows()) return;
    if (bulk_) {
        doomed_[static_cast<size_t>(row)] = 1;
        return;
    }
    beginRemoveRows(QModelIndex(), row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
}

int PacketListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Rows();
}

int PacketListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kPacketColumnCount;
}

const PacketRow* PacketListModel::RowTexts(uint32_t index) const {
    if (!IsStored(index)) return nullptr;
    if (cachedIndex_ != index) {
        BuildPacketRow(GetPacketStore()[static_cast<int32_t>(index)], cachedRow_);
        cachedIndex_ = index;
    }
    return &cachedRow_;
}

QVariant PacketListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.column() >= kPacketColumnCount) {
        return {};
    }
    const PacketRow* row = RowTexts(PacketAt(index.row()));
    if (!row) return {};
    const str& text = row->columns[index.column()];
    return QString::fromLatin1(text.c_str(), static_cast<qsizetype>(text.Length()));
}

QVariant PacketListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= kPacketColumnCount) {
        return {};
    }
    return QString::fromLatin1(packetColumns[section].title);
}

Qt::ItemFlags PacketListModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}
