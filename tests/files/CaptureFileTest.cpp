#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "capture/CaptureFilters.h"
#include "files/CaptureFile.h"
#include "tests/files/FileTestSupport.h"

using namespace filetest;

namespace {

class CaptureFile : public FileFixture {};

// A store with one packet in it, so that a test can see the load clear it.
void StoreOnePacket() {
    const Bytes frame = TcpFrame();
    ASSERT_EQ(HandleArrival(frame.data(), static_cast<uint32_t>(frame.size()), 2, false), 1);
}

TEST_F(CaptureFile, OwnFormatRoundTripKeepsFramesTypesFlagsAndTimes) {
    // An IP flag of 1 on a frame that has no IP header stands: the loader's flag is kept.
    const std::vector<OwnRecord> records = {
        {2, 1, 0, TcpFrame()},
        {1, 1, 90061001, RawIpFrame()},
        {2, 0, 17, ArpFrame()},
        {2, 1, 4294967295u, Udp6Frame()},
        {2, 1, 5, OtherEthernetFrame()},
    };
    const Bytes original = OwnFile(records);
    ASSERT_TRUE(Open(WriteFile("in.tdw", original)));
    ASSERT_EQ(Count(), 5);

    // Summary fields come from the bytes, not from the file.
    EXPECT_EQ(Record(0).protocol, 6);
    EXPECT_STREQ(Record(0).source.c_str(), "10.0.0.1");
    EXPECT_EQ(Record(0).sourcePort, 40000);
    EXPECT_EQ(Record(0).destinationPort, 80);
    EXPECT_EQ(Record(1).frameType, 1);
    EXPECT_EQ(Record(1).protocol, 17);
    EXPECT_EQ(Record(1).destinationPort, 2000);
    EXPECT_EQ(Record(2).protocol, 0x0806);
    EXPECT_STREQ(Record(2).destination.c_str(), "192.168.1.20");
    EXPECT_EQ(Record(2).isIp, 0);
    EXPECT_EQ(Record(4).isIp, 1);

    // Written back, the file is the same byte for byte; read again, the same records.
    ASSERT_TRUE(WriteOwnCapture("out.tdw"));
    EXPECT_EQ(ReadFile("out.tdw"), original);
    ASSERT_TRUE(Open("out.tdw"));
    ASSERT_EQ(Count(), 5);
    for (int32_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(StoredFrame(i), records[i].frame);
        EXPECT_EQ(Record(i).frameType, records[i].frameType);
        EXPECT_EQ(Record(i).isIp, records[i].ipFlag);
        EXPECT_EQ(Record(i).timeOffset, records[i].timeOffset);
        EXPECT_EQ(Record(i).index, static_cast<uint32_t>(i));
    }
}

TEST_F(CaptureFile, PcapTimesCountFromTheFirstFrameAndSurviveSaving) {
    ASSERT_TRUE(Open(WriteFile("t.pcap", PcapFile({{3, 250999, TcpFrame()},
                                                   {3, 251000, UdpFrame()},
                                                   {1700000000, 123456, IcmpFrame()},
                                                   {2, 0, UdpFrame()}}))));
    ASSERT_EQ(Count(), 4);
    // Whole milliseconds of each, less those of the first, in unsigned 32-bit arithmetic.
    EXPECT_EQ(Record(0).timeOffset, 0u);
    EXPECT_EQ(Record(1).timeOffset, 1u);
    EXPECT_EQ(Record(2).timeOffset, static_cast<uint32_t>(1700000000ull * 1000 + 123 - 3250));
    EXPECT_EQ(Record(3).timeOffset, static_cast<uint32_t>(2000 - 3250));
    ASSERT_TRUE(WriteOwnCapture("t.tdw"));
    ASSERT_TRUE(Open("t.tdw"));
    ASSERT_EQ(Count(), 4);
    EXPECT_EQ(Record(2).timeOffset, static_cast<uint32_t>(1700000000ull * 1000 + 123 - 3250));
    EXPECT_EQ(StoredFrame(1), UdpFrame());
    EXPECT_EQ(Record(1).frameType, 2);
}

TEST_F(CaptureFile, ContentChoosesTheReaderAndTheExtensionOnlyWhenItSaysNothing) {
    const Bytes pcap = PcapFile({{0, 0, TcpFrame()}, {0, 1000, UdpFrame()}});
    const Bytes own = OwnFile({{2, 1, 0, TcpFrame()}});
    const Bytes netmon = NetMonFile(2, {{0, TcpFrame()}});
    struct Case {
        const char* name;
        const Bytes& bytes;
        int32_t count;  // -1: the open fails
    };
    for (const Case& c : std::vector<Case>{{"a.PCAP", pcap, 2},
                                           {"b.Cap", pcap, 2},
                                           {"e.tdw", pcap, 2},
                                           {"noextension", pcap, 2},
                                           {"f.pcapng", pcap, 2},
                                           {"g.tdw", netmon, 1},
                                           {"h.TDW", own, 1},
                                           {"i.pcapng", own, 1},
                                           {"j.pcap", own, -1},
                                           {"dir.tdw.cap", own, -1}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Open(WriteFile(c.name, c.bytes)), c.count >= 0);
        EXPECT_EQ(Count(), std::max(c.count, 0));
    }
}

TEST_F(CaptureFile, NetMonTimesAndLayoutsByMajorVersion) {
    const uint64_t lastMillisecond = 0xFFFFFFFFull * 1000 + 999;
    ASSERT_TRUE(Open(WriteFile(
        "v2.cap", NetMonFile(2, {{1234567, TcpFrame()}, {lastMillisecond, UdpFrame()}}))));
    ASSERT_EQ(Count(), 2);
    EXPECT_EQ(Record(0).timeOffset, 1234u);
    EXPECT_EQ(Record(1).timeOffset, 0xFFFFFFFFu);
    EXPECT_EQ(Record(0).frameType, 2);
    EXPECT_EQ(StoredFrame(1), UdpFrame());

    ASSERT_TRUE(Open(WriteFile("v1.cap", NetMonFile(1, {{1234, IcmpFrame()}, {77, ArpFrame()}}))));
    ASSERT_EQ(Count(), 2);
    EXPECT_EQ(Record(0).timeOffset, 1234u);
    EXPECT_EQ(Record(1).timeOffset, 77u);
    EXPECT_EQ(StoredFrame(1), ArpFrame());

    // The frame layout follows the major version, not the signature.
    ASSERT_TRUE(Open(WriteFile("mixed.cap", NetMonFile(1, {{9, TcpFrame()}}, "GMBU"))));
    ASSERT_EQ(Count(), 1);
    EXPECT_EQ(Record(0).timeOffset, 9u);
}

TEST_F(CaptureFile, LoadStateFramesTheLoadAndRefusesASecondOpen) {
    const std::string path = WriteFile("s.tdw", OwnFile({{2, 1, 0, TcpFrame()}}));
    struct Reentrant : RecordingLoadHost {
        void ClearCapture() override {
            RecordingLoadHost::ClearCapture();
            inProgress = loadInProgress.load();
            allowed = captureAllowed.load();
            nested = OpenCaptureFile(path.c_str(), *this);
        }
        std::string path;
        int inProgress = -1, allowed = -1;
        bool nested = true;
    } reentrant;
    reentrant.path = path;
    EXPECT_TRUE(OpenCaptureFile(path.c_str(), reentrant));
    EXPECT_EQ(reentrant.inProgress, 1);
    EXPECT_EQ(reentrant.allowed, 0);
    EXPECT_FALSE(reentrant.nested);
    EXPECT_EQ(reentrant.clears, 1);  // the refused open changed nothing
    EXPECT_EQ(Count(), 1);
    EXPECT_EQ(loadInProgress.load(), 0);
    EXPECT_EQ(captureAllowed.load(), 1);
    EXPECT_TRUE(reentrant.waits.empty());  // nothing was capturing
}

TEST_F(CaptureFile, OpenStopsARunningCaptureWaitsAndDoesNotResume) {
    StartCapture();
    ASSERT_TRUE(Open(WriteFile("c.tdw", OwnFile({{2, 1, 0, TcpFrame()}}))));
    EXPECT_EQ(IsCapturing(), 0);
    EXPECT_TRUE(host.waits.empty());  // no drivers installed: no capture thread to wait for
    EXPECT_EQ(GetPacketStore().startTick.load(), 0u);  // cleared; a load starts nothing
}

TEST_F(CaptureFile, UnopenableFileLeavesAnEmptyCapture) {
    StoreOnePacket();
    EXPECT_FALSE(Open("does-not-exist.tdw"));
    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(host.clears, 1);
    EXPECT_EQ(view.status[2], "  0 / 65536");
}

TEST_F(CaptureFile, CapOrPcapThatIsNeitherFormatFails) {
    Bytes garbage(200, 0x5a);
    // Big-endian, whose record claims 0x3c000000 bytes.
    Bytes bigEndianPcap = PcapHeader(0xd4c3b2a1);
    PutPcapRecord(bigEndianPcap, 0, 0, 60, 60);
    Append(bigEndianPcap, Bytes(60, 0));
    Bytes shortPcap = PcapFile({});  // header only: shorter than 72 bytes
    Bytes shortNetMon = NetMonFile(2, {{0, TcpFrame()}});
    shortNetMon.resize(71);
    for (const auto& [name, bytes] : std::vector<std::pair<std::string, Bytes>>{
             {"garbage.cap", garbage},
             {"bigendian.pcap", bigEndianPcap},
             {"short.pcap", shortPcap},
             {"short.cap", shortNetMon},
             {"empty.pcap", {}}}) {
        SCOPED_TRACE(name);
        StoreOnePacket();
        EXPECT_FALSE(Open(WriteFile(name, bytes)));
        EXPECT_EQ(Count(), 0);
    }
}

TEST_F(CaptureFile, PcapOrNetMonWithoutAReadableFrameFails) {
    // libpcap: a first record that claims more than 65,535 bytes; a record cut short.
    Bytes tooLong = PcapHeader();
    PutPcapRecord(tooLong, 0, 0, 65536, 65536);
    Append(tooLong, Bytes(100, 0));
    Bytes cut = PcapHeader();
    PutPcapRecord(cut, 0, 0, 200, 200);
    Append(cut, Bytes(100, 0));
    // Network Monitor: an empty table, a table past the end of the file, entries past the end.
    Bytes noTable = NetMonFile(2, {});
    Bytes tableOutside = NetMonFile(2, {{0, TcpFrame()}});
    tableOutside[24] = 0xff;
    tableOutside[25] = 0xff;
    Bytes entriesOutside = NetMonFile(1, {{0, TcpFrame()}});
    const size_t table = entriesOutside.size() - 4;
    entriesOutside[table + 2] = 0x7f;
    for (const auto& [name, bytes] : std::vector<std::pair<std::string, Bytes>>{
             {"toolong.pcap", tooLong},
             {"cut.pcap", cut},
             {"notable.cap", noTable},
             {"tableoutside.cap", tableOutside},
             {"entriesoutside.cap", entriesOutside}}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Open(WriteFile(name, bytes)));
        EXPECT_EQ(Count(), 0);
    }
}

