#include "decode/rwho.h"

#include <unistd.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "decode/FieldText.h"

bool rwhoEntry::Build(uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::WriteBytes(cursor, remaining, terminal_, sizeof terminal_);
    ok = wire::WriteBytes(cursor, remaining, user_, sizeof user_) && ok;
    ok = wire::Write32(cursor, remaining, loginTime_) && ok;
    ok = wire::Write32(cursor, remaining, idle_) && ok;
    return ok;
}

bool rwhoEntry::Parse(const uint8_t*& cursor, int32_t& remaining) {
    bool ok = wire::ReadBytes(cursor, remaining, terminal_, sizeof terminal_);
    ok = wire::ReadBytes(cursor, remaining, user_, sizeof user_) && ok;
    ok = wire::Read32(cursor, remaining, loginTime_) && ok;
    ok = wire::Read32(cursor, remaining, idle_) && ok;
    return ok;
}

void rwhoEntry::Describe(str& text) const {
    text += "\r\n\tTerm: ";
    fieldtext::AppendText(text, terminal_, sizeof terminal_);
    text += ", UID: ";
    fieldtext::AppendText(text, user_, sizeof user_);
    text.AppendFormat(", Time: 0x%08x, Idle: 0x%08x", loginTime_, idle_);
}

bool rwhoPacket::Build(uint8_t*& cursor, int32_t& remaining) {
    const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
    sendTime_ = now;
    bootTime_ = now;
    char host[sizeof hostName_ + 1] = {};
    // A name longer than the field is cut to it; a failed query leaves it empty.
    if (gethostname(host, sizeof host) != 0) host[0] = 0;
    std::memcpy(hostName_, host, sizeof hostName_);

    bool ok = wire::Write8(cursor, remaining, version_);
    ok = wire::Write8(cursor, remaining, type_) && ok;
    ok = wire::WriteBytes(cursor, remaining, &pad_, sizeof pad_) && ok;
    ok = wire::Write32(cursor, remaining, sendTime_) && ok;
    ok = wire::Write32(cursor, remaining, receiveTime_) && ok;
    ok = wire::WriteBytes(cursor, remaining, hostName_, sizeof hostName_) && ok;
    for (uint32_t load : loadAverage_) ok = wire::Write32(cursor, remaining, load) && ok;
    ok = wire::Write32(cursor, remaining, bootTime_) && ok;
    return ok;
}

bool rwhoPacket::Parse(const uint8_t*& cursor, int32_t& remaining) {
    // A second parse of the same object starts a fresh user list.
    if (entries_.Count() > 0) entries_.RemoveAll();

    bool ok = wire::Read8(cursor, remaining, version_);
    ok = wire::Read8(cursor, remaining, type_) && ok;
    ok = wire::ReadBytes(cursor, remaining, &pad_, sizeof pad_) && ok;
    ok = wire::Read32(cursor, remaining, sendTime_) && ok;
    ok = wire::Read32(cursor, remaining, receiveTime_) && ok;
    ok = wire::ReadBytes(cursor, remaining, hostName_, sizeof hostName_) && ok;
    for (uint32_t& load : loadAverage_) ok = wire::Read32(cursor, remaining, load) && ok;
    ok = wire::Read32(cursor, remaining, bootTime_) && ok;

    while (remaining >= rwhoEntry::kWireSize) {
        std::unique_ptr<rwhoEntry> entry(new (std::nothrow) rwhoEntry);
        if (!entry) {
            // No room for this user: drop it and go on with the next one.
            wire::Skip(cursor, remaining, rwhoEntry::kWireSize);
            continue;
        }
        if (!entry->Parse(cursor, remaining)) break;
        if (entries_.Add(entry.get())) entry.release();
    }
    return ok;
}

void rwhoPacket::Describe(str& text) const {
    str time;
    text += "Who Packet";
    text.AppendFormat("\r\n\tVersion: 0x%02x", version_);
    text.AppendFormat("\r\n\tType: 0x%02x", type_);
    text.AppendFormat("\r\n\tPad: 0x%04x", pad_);
    text += "\r\n\tSend Time: ";
    FormatUnixTime(sendTime_, time);
    text += time;
    text += "\r\n\tReceive Time: ";
    FormatUnixTime(receiveTime_, time);
    text += time;
    text += "\r\n\tHost Name: ";
    fieldtext::AppendText(text, hostName_, sizeof hostName_);
    text.AppendFormat("\r\n\tLoad Average: 0x%08x, 0x%08x, 0x%08x", loadAverage_[0],
                      loadAverage_[1], loadAverage_[2]);
    text += "\r\n\tBootTime: ";
    FormatUnixTime(bootTime_, time);
    text += time;
    for (const rwhoEntry* entry : entries_) entry->Describe(text);
}

void FormatUnixTime(uint32_t time, str& text) {
    text.Clear();
    const time_t seconds = static_cast<int32_t>(time);
    struct tm calendar;
    if (gmtime_r(&seconds, &calendar) == nullptr) return;

    // strftime gives 0 both for a failure and for an empty result; either way the part is left
    // out. 64 characters hold any locale's short date or time.
    char part[64];
    size_t n = std::strftime(part, sizeof part, "%x", &calendar);
    text.Append(part, n);
    text += " ";
    n = std::strftime(part, sizeof part, "%H:%M:%S", &calendar);
    text.Append(part, n);
}
