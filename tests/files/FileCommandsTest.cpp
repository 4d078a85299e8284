#include <gtest/gtest.h>

#include <deque>

#include "files/FileCommands.h"
#include "tests/files/FileTestSupport.h"

using namespace filetest;

namespace {

// The window as the file commands see it: scripted dialog and message-box answers, a record of
// what was asked, and rows that set `unsaved` as the packet list does.
class ScriptedHost : public FileHost, public ArrivalView {
public:
    bool ShowFileDialog(const FileDialogRequest& request, str& path) override {
        requests.push_back(request);
        if (dialogPath.empty()) return false;
        if (request.chosenFilter && filterChoice >= 0) *request.chosenFilter = filterChoice;
        path = dialogPath.c_str();
        return true;
    }
    MessageAnswer ShowMessage(const char* text, MessageButtons buttons, MessageIcon icon) override {
        messages.push_back({text, buttons, icon});
        if (answers.empty()) return MessageAnswer::Cancel;
        MessageAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    bool OpenByName(const char* path) override {
        opened.push_back(path);
        return OpenCaptureFile(path, *this);
    }
    void SetCurrentFile(const char* path) override {
        currentFile = path;
        capturingWhenSaved = IsCapturing();
    }
    void AddRecentFile(const char* path) override { recentFiles.push_back(path); }
    bool Unsaved() const override { return unsaved; }
    void SetUnsaved(bool value) override { unsaved = value; }
    void ClearCapture() override {
        ClearStore();
        unsaved = false;
    }
    void Wait(uint32_t milliseconds) override { waits.push_back(milliseconds); }
    bool AwaitCaptureStop() override {
        ++stopWaits;
        return true;
    }
    void AddPacketRow(uint32_t) override { unsaved = true; }
    void SetStatusText(int, const char*) override {}
    void SaveFailed(const char* reason) override { saveFailure = reason; }

    struct Message {
        std::string text;
        MessageButtons buttons;
        MessageIcon icon;
    };
    std::string dialogPath, saveFailure;
    std::deque<MessageAnswer> answers;
    std::vector<FileDialogRequest> requests;
    std::vector<Message> messages;
    std::vector<std::string> opened, recentFiles;
    std::vector<uint32_t> waits;
    int stopWaits = 0;
    std::string currentFile;
    int capturingWhenSaved = -1;
    bool unsaved = false;
    int filterChoice = -1;  // the filter the dialog leaves selected; -1: the one asked for
};

class FileCommands : public CaptureFixture {
protected:
    void SetUp() override {
        CaptureFixture::SetUp();
        SetArrivalView(&host);
    }
    void StorePackets() {
        for (const Bytes& frame : {TcpFrame(), UdpFrame()}) {
            HandleArrival(frame.data(), static_cast<uint32_t>(frame.size()), 2, true);
        }
    }
    ScriptedHost host;
};

TEST_F(FileCommands, OpenDialogOffersTheFourFilters) {
    OpenCommand(host);  // cancelled
    ASSERT_EQ(host.requests.size(), 1u);
    const FileDialogRequest& request = host.requests[0];
    EXPECT_FALSE(request.save);
    ASSERT_EQ(request.filterCount, 4u);
    EXPECT_STREQ(request.filters[0].text, "All (*.*)");
    EXPECT_STREQ(request.filters[0].pattern, "*.*");
    EXPECT_STREQ(request.filters[1].text, "Tidewatch Capture Files (*.tdw)");
    EXPECT_STREQ(request.filters[1].pattern, "*.tdw");
    EXPECT_STREQ(request.filters[2].text,
                 "Network Monitor or libPCap Capture Files (*.cap; *.pcap)");
    EXPECT_STREQ(request.filters[2].pattern, "*.cap;*.pcap");
    EXPECT_STREQ(request.filters[3].pattern, "*.pcapng");
    EXPECT_EQ(request.selectedFilter, 1u);
    EXPECT_STREQ(request.defaultExtension, "tdw");
    EXPECT_EQ(request.maxPathLength, size_t{PATH_MAX});
    EXPECT_TRUE(host.opened.empty());
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(FileCommands, OpenedCaptureIsNotUnsavedAndFailureIsToldInABox) {
    host.dialogPath =
        WriteFile("open.pcap", PcapFile({{0, 0, TcpFrame()}, {0, 5000, IcmpFrame()}}));
    OpenCommand(host);
    EXPECT_EQ(host.opened, std::vector<std::string>{host.dialogPath});
    EXPECT_EQ(Count(), 2);
    EXPECT_FALSE(host.unsaved);
    EXPECT_TRUE(host.messages.empty());

    host.dialogPath = WriteFile("broken.pcap", Bytes(100, 1));
    OpenCommand(host);
    EXPECT_EQ(Count(), 0);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "File parsing error. The File could not be opened.");
    EXPECT_EQ(host.messages[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Exclamation);
}

TEST_F(FileCommands, SaveWritesRemembersTheFileAndClearsUnsaved) {
    StorePackets();
    EXPECT_TRUE(host.unsaved);
    EXPECT_FALSE(SaveCommand(host));  // cancelled
    ASSERT_EQ(host.requests.size(), 1u);
    EXPECT_TRUE(host.requests[0].save);
    ASSERT_EQ(host.requests[0].filterCount, 3u);
    EXPECT_STREQ(host.requests[0].filters[0].text, "Tidewatch Capture Files (*.tdw)");
    EXPECT_STREQ(host.requests[0].filters[0].pattern, "*.tdw");
    EXPECT_STREQ(host.requests[0].filters[1].text, "libpcap Capture Files (*.pcap)");
    EXPECT_STREQ(host.requests[0].filters[2].text, "pcapng Capture Files (*.pcapng)");
    EXPECT_STREQ(host.requests[0].defaultExtension, "tdw");
    EXPECT_TRUE(host.unsaved);

    host.dialogPath = (std::filesystem::current_path() / "saved.tdw").string();
    EXPECT_TRUE(SaveCommand(host));
    EXPECT_FALSE(host.unsaved);
    EXPECT_EQ(host.currentFile, host.dialogPath);
    EXPECT_EQ(host.recentFiles, std::vector<std::string>{host.dialogPath});
    EXPECT_EQ(ReadFile(host.dialogPath),
              OwnFile({{2, 1, Record(0).timeOffset, TcpFrame()},
                       {2, 1, Record(1).timeOffset, UdpFrame()}}));
}

TEST_F(FileCommands, SaveFormatByExtensionElseByFilter) {
    StorePackets();
    const Bytes pcap = {0xd4, 0xc3, 0xb2, 0xa1}, pcapng = {0x0a, 0x0d, 0x0d, 0x0a};
    const Bytes own = {2, 0, 1, 0};  // the first record's frame type and IP flag
    struct Case {
        int filter;
        const char* name;
        const Bytes& start;
    };
    for (const Case& c : std::vector<Case>{{0, "a.pcap", pcap},
                                           {0, "b.CAP", pcap},
                                           {0, "c.pcapng", pcapng},
                                           {1, "d.tdw", own},
                                           {1, "e.capture", pcap},
                                           {2, "f", pcapng},
                                           {-1, "g", own}}) {
        SCOPED_TRACE(c.name);
        host.filterChoice = c.filter;
        host.dialogPath = (std::filesystem::current_path() / c.name).string();
        ASSERT_TRUE(SaveCommand(host));
        const Bytes written = ReadFile(host.dialogPath);
        ASSERT_GE(written.size(), 4u);
        EXPECT_EQ(Bytes(written.begin(), written.begin() + 4), c.start);
    }
}

TEST_F(FileCommands, SaveThatCannotCreateTheFileShowsNoBoxButSaysWhy) {
    StorePackets();
    host.dialogPath = "no-such-folder/saved.tdw";
    StartCapture();
    EXPECT_FALSE(SaveCommand(host));
    EXPECT_TRUE(host.unsaved);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.saveFailure,
              "Could not save no-such-folder/saved.tdw: the folder no-such-folder does not exist");
    EXPECT_TRUE(host.recentFiles.empty());
    EXPECT_EQ(IsCapturing(), 1);  // restarted even though the write failed
}

TEST_F(FileCommands, SaveWhileCapturingStopsForTheWriteAndRestarts) {
    StartCapture();
    StorePackets();
    const uint32_t startTick = GetPacketStore().startTick.load();
    host.dialogPath = "during.tdw";
    EXPECT_TRUE(SaveCommand(host));
    EXPECT_EQ(host.capturingWhenSaved, 0);
    EXPECT_EQ(IsCapturing(), 1);
    EXPECT_EQ(GetPacketStore().startTick.load(), startTick);
    EXPECT_TRUE(host.waits.empty());  // saving does not wait for the capture thread
}

TEST_F(FileCommands, ExitWithARunningCaptureAsksFirst) {
    StartCapture();
    host.answers = {MessageAnswer::No};
    EXPECT_FALSE(QueryExit(host));
    EXPECT_EQ(IsCapturing(), 1);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text,
              "Are you sure you want to exit and abort the running capture session?");
    EXPECT_EQ(host.messages[0].buttons, MessageButtons::YesNoCancel);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Question);