TEST_F(CaptureFile, OwnFormatEndingInsideARecordKeepsWhatWasRead) {
    const Bytes two = OwnFile({{2, 1, 1, TcpFrame()}, {2, 1, 2, UdpFrame()}});

    EXPECT_TRUE(Open(WriteFile("empty.tdw", {})));
    EXPECT_EQ(Count(), 0);
    // One byte is less than a frame type: the file is finished.
    Bytes oneMore = two;
    oneMore.push_back(2);
    EXPECT_TRUE(Open(WriteFile("onebyte.tdw", oneMore)));
    EXPECT_EQ(Count(), 2);

    Bytes shortHeader = two;
    Append(shortHeader, {2, 0, 1, 0});
    Bytes shortFrame = two;
    Append(shortFrame, OwnFile({{2, 1, 3, IcmpFrame()}}));
    shortFrame.pop_back();
    Bytes tooLong = two;
    Bytes record;
    bytes::AppendLe16(record, 2);
    bytes::AppendLe16(record, 0);
    bytes::AppendLe32(record, 65536);
    bytes::AppendLe32(record, 0);
    Append(tooLong, record);
    Append(tooLong, Bytes(65536, 0));
    for (const auto& [name, bytes] : std::vector<std::pair<std::string, Bytes>>{
             {"shortheader.tdw", shortHeader}, {"shortframe.tdw", shortFrame},
             {"toolong.tdw", tooLong}}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Open(WriteFile(name, bytes)));
        ASSERT_EQ(Count(), 2);
        EXPECT_EQ(StoredFrame(1), UdpFrame());
    }
}

