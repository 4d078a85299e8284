// The capture filters: an ordered list of drop rules that every arriving frame is tested
// against, built from the packet list's context menu.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/PacketStore.h"
#include "framework/str.h"

enum FilterCriteria : uint32_t {
    kMatchSource = 1,
    kMatchDestination = 2,
    kMatchSourcePort = 4,
    kMatchDestinationPort = 8,
    kMatchProtocol = 16,
};

struct CaptureFilterRule {
    uint32_t verdict = 0;  // low byte: 0 drop, else keep
    uint32_t criteria = 0;
    char sourceText[48] = {};
    char destinationText[48] = {};
    uint16_t sourcePort = 0;
    uint16_t destinationPort = 0;
    uint16_t protocol = 0;
};

// The rule set. The interface thread is its only writer; arrival threads read it concurrently.
// Readers never see the writer's array: every change publishes an immutable copy of the rules in
// use, so a test runs over one consistent list (before or after a change) and never reads a rule
// that is being moved. The lock guards only the hand-over of the copy's pointer, a few
// instructions, so neither side ever waits for the other's work.
class CaptureFilterSet {
public:
    static constexpr int32_t kCapacity = 1024;
    static constexpr int32_t kMaxRules = 1021;

    struct Snapshot {
        uint32_t defaultVerdict = 1;
        std::vector<CaptureFilterRule> rules;
    };

    CaptureFilterSet();

    int32_t RuleCount() const { return ruleCount_; }
    uint32_t DefaultVerdict() const { return defaultVerdict_; }
    const CaptureFilterRule& Rule(int32_t position) const { return rules_[position]; }

    void Reset();
    bool Insert(const CaptureFilterRule& rule, int32_t position);
    bool Remove(int32_t position);

    std::shared_ptr<const Snapshot> Current() const {
        std::lock_guard<std::mutex> lock(publishLock_);
        return published_;
    }
    // No rule and a passing default: every frame is kept, without taking the lock above.
    bool PassesAll() const { return passesAll_.load(std::memory_order_acquire); }

private:
    void Publish();

    int32_t ruleCount_ = 0;
    uint32_t defaultVerdict_ = 1;
    CaptureFilterRule rules_[kCapacity];
    mutable std::mutex publishLock_;
    std::shared_ptr<const Snapshot> published_;
    std::atomic<bool> passesAll_{true};
};

CaptureFilterSet& GetCaptureFilterSet();

void ResetFilters();
bool InsertFilterRule(const CaptureFilterRule& rule, int32_t position);
bool RemoveFilterRule(int32_t position);
int TestCaptureFilters(const CaptureFilterSet& set, const PacketRecord& record);

// The packet list as refiltering sees it: rows carrying packet indexes, rows that can be deleted.
class PacketListRows {
public:
    virtual int RowCount() const = 0;
    virtual uint32_t RowPacketIndex(int row) const = 0;
    virtual void DeleteRow(int row) = 0;

protected:
    ~PacketListRows() = default;
};

void RefilterPacketList(PacketListRows& list);

// Item numbers the context menu returns for the quick filters.
enum QuickFilterItem : int {
    kDropFromSource = 1,
    kDropToDestination = 2,
    kDropProtocolFromSource = 3,
    kDropProtocolSourcePort = 4,
    kDropProtocolDestinationPort = 5,
    kDropProtocol = 6,
    kRemoveAllFilters = 7,
    kDropProtocolToDestination = 10,
};

struct QuickFilterEntry {
    int item;
    str text;
};

// The quick-filter entries offered for a packet, in menu order, with their texts.
std::vector<QuickFilterEntry> QuickFilterEntries(const PacketRecord& packet);
// The rule an item (1 to 6 or 10) makes from a packet.
CaptureFilterRule QuickFilterRule(int item, const PacketRecord& packet);
// Carries out a chosen item (rule or removal); the caller refilters the list afterwards.
void ApplyQuickFilter(int item, const PacketRecord& packet);
