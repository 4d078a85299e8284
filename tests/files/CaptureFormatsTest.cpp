// Capture files as other tools write them: every libpcap variant and pcapng, the link types that
// are stored as raw IP, broken pcapng files, and the libpcap and pcapng files the program writes,
// read back by the peers and by the program itself. The real traffic comes from
// tests/files/data (made by make_captures.sh there); the variants are made from it at run time.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

#include "files/OutputFile.h"
#include "files/PacketRow.h"
#include "tests/files/FileTestSupport.h"

using namespace filetest;

namespace {

using Row = std::vector<std::string>;

std::string Data(const std::string& name) {
    return std::string(TW_SOURCE_DIR) + "/tests/files/data/" + name;
}

bool Shell(const std::string& command) {
    int status = -1;
    RunShell(command + " >/dev/null 2>&1", &status);
    return status == 0;
}

// The stored packets' rows without their number. With ipAsRaw, only the IP packets, as they
// show once their 14-byte Ethernet header is removed.
std::vector<Row> Rows(bool ipAsRaw = false) {
    std::vector<Row> rows;
    PacketRow row;
    for (int32_t i = 0; i < GetPacketStore().Count(); ++i) {
        const PacketRecord& record = GetPacketStore()[i];
        if (ipAsRaw && record.isIp != 1) continue;
        BuildPacketRow(record, row);
        Row& out = rows.emplace_back();
        for (int c = kColumnFrameType; c < kPacketColumnCount; ++c) {
            out.push_back(row.columns[c].c_str());
        }
        if (ipAsRaw && record.frameType == 2) {
            out[0] = "RAW IP";
            out.back() = std::to_string(record.length - 14);
        }
    }
    return rows;
}

void ClearTimes(std::vector<Row>& rows) {
    for (Row& row : rows) row[1].clear();
}

// The frames and time offsets of the store, as the builders below take them.
std::vector<PcapRecord> StoredRecords() {
    std::vector<PcapRecord> records;
    for (int32_t i = 0; i < GetPacketStore().Count(); ++i) {
        const PacketRecord& r = GetPacketStore()[i];
        records.push_back({r.timeOffset / 1000, r.timeOffset % 1000 * 1000, StoredFrame(i)});
    }
    return records;
}

// A libpcap file in the other byte order (big-endian, microseconds).
Bytes BigEndianPcap(const std::vector<PcapRecord>& records) {
    Bytes out = PcapFile({});
    for (size_t at : {0, 8, 12, 16, 20}) std::reverse(out.begin() + at, out.begin() + at + 4);
    for (size_t at : {4, 6}) std::reverse(out.begin() + at, out.begin() + at + 2);
    for (const PcapRecord& r : records) {
        const auto n = static_cast<uint32_t>(r.frame.size());
        for (uint32_t v : {r.seconds, r.microseconds, n, n}) bytes::AppendBe32(out, v);
        Append(out, r.frame);
    }
    return out;
}

std::string Skipped(size_t frames) {
    return std::to_string(frames) + " frames of link types Tidewatch does not decode were skipped";
}

class CaptureFormats : public FileFixture {
protected:
    void SetUp() override {
        FileFixture::SetUp();
        for (const char* tool : {"tshark", "editcap", "mergecap", "tcpdump"}) {
            if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed; test skipped";
        }
    }
    std::string Notice() const { return host.notices.empty() ? "" : host.notices.front(); }
    // The peer's output, or "" when it fails.
    static std::string Peer(const std::string& command) {
        int status = -1;
        const std::string out = RunShell(command + " 2>/dev/null", &status);
        return status == 0 ? out : "";
    }
};

TEST_F(CaptureFormats, EveryVariantShowsTheRowsOfTheSameTraffic) {
    const std::string ethernet = Data("ethernet.pcap");
    ASSERT_TRUE(Open(ethernet));
    const std::vector<Row> reference = Rows();
    const std::vector<Row> referenceIp = Rows(true);
    const std::vector<PcapRecord> stored = StoredRecords();
    ASSERT_GT(reference.size(), referenceIp.size());  // holds ARP as well

    // The Time column counts whole milliseconds from those of the first frame.
    std::istringstream epochs(Peer("tshark -r '" + ethernet + "' -T fields -e frame.time_epoch"));
    uint64_t first = 0;
    for (const Row& row : reference) {
        std::string seconds;
        epochs >> seconds;
        const size_t dot = seconds.find('.');
        uint64_t ms = std::stoull(seconds.substr(0, dot)) * 1000;
        ms += std::stoull(seconds.substr(dot + 1, 3));
        if (&row == &reference.front()) first = ms;
        ms -= first;
        char text[16];
        std::snprintf(text, sizeof text, "00:00:%02u.%03u", unsigned(ms / 1000),
                      unsigned(ms % 1000));
        EXPECT_EQ(row[1], text);
    }

    // Peers write the variants of the Ethernet capture and of the raw-IP one.
    ASSERT_TRUE(Shell("editcap -F pcapng '" + ethernet + "' ethernet.pcapng"));
    ASSERT_TRUE(Shell("editcap -F nsecpcap '" + ethernet + "' nanoseconds.pcap"));
    ASSERT_TRUE(Shell("cp ethernet.pcapng pcapng-content.dat"));
    ASSERT_TRUE(Shell("tcpdump -r '" + ethernet + "' -w ip.pcap 'ip or ip6' && "
                      "editcap -C 14 -T rawip ip.pcap raw.pcap"));
    ASSERT_TRUE(Shell("editcap -T ieee-802-11 '" + ethernet + "' wlan.pcap"));
    // Ethernet and Linux cooked interfaces in one file.
    ASSERT_TRUE(Shell("mergecap -w merged.pcapng '" + ethernet + "' " + Data("cooked.pcap")));
    // And what no peer here writes: big-endian libpcap and BSD loopback.
    WriteFile("bigendian.pcap", BigEndianPcap(stored));
    ASSERT_TRUE(Open("raw.pcap"));
    std::vector<PcapRecord> loopback = StoredRecords();
    for (size_t i = 0; i < loopback.size(); ++i) {
        // The family in either byte order: IPv4 2, IPv6 24 (NetBSD) or 30 (macOS).
        const bool v6 = loopback[i].frame[0] >> 4 == 6;
        Bytes family = v6 ? (i % 2 ? Bytes{0, 0, 0, 24} : Bytes{30, 0, 0, 0}) : Bytes{2, 0, 0, 0};
        loopback[i].frame.insert(loopback[i].frame.begin(), family.begin(), family.end());
    }
    WriteFile("loopback.pcap", PcapFile(loopback, 0));

    const std::string arpSkipped = Skipped(reference.size() - referenceIp.size());
    struct Case {
        std::string path;
        const std::vector<Row>& rows;
        bool sameTimes;  // captured by another process, the cooked files' times may differ
        std::string notice;
    };
    const std::vector<Case> cases = {
        {"ethernet.pcapng", reference, true, ""},
        {"nanoseconds.pcap", reference, true, ""},
        {"pcapng-content.dat", reference, true, ""},
        {"bigendian.pcap", reference, true, ""},
        {"raw.pcap", referenceIp, true, ""},
        {"loopback.pcap", referenceIp, true, ""},
        {Data("cooked.pcap"), referenceIp, false, arpSkipped},
        {Data("cooked2.pcap"), referenceIp, false, arpSkipped},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ASSERT_TRUE(Open(c.path));
        std::vector<Row> rows = Rows(&c.rows == &referenceIp), expected = c.rows;
        if (!c.sameTimes) {
            ClearTimes(rows);
            ClearTimes(expected);
        }
        EXPECT_EQ(rows, expected);
        EXPECT_EQ(Notice(), c.notice);
    }

    // 802.11 frames are all skipped and told; the file still counts as read.
    EXPECT_TRUE(Open("wlan.pcap"));
    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(Notice(), Skipped(reference.size()));

    // Merged, each frame keeps its interface's link type.
    ASSERT_TRUE(Open("merged.pcapng"));
    EXPECT_EQ(Notice(), arpSkipped);
    std::vector<Row> merged = Rows(true), both = referenceIp;
    both.insert(both.end(), referenceIp.begin(), referenceIp.end());
    for (std::vector<Row>* r : {&merged, &both}) {
        ClearTimes(*r);
        std::sort(r->begin(), r->end());
    }
    EXPECT_EQ(merged, both);
}

TEST_F(CaptureFormats, WrittenFilesReadBackInPeersAndHere) {
    // An Ethernet capture, and one that mixes Ethernet and raw-IP frames.
    const std::string ethernet = Data("ethernet.pcap");
    ASSERT_TRUE(Shell("mergecap -w mixed.pcapng " + ethernet + " " + Data("cooked2.pcap")));
    for (const std::string& source : {ethernet, std::string("mixed.pcapng")}) {
        ASSERT_TRUE(Open(source));
        const std::vector<Row> rows = Rows(), rowsIp = Rows(true);
        const std::string dump = Peer("tshark -r " + source + " -x");
        for (const std::string out : {"out.pcap", "out.pcapng", "out.CAP"}) {
            SCOPED_TRACE(source + " as " + out);
            ASSERT_TRUE(Open(source));
            ASSERT_TRUE(WriteCaptureFile(out.c_str()));
            // Nothing on standard error but the warning about running as root.
            EXPECT_EQ(RunShell("tshark -r " + out + " 2>&1 >/dev/null | grep -v 'Running as'"), "");
            // (libpcap reads no pcapng whose interfaces have different link types.)
            if (source == ethernet || out != "out.pcapng") {
                EXPECT_TRUE(Shell("tcpdump -r " + out + " -w /dev/null"));
            }
            // The same bytes for every frame where none needed a new link header.
            if (source == ethernet) {
                EXPECT_EQ(Peer("tshark -r " + out + " -x"), dump);
            }
            // Read again, the same rows; raw-IP frames that were given an Ethernet header show
            // as Ethernet frames.
            ASSERT_TRUE(Open(out));
            if (source == ethernet || out == "out.pcapng") {
                EXPECT_EQ(Rows(), rows);
            }
            EXPECT_EQ(Rows(true), rowsIp);
            EXPECT_EQ(static_cast<size_t>(Count()), rows.size());
        }
    }
    // The file's wall-clock times are kept.
    ASSERT_TRUE(Open(ethernet));
    ASSERT_TRUE(WriteCaptureFile("again.pcapng"));
    const std::string epochs = " -T fields -e frame.time_epoch -c 1";
    EXPECT_EQ(Peer("tshark -r again.pcapng" + epochs), Peer("tshark -r " + ethernet + epochs));
}

TEST_F(CaptureFormats, BrokenPcapNgKeepsWhatCameBefore) {
    const Bytes tcp = TcpFrame(), udp = UdpFrame(), big(65536, 0x45);
    auto twoFrames = [&](bool bigEndian) {
        PcapNg file(bigEndian);
        file.Interface(1, 9).Enhanced(0, 1'000'000'000, tcp).Enhanced(0, 1'250'999'999, udp);
        return file;
    };
    Bytes truncated = twoFrames(false).bytes;
    truncated.resize(truncated.size() - 6);
    Bytes trailerDiffers = twoFrames(false).bytes;
    trailerDiffers.back() ^= 1;
    auto withBlock = [&](uint32_t lengthField, Bytes tail) {
        Bytes out = twoFrames(false).bytes;
        bytes::AppendLe32(out, 6);
        bytes::AppendLe32(out, lengthField);
        Append(out, tail);
        return out;
    };
    // An enhanced block whose captured length runs past the block.
    PcapNg overrun = twoFrames(false);
    Bytes overrunBody;
    for (uint32_t v : {0u, 0u, 0u, 200u, 200u}) bytes::AppendLe32(overrunBody, v);
    overrun.Block(6, overrunBody);

    struct Case {
        const char* name;
        Bytes bytes;
        bool result;
        std::vector<uint32_t> offsets;  // of the stored frames
        uint32_t skipped;
    };
    const std::vector<Case> cases = {
        {"whole", twoFrames(false).bytes, true, {0, 250}, 0},
        {"truncated", truncated, true, {0}, 0},
        {"trailer differs", trailerDiffers, true, {0}, 0},
        {"length below 12", withBlock(8, Bytes(8, 0)), true, {0, 250}, 0},
        {"length not a multiple of 4", withBlock(30, Bytes(30, 0)), true, {0, 250}, 0},
        {"length beyond the file", withBlock(0x7ffffff0, Bytes(40, 0)), true, {0, 250}, 0},
        {"captured length beyond the block", overrun.bytes, true, {0, 250}, 0},
        {"captured length above 65,535",
         PcapNg().Interface(1).Enhanced(0, 0, big).Enhanced(0, 0, tcp).bytes, false, {}, 0},
        {"no interface", PcapNg().Enhanced(0, 5, tcp).Enhanced(1, 7, udp).bytes, true, {}, 2},
        // Other blocks passed over; obsolete and simple packets; a big-endian second section
        // with interfaces of its own and binary time units; the time of a simple packet is the
        // one before it.
        {"all kinds",
         PcapNg()
             .Interface(1)
             .Block(0x0bad, Bytes(7, 1))
             .Enhanced(0, 3'000'000, tcp)
             .Obsolete(0, 3'001'999, udp)
             .Simple(IcmpFrame())
             .Section(true)
             .Interface(105)
             .Interface(101, 0x8a)
             .Enhanced(0, 0, tcp)
             .Enhanced(1, 3'584, RawIpFrame())  // 3.5 s in 1/1024 s
             .Enhanced(2, 0, tcp)
             .bytes,
         true, {0, 1, 1, 500}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Open(WriteFile("broken.pcapng", c.bytes)), c.result);
        std::vector<uint32_t> offsets;
        for (int32_t i = 0; i < Count(); ++i) offsets.push_back(Record(i).timeOffset);
        EXPECT_EQ(offsets, c.offsets);
        EXPECT_EQ(Notice(), c.skipped ? Skipped(c.skipped) : "");
    }
    // Stored as read: the raw-IP interface's frame is frame type 1, its bytes unchanged.
    ASSERT_EQ(Count(), 4);
    EXPECT_EQ(Record(3).frameType, 1);
    EXPECT_EQ(StoredFrame(3), RawIpFrame());
    EXPECT_EQ(StoredFrame(2), IcmpFrame());
}

TEST_F(CaptureFormats, OnlyRegularFilesWhoseContentIsKnownOpen) {
    std::mt19937 random(13);
    Bytes noise(4096);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
    for (const char* name : {"noise.pcap", "noise.cap", "noise.pcapng", "noise.tdw", "noise"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Open(WriteFile(name, noise)));
        EXPECT_EQ(Count(), 0);
    }
    // A FIFO with no writer, and a folder, fail at once instead of waiting.
    unlink("fifo.pcap");
    ASSERT_EQ(mkfifo("fifo.pcap", 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Open("fifo.pcap"));
    EXPECT_FALSE(Open("."));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// Every writer saves through the same file: a new file readable by its owner only, an existing
// one replaced whole (keeping the permissions its owner gave it) or, when the write fails, left
// exactly as it was; the reason is told and no half-written file stays behind.
TEST_F(CaptureFormats, AWriteReplacesTheWholeFileOrLeavesItAsItWas) {
    namespace fs = std::filesystem;
    ASSERT_TRUE(Open(Data("ethernet.pcap")));
    const fs::path dir = fs::absolute("replace");
    fs::remove_all(dir);
    fs::create_directories(dir);
    auto mode = [](const fs::path& path) {
        struct stat info {};
        return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0u;
    };
    for (const char* name : {"out.tdw", "out.pcap", "out.pcapng"}) {
        SCOPED_TRACE(name);
        const fs::path path = dir / name;
        ASSERT_TRUE(WriteCaptureFile(path.c_str()));
        EXPECT_EQ(mode(path), 0600u);
        const Bytes good = ReadFile(path);
        ASSERT_EQ(chmod(path.c_str(), 0644), 0);
        // A file size limit stops the write half way, as a full disk would.
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit half = saved;
        half.rlim_cur = good.size() / 2;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &half), 0);
        const bool written = WriteCaptureFile(path.c_str());
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(written);
        EXPECT_EQ(OutputFile::LastFailure(), std::strerror(EFBIG));
        EXPECT_EQ(ReadFile(path), good);
        ASSERT_TRUE(WriteCaptureFile(path.c_str()));
        EXPECT_EQ(mode(path), 0644u);
        EXPECT_EQ(ReadFile(path), good);
    }
    // A link is written through: its target gets the file.
    fs::create_symlink("out.tdw", dir / "link.tdw");
    ASSERT_TRUE(WriteCaptureFile((dir / "link.tdw").c_str()));
    EXPECT_TRUE(fs::is_symlink(dir / "link.tdw"));

    // Refused before anything is opened or created: a FIFO nobody reads would block for ever.
    ASSERT_EQ(mkfifo((dir / "fifo.pcap").c_str(), 0600), 0);
    const std::pair<fs::path, std::string> refused[] = {
        {dir / "fifo.pcap", "it is a FIFO, not a regular file"},
        {dir, "it is a folder, not a regular file"},
        {dir / "missing/out.tdw", "the folder " + (dir / "missing").string() + " does not exist"},
    };
    for (const auto& [path, reason] : refused) {
        EXPECT_FALSE(WriteCaptureFile(path.c_str()));
        EXPECT_EQ(OutputFile::LastFailure(), reason);
        std::string checked;
        EXPECT_FALSE(OutputFile::CheckTarget(path.c_str(), checked));
        EXPECT_EQ(checked, reason);
    }
    size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(dir)) entries += !entry.path().empty();
    EXPECT_EQ(entries, 5u);  // three files, the link and the FIFO: no temporary left
}

}  // namespace
