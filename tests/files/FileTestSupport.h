// Capture files made byte by byte for the reader tests, sample frames, a load host that records
// what the load asked of it, and a way to run the built program and the peer tools.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "decode/FrameBuilder.h"
#include "files/CaptureFile.h"
#include "support/CaptureFixture.h"

namespace filetest {

using frames::Bytes;

inline const frames::Mac kMacA{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
inline const frames::Mac kMacB{0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb};
inline const uint32_t kHostA = frames::IPv4Address(10, 0, 0, 1);
inline const uint32_t kHostB = frames::IPv4Address(192, 168, 1, 20);

inline Bytes TcpFrame(uint16_t sport = 40000, uint16_t dport = 80) {
    return frames::Ethernet(
        kMacB, kMacA, 0x0800,
        frames::IPv4(6, kHostA, kHostB,
                     frames::TCP(sport, dport, 1, 2, 0x18, frames::Text("GET /"))));
}
inline Bytes UdpFrame(uint16_t sport = 5353, uint16_t dport = 53) {
    return frames::Ethernet(kMacB, kMacA, 0x0800,
                            frames::IPv4(17, kHostB, kHostA,
                                         frames::UDP(sport, dport, frames::Text("query data"))));
}
inline Bytes IcmpFrame() {
    return frames::Ethernet(
        kMacB, kMacA, 0x0800,
        frames::IPv4(1, kHostA, kHostB, frames::ICMP(8, 0, 0x00010001, frames::Text("ping"))));
}
inline Bytes ArpFrame() {
    return frames::PadEthernet(frames::Ethernet(
        frames::Mac{0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, kMacA, 0x0806,
        frames::ARP(1, kMacA, kHostA, frames::Mac{}, kHostB)));
}
inline Bytes Udp6Frame() {
    frames::IPv6Address a{0xfe, 0x80}, b{0xfe, 0x80};
    a[15] = 1;
    b[15] = 2;
    return frames::Ethernet(kMacB, kMacA, 0x86DD,
                            frames::IPv6(17, a, b, frames::UDP(546, 547, frames::Text("dhcpv6"))));
}
// An IPv4 datagram with no link header, as the raw-socket capture stores it.
inline Bytes RawIpFrame() {
    return frames::IPv4(17, kHostA, kHostB, frames::UDP(1000, 2000, frames::Text("raw datagram")));
}
// An Ethernet frame of a type with no further parsing (IPX).
inline Bytes OtherEthernetFrame() {
    return frames::PadEthernet(frames::Ethernet(kMacB, kMacA, 0x8137, frames::Text("ipx")));
}

inline void Append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

struct OwnRecord {
    uint16_t frameType;
    uint16_t ipFlag;
    uint32_t timeOffset;
    Bytes frame;
};
inline Bytes OwnFile(const std::vector<OwnRecord>& records) {
    Bytes out;
    for (const OwnRecord& r : records) {
        bytes::AppendLe16(out, r.frameType);
        bytes::AppendLe16(out, r.ipFlag);
        bytes::AppendLe32(out, static_cast<uint32_t>(r.frame.size()));
        bytes::AppendLe32(out, r.timeOffset);
        Append(out, r.frame);
    }
    return out;
}

struct PcapRecord {
    uint32_t seconds;
    uint32_t microseconds;
    Bytes frame;
};
inline Bytes PcapHeader(uint32_t magic = 0xa1b2c3d4, uint32_t linkType = 1) {
    Bytes out;
    bytes::AppendLe32(out, magic);
    bytes::AppendLe16(out, 2);
    bytes::AppendLe16(out, 4);
    bytes::AppendLe32(out, 0);
    bytes::AppendLe32(out, 0);
    bytes::AppendLe32(out, 65535);
    bytes::AppendLe32(out, linkType);
    return out;
}
inline void PutPcapRecord(Bytes& out, uint32_t seconds, uint32_t microseconds, uint32_t captured,
                          uint32_t wire) {
    bytes::AppendLe32(out, seconds);
    bytes::AppendLe32(out, microseconds);
    bytes::AppendLe32(out, captured);
    bytes::AppendLe32(out, wire);
}
inline Bytes PcapFile(const std::vector<PcapRecord>& records, uint32_t linkType = 1) {
    Bytes out = PcapHeader(0xa1b2c3d4, linkType);
    for (const PcapRecord& r : records) {
        const auto n = static_cast<uint32_t>(r.frame.size());
        PutPcapRecord(out, r.seconds, r.microseconds, n, n);
        Append(out, r.frame);
    }
    return out;
}

struct NetMonFrame {
    uint64_t time;  // ms for 1.x, us for 2.x
    Bytes frame;
    int64_t availableDelta = 0;  // bytes available = frame length + this
};
// A Network Monitor file: the 72-byte header, the frames, then the frame table.
inline Bytes NetMonFile(uint8_t major, const std::vector<NetMonFrame>& frameList,
                        const char* signature = nullptr) {
    Bytes out(72, 0);
    const char* sig = signature ? signature : (major == 1 ? "RTSS" : "GMBU");
    std::copy(sig, sig + 4, out.begin());
    out[4] = major == 1 ? 1 : 0;
    out[5] = major;
    std::vector<uint32_t> table;
    for (const NetMonFrame& f : frameList) {
        table.push_back(static_cast<uint32_t>(out.size()));
        const auto length = static_cast<uint32_t>(f.frame.size());
        const auto available = static_cast<uint32_t>(length + f.availableDelta);
        if (major == 1) {
            bytes::AppendLe32(out, static_cast<uint32_t>(f.time));
            bytes::AppendLe16(out, static_cast<uint16_t>(length));
            bytes::AppendLe16(out, static_cast<uint16_t>(available));
        } else {
            bytes::AppendLe64(out, f.time);
            bytes::AppendLe32(out, length);
            bytes::AppendLe32(out, available);
        }
        Append(out, f.frame);
    }
    const auto tableOffset = static_cast<uint32_t>(out.size());
    for (uint32_t entry : table) bytes::AppendLe32(out, entry);
    Bytes field;
    bytes::AppendLe32(field, tableOffset);
    bytes::AppendLe32(field, static_cast<uint32_t>(table.size() * 4));
    std::copy(field.begin(), field.end(), out.begin() + 24);
    return out;
}

// pcapng blocks built field by field in the byte order of the current section; the file starts
// with a section header block.
class PcapNg {
public:
    explicit PcapNg(bool bigEndian = false) { Section(bigEndian); }
    PcapNg& Section(bool bigEndian) {
        big_ = bigEndian;
        Bytes body;
        Put32(body, 0x1a2b3c4d);
        Put16(body, 1);
        Put16(body, 0);
        Append(body, Bytes(8, 0xff));  // section length not given
        return Block(0x0a0d0d0a, body);
    }
    // if_tsresol only when resolution is not 6 (microseconds, the default).
    PcapNg& Interface(uint16_t linkType, uint8_t resolution = 6, uint32_t snapshot = 0) {
        Bytes body;
        Put16(body, linkType);
        Put16(body, 0);
        Put32(body, snapshot);
        if (resolution != 6) {
            Put16(body, 9);
            Put16(body, 1);
            Append(body, {resolution, 0, 0, 0});
            Put32(body, 0);  // end of options
        }
        return Block(1, body);
    }
    PcapNg& Enhanced(uint32_t interfaceId, uint64_t stamp, const Bytes& frame) {
        Bytes body;
        Put32(body, interfaceId);
        PutPacket(body, stamp, frame);
        return Block(6, body);
    }
    PcapNg& Obsolete(uint16_t interfaceId, uint64_t stamp, const Bytes& frame) {
        Bytes body;
        Put16(body, interfaceId);
        Put16(body, 0);
        PutPacket(body, stamp, frame);
        return Block(2, body);
    }
    PcapNg& Simple(const Bytes& frame) {
        Bytes body;
        Put32(body, static_cast<uint32_t>(frame.size()));
        Append(body, frame);
        return Block(3, body);
    }
    // Any block: the body is padded to 4 bytes and framed by the total length.
    PcapNg& Block(uint32_t type, Bytes body) {
        body.resize((body.size() + 3) / 4 * 4);
        Put32(bytes, type);
        Put32(bytes, static_cast<uint32_t>(body.size() + 12));
        Append(bytes, body);
        Put32(bytes, static_cast<uint32_t>(body.size() + 12));
        return *this;
    }
    Bytes bytes;

private:
    void Put16(Bytes& out, uint16_t v) {
        big_ ? bytes::AppendBe16(out, v) : bytes::AppendLe16(out, v);
    }
    void Put32(Bytes& out, uint32_t v) {
        big_ ? bytes::AppendBe32(out, v) : bytes::AppendLe32(out, v);
    }
    void PutPacket(Bytes& out, uint64_t stamp, const Bytes& frame) {
        Put32(out, static_cast<uint32_t>(stamp >> 32));
        Put32(out, static_cast<uint32_t>(stamp));
        Put32(out, static_cast<uint32_t>(frame.size()));
        Put32(out, static_cast<uint32_t>(frame.size()));
        Append(out, frame);
    }
    bool big_ = false;
};

// Files go to the test program's own working folder.
inline std::string WriteFile(const std::string& name, const Bytes& bytes) {
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return (std::filesystem::current_path() / name).string();
}
inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Bytes StoredFrame(int32_t index) {
    const PacketRecord& r = GetPacketStore()[index];
    return Bytes(r.data.get(), r.data.get() + r.length);
}

// Records what a load asks of its owner; clearing the capture clears the store as the window's
// ClearCapture does.
class RecordingLoadHost : public LoadHost {
public:
    void ClearCapture() override {
        ++clears;
        ClearStore();
        notices.clear();
    }
    void Wait(uint32_t milliseconds) override { waits.push_back(milliseconds); }
    void LoadNotice(const char* text) override { notices.push_back(text); }
    int clears = 0;
    std::vector<uint32_t> waits;
    std::vector<std::string> notices;
};

// A view that keeps every status text of pane 2, in order.
class StatusHistoryView : public RecordingView {
public:
    void SetStatusText(int pane, const char* text) override {
        RecordingView::SetStatusText(pane, text);
        if (pane == 2) countTexts.push_back(text);
    }
    std::vector<std::string> countTexts;
};

class FileFixture : public CaptureFixture {
protected:
    bool Open(const std::string& path) { return OpenCaptureFile(path.c_str(), host); }
    RecordingLoadHost host;
};

// Runs a shell command; its standard output is returned, the exit status put in *status.
inline std::string RunShell(const std::string& command, int* status = nullptr) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        if (status) *status = -1;
        return output;
    }
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int raw = pclose(pipe);
    if (status) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return output;
}

inline bool HaveTool(const std::string& name) {
    int status = 0;
    RunShell("command -v " + name + " >/dev/null 2>&1", &status);
    return status == 0;
}

}  // namespace filetest
