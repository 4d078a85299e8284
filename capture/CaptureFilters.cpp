#include "capture/CaptureFilters.h"

#include <cstring>

namespace {

void CopyBounded(char (&field)[48], const AddressText& text) {
    std::strncpy(field, text.c_str(), sizeof field - 1);
    field[sizeof field - 1] = 0;
}

}  // namespace

CaptureFilterSet::CaptureFilterSet() { Publish(); }

void CaptureFilterSet::Publish() {
    auto fresh = std::make_shared<Snapshot>();
    fresh->defaultVerdict = defaultVerdict_;
    fresh->rules.assign(rules_, rules_ + ruleCount_);
    std::shared_ptr<const Snapshot> snapshot = std::move(fresh);
    std::lock_guard<std::mutex> lock(publishLock_);
    published_.swap(snapshot);  // the old copy is released after the lock, by the last reader
    passesAll_.store(ruleCount_ == 0 && defaultVerdict_ != 0, std::memory_order_release);
}

void CaptureFilterSet::Reset() {
    std::memset(static_cast<void*>(rules_), 0, sizeof rules_);
    ruleCount_ = 0;
    defaultVerdict_ = 1;
    Publish();
}

bool CaptureFilterSet::Insert(const CaptureFilterRule& rule, int32_t position) {
    if (ruleCount_ > kMaxRules - 1 || position < 0 || position > ruleCount_) return false;
    std::memmove(static_cast<void*>(&rules_[position + 1]), &rules_[position],
                 sizeof(CaptureFilterRule) * static_cast<size_t>(ruleCount_ - position));
    rules_[position] = rule;
    ++ruleCount_;
    Publish();
    return true;
}

bool CaptureFilterSet::Remove(int32_t position) {
    if (position < 0 || position >= ruleCount_) return false;
    std::memmove(static_cast<void*>(&rules_[position]), &rules_[position + 1],
                 sizeof(CaptureFilterRule) * static_cast<size_t>(ruleCount_ - position - 1));
    --ruleCount_;
    rules_[ruleCount_] = CaptureFilterRule{};
    Publish();
    return true;
}

CaptureFilterSet& GetCaptureFilterSet() {
    static CaptureFilterSet set;
    return set;
}

void ResetFilters() { GetCaptureFilterSet().Reset(); }

bool InsertFilterRule(const CaptureFilterRule& rule, int32_t position) {
    return GetCaptureFilterSet().Insert(rule, position);
}

bool RemoveFilterRule(int32_t position) { return GetCaptureFilterSet().Remove(position); }

int TestCaptureFilters(const CaptureFilterSet& set, const PacketRecord& record) {
    if (set.PassesAll()) return 1;
    const std::shared_ptr<const CaptureFilterSet::Snapshot> snapshot = set.Current();
    for (const CaptureFilterRule& rule : snapshot->rules) {
        // Every named criterion must hold, so the cheap number comparisons go first.
        const uint32_t c = rule.criteria;
        if ((c & kMatchProtocol) && rule.protocol != record.protocol) continue;
        if ((c & kMatchSourcePort) && rule.sourcePort != record.sourcePort) continue;
        if ((c & kMatchDestinationPort) && rule.destinationPort != record.destinationPort) continue;
        if ((c & kMatchSource) && record.source != rule.sourceText) continue;
        if ((c & kMatchDestination) && record.destination != rule.destinationText) continue;
        return rule.verdict & 0xff;
    }
    return snapshot->defaultVerdict != 0 ? 1 : 0;
}

void RefilterPacketList(PacketListRows& list) {
    const PacketStore& store = GetPacketStore();
    const CaptureFilterSet& set = GetCaptureFilterSet();
    for (int row = list.RowCount() - 1; row >= 0; --row) {
        const uint32_t index = list.RowPacketIndex(row);
        if (index < static_cast<uint32_t>(store.Count()) &&
            TestCaptureFilters(set, store[static_cast<int32_t>(index)]) == 0) {
            list.DeleteRow(row);
        }
    }
}

std::vector<QuickFilterEntry> QuickFilterEntries(const PacketRecord& packet) {
    str protocol;
    ProtocolName(packet, protocol);
    std::vector<QuickFilterEntry> entries;
    auto add = [&entries](int item) -> str& {
        entries.push_back({item, str()});
        return entries.back().text;
    };
    add(kDropFromSource).AppendFormat("Drop all packets from %s", packet.source.c_str());
    add(kDropProtocolFromSource)
        .AppendFormat("Drop %s packets from %s", protocol.c_str(), packet.source.c_str());
    add(kDropToDestination).AppendFormat("Drop all packets to %s", packet.destination.c_str());
    add(kDropProtocolToDestination)
        .AppendFormat("Drop %s packets to %s", protocol.c_str(), packet.destination.c_str());
    if (packet.sourcePort != 0) {
        add(kDropProtocolSourcePort)
            .AppendFormat("Drop %s packets with src port %d", protocol.c_str(), packet.sourcePort);
    }
    if (packet.destinationPort != 0) {
        add(kDropProtocolDestinationPort)
            .AppendFormat("Drop %s packets with dest port %d", protocol.c_str(),
                          packet.destinationPort);
    }
    add(kDropProtocol).AppendFormat("Drop all %s packets", protocol.c_str());
    add(kRemoveAllFilters) += "Remove all capture filters";
    return entries;
}

CaptureFilterRule QuickFilterRule(int item, const PacketRecord& packet) {
    CaptureFilterRule rule;
    switch (item) {
        case kDropFromSource:
            rule.criteria = kMatchSource;
            break;
        case kDropProtocolFromSource:
            rule.criteria = kMatchSource | kMatchProtocol;
            break;
        case kDropToDestination:
            rule.criteria = kMatchDestination;
            break;
        case kDropProtocolToDestination:
            rule.criteria = kMatchDestination | kMatchProtocol;
            break;
        case kDropProtocolSourcePort:
            rule.criteria = kMatchProtocol | kMatchSourcePort;
            break;
        case kDropProtocolDestinationPort:
            rule.criteria = kMatchProtocol | kMatchDestinationPort;
            break;
        case kDropProtocol:
            rule.criteria = kMatchProtocol;
            break;
        default:
            return rule;
    }
    if (rule.criteria & kMatchSource) CopyBounded(rule.sourceText, packet.source);
    if (rule.criteria & kMatchDestination) CopyBounded(rule.destinationText, packet.destination);
    if (rule.criteria & kMatchSourcePort) rule.sourcePort = packet.sourcePort;
    if (rule.criteria & kMatchDestinationPort) rule.destinationPort = packet.destinationPort;
    if (rule.criteria & kMatchProtocol) rule.protocol = packet.protocol;
    return rule;
}

void ApplyQuickFilter(int item, const PacketRecord& packet) {
    if (item == kRemoveAllFilters) {
        while (RemoveFilterRule(0)) {
        }
        return;
    }
    const CaptureFilterRule rule = QuickFilterRule(item, packet);
    if (rule.criteria != 0) InsertFilterRule(rule, 0);  // a refusal at the cap is silent
}