TEST_F(CaptureFile, SlicedOrOversizedNetMonFrameEndsTheLoad) {
    for (uint8_t major : {1, 2}) {
        SCOPED_TRACE(major);
        // The third frame has fewer bytes available than its length.
        const Bytes sliced = NetMonFile(
            major, {{1, TcpFrame()}, {2, UdpFrame()}, {3, IcmpFrame(), -10}, {4, ArpFrame()}});
        EXPECT_TRUE(Open(WriteFile("sliced.cap", sliced)));
        ASSERT_EQ(Count(), 2);
        EXPECT_EQ(StoredFrame(1), UdpFrame());
        // Sliced at the first frame: nothing was read.
        EXPECT_FALSE(Open(WriteFile("slicedfirst.cap", NetMonFile(major, {{1, TcpFrame(), 1}}))));
        EXPECT_EQ(Count(), 0);
    }
    // A 2.x frame above 65,535 bytes stops the load as well.
    Bytes big(65536, 0);
    std::copy_n(TcpFrame().begin(), TcpFrame().size(), big.begin());
    EXPECT_TRUE(
        Open(WriteFile("big.cap", NetMonFile(2, {{1, UdpFrame()}, {2, big}, {3, IcmpFrame()}}))));
    EXPECT_EQ(Count(), 1);
}

