// The packet list: a table model whose rows are packet indexes into the store, in the order the
// list shows them. Row texts are built from the records on demand; nothing is kept per row but
// the index.
//
// Rows arrive from any thread (the arrival handler runs on whichever thread delivers a frame).
// They queue in arrival order and are inserted on the interface thread in one batch per event
// loop turn, each only once its record lies below the store's count.
#pragma once

#include <QAbstractTableModel>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "capture/CaptureFilters.h"
#include "files/PacketRow.h"

struct PacketColumnInfo {
    const char* title;
    int width;       // initial width in pixels, until the first resize
    bool shown;
    bool ascending;  // the order the next click on the column's title reverses
};

// The nine columns, in position order; the ascending flags change with every column click.
extern PacketColumnInfo packetColumns[kPacketColumnCount];

// Compares two stored packets by a column's key: -1, 0 or 1 for the column's ascending flag,
// negated for descending.
int ComparePackets(uint32_t a, uint32_t b, int column);

class PacketListModel : public QAbstractTableModel, public PacketListRows {
    Q_OBJECT

public:
    static constexpr uint32_t kNoPacket = UINT32_MAX;

    explicit PacketListModel(QObject* parent = nullptr);

    // Queues the row of a stored record; any thread, returns at once.
    void Enqueue(uint32_t index);
    // Inserts the queued rows whose records are complete; the rest stay queued. Interface thread.
    int Flush();
    bool HasPending() const;
    // Empties the list and drops the queue.
    void Clear();

    uint32_t PacketAt(int row) const;
    int RowOfPacket(uint32_t index) const;
    int Rows() const { return static_cast<int>(rows_.size()); }

    // Sorts every row with ComparePackets for the column, keeping selections on their packets.
    void Sort(int column);

    // While a bulk removal runs, DeleteRow only marks rows; EndBulkRemoval takes them out at once.
    void BeginBulkRemoval();
    void EndBulkRemoval();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    int RowCount() const override { return Rows(); }
    uint32_t RowPacketIndex(int row) const override { return PacketAt(row); }
    void DeleteRow(int row) override;

signals:
    // Rows first to last were appended.
    void RowsAppended(int first, int last);

private:
    void ScheduleFlush(int delayMilliseconds);
    const PacketRow* RowTexts(uint32_t index) const;

    std::vector<uint32_t> rows_;
    mutable std::mutex pendingLock_;
    std::vector<uint32_t> pending_;
    std::atomic<bool> flushScheduled_{false};

    bool bulk_ = false;
    std::vector<uint8_t> doomed_;

    // The row texts last built: a view asks for the columns of one row one after another.
    mutable uint32_t cachedIndex_ = kNoPacket;
    mutable PacketRow cachedRow_;
};