    host.answers = {MessageAnswer::Cancel};
    EXPECT_FALSE(QueryExit(host));
    EXPECT_EQ(IsCapturing(), 1);

    host.answers = {MessageAnswer::Yes};
    EXPECT_TRUE(QueryExit(host));  // nothing unsaved: no second question
    EXPECT_EQ(IsCapturing(), 0);
    EXPECT_EQ(host.stopWaits, 1);  // the capture thread's confirmation, no fixed pause
    EXPECT_TRUE(host.waits.empty());
    EXPECT_EQ(host.messages.size(), 3u);
}

TEST_F(FileCommands, ExitWithUnsavedPacketsOffersToSave) {
    const std::string question =
        "The capture has not been saved. Do you want to save the capture before exiting?";
    EXPECT_TRUE(QueryExit(host));
    EXPECT_TRUE(host.messages.empty());

    StorePackets();
    host.answers = {MessageAnswer::Cancel};
    EXPECT_FALSE(QueryExit(host));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, question);
    EXPECT_EQ(host.messages[0].buttons, MessageButtons::YesNoCancel);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Question);

    host.answers = {MessageAnswer::No};
    EXPECT_TRUE(QueryExit(host));

    host.answers = {MessageAnswer::Yes};  // the save dialog is cancelled
    EXPECT_FALSE(QueryExit(host));

    host.answers = {MessageAnswer::Yes};
    host.dialogPath = "exit.tdw";
    EXPECT_TRUE(QueryExit(host));
    EXPECT_FALSE(host.unsaved);
    EXPECT_EQ(ReadFile("exit.tdw").size(), TcpFrame().size() + UdpFrame().size() + 24);
}

}  // namespace