TEST_F(CaptureFile, TooSmallFramesAreRefusedButCountAsRead) {
    // A 20-byte frame is refused by the arrival handler; the libpcap file still yields a capture.
    const Bytes tiny(20, 0);
    EXPECT_TRUE(Open(WriteFile("tiny.pcap", PcapFile({{0, 0, tiny}, {0, 0, tiny}, {0, 0, tiny}}))));
    EXPECT_EQ(Count(), 0);
    EXPECT_TRUE(Open(WriteFile("tiny2.pcap", PcapFile({{0, 0, tiny}, {0, 0, TcpFrame()}}))));
    EXPECT_EQ(Count(), 1);
}

TEST_F(CaptureFile, CaptureFiltersApplyToLoadedFrames) {
    CaptureFilterRule dropUdp;
    dropUdp.criteria = kMatchProtocol;
    dropUdp.protocol = 17;
    ASSERT_TRUE(InsertFilterRule(dropUdp, 0));
    ASSERT_TRUE(Open(WriteFile("f.pcap", PcapFile({{0, 1000, TcpFrame()},
                                                   {0, 2000, UdpFrame()},
                                                   {0, 3000, IcmpFrame()},
                                                   {0, 4000, UdpFrame(1, 2)}}))));
    ASSERT_EQ(Count(), 2);
    EXPECT_EQ(Record(0).protocol, 6);
    EXPECT_EQ(Record(1).protocol, 1);
    EXPECT_EQ(Record(1).index, 1u);
    EXPECT_EQ(Record(1).timeOffset, 2u);  // from the first frame
    EXPECT_EQ(view.rows, (std::vector<uint32_t>{0, 1}));
}

TEST_F(CaptureFile, PacketCountTextEveryHundredthFrameAndAtTheEnd) {
    StatusHistoryView history;
    SetArrivalView(&history);
    std::vector<OwnRecord> records(250, OwnRecord{2, 1, 0, TcpFrame()});
    ASSERT_TRUE(Open(WriteFile("many.tdw", OwnFile(records))));
    SetArrivalView(&view);
    EXPECT_EQ(history.countTexts,
              (std::vector<std::string>{"  0 / 65536", "  100 / 65536", "  200 / 65536",
                                        "  250 / 65536"}));
    EXPECT_EQ(history.rows.size(), 250u);
}

TEST_F(CaptureFile, FullStoreRefusesFurtherFramesAndTheReaderGoesOn) {
    // 40-byte raw frames, each with its index in its time, then 10 more and a cut record at the
    // end: the load fails only if the reader reached it.
    const int32_t limit = PacketStore::kLimit;
    Bytes file;
    file.reserve((limit + 11) * 52);
    Bytes frame(40, 0x45);
    for (int32_t i = 0; i < limit + 10; ++i) {
        bytes::AppendLe16(file, 1);
        bytes::AppendLe16(file, 0);
        bytes::AppendLe32(file, 40);
        bytes::AppendLe32(file, static_cast<uint32_t>(i));
        frame[39] = static_cast<uint8_t>(i);
        Append(file, frame);
    }
    Append(file, {1, 0, 40, 0});
    StatusHistoryView history;
    SetArrivalView(&history);
    EXPECT_FALSE(Open(WriteFile("full.tdw", file)));
    SetArrivalView(&view);
    ASSERT_EQ(Count(), limit);
    EXPECT_EQ(history.status[0], "  Packet capture stopped - packet limit reached.");
    EXPECT_EQ(history.rows.size(), static_cast<size_t>(limit));
    const PacketRecord& last = Record(limit - 1);
    EXPECT_EQ(last.timeOffset, static_cast<uint32_t>(limit - 1));
    EXPECT_EQ(last.data[39], static_cast<uint8_t>(limit - 1));
    EXPECT_EQ(history.countTexts.back(), "  65536 / 65536");
}

TEST_F(CaptureFile, WriteOwnCaptureFailsOnlyWhenTheFileCannotBeMade) {
    EXPECT_FALSE(WriteOwnCapture("no-such-folder/x.tdw"));
    // An empty store writes an empty file.
    ASSERT_TRUE(WriteOwnCapture("empty-out.tdw"));
    EXPECT_TRUE(ReadFile("empty-out.tdw").empty());
}

// Enough frames to fill the writer's batches many times over, each format read back whole; then
// the same with a file size limit halfway, as a full disk would stop it.
TEST_F(CaptureFile, EveryFormatWritesAManyFrameStoreWholeAndFailsAShortWrite) {
    std::vector<Bytes> frames;
    for (uint32_t i = 0; i < 3000; ++i) {
        const Bytes payload(i * 7 % 1400, static_cast<uint8_t>(i));
        frames.push_back(frames::Ethernet(
            kMacB, kMacA, 0x0800, frames::IPv4(17, kHostA, kHostB, frames::UDP(1, 2, payload))));
        ASSERT_EQ(HandleArrival(frames.back().data(), static_cast<uint32_t>(frames.back().size()),
                                2, false), 1);
    }
    for (const char* name : {"many.pcap", "many.pcapng", "many.tdw"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(WriteCaptureFile(name));
        const size_t size = ReadFile(name).size();
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit half = saved;
        half.rlim_cur = size / 2;
        auto previous = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &half), 0);
        const std::string cut = std::string("cut-") + name;
        const bool written = WriteCaptureFile(cut.c_str());
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        EXPECT_FALSE(written);
        EXPECT_FALSE(std::filesystem::exists(cut));  // nothing half written is left behind

        ASSERT_TRUE(Open(name));
        ASSERT_EQ(Count(), 3000);
        for (int32_t i = 0; i < 3000; ++i) {
            ASSERT_EQ(Bytes(Record(i).data.get(), Record(i).data.get() + Record(i).length),
                      frames[i]) << i;
        }
    }
}

}  // namespace
