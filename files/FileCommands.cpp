#include "files/FileCommands.h"

#include <iterator>

#include "capture/PacketStore.h"
#include "files/OutputFile.h"

namespace {

constexpr FileFilter kOpenFilters[] = {
    {"All (*.*)", "*.*"},
    {"Tidewatch Capture Files (*.tdw)", "*.tdw"},
    {"Network Monitor or libPCap Capture Files (*.cap; *.pcap)", "*.cap;*.pcap"},
    {"pcapng Capture Files (*.pcapng)", "*.pcapng"},
};

// In the order of CaptureFormat.
constexpr FileFilter kSaveFilters[] = {
    {"Tidewatch Capture Files (*.tdw)", "*.tdw"},
    {"libpcap Capture Files (*.pcap)", "*.pcap"},
    {"pcapng Capture Files (*.pcapng)", "*.pcapng"},
};
constexpr CaptureFormat kSaveFormats[] = {CaptureFormat::Own, CaptureFormat::Pcap,
                                          CaptureFormat::PcapNg};
static_assert(std::size(kSaveFormats) == std::size(kSaveFilters));

}  // namespace

void OpenCommand(FileHost& host) {
    FileDialogRequest request;
    request.save = false;
    request.filters = kOpenFilters;
    request.filterCount = std::size(kOpenFilters);
    request.selectedFilter = 1;
    request.defaultExtension = "tdw";
    str path;
    if (!host.ShowFileDialog(request, path)) return;
    if (!QueryReplace(host)) return;
    if (host.OpenByName(path.c_str())) {
        // Rows added by the load set the flag; a capture just opened is not unsaved.
        host.SetUnsaved(false);
    } else {
        host.ShowMessage(kFileParsingError, MessageButtons::Ok, MessageIcon::Exclamation);
    }
}

bool SaveCommand(FileHost& host) {
    FileDialogRequest request;
    request.save = true;
    request.filters = kSaveFilters;
    request.filterCount = std::size(kSaveFilters);
    request.selectedFilter = 0;
    request.defaultExtension = "tdw";
    size_t chosen = request.selectedFilter;
    request.chosenFilter = &chosen;
    str path;
    if (!host.ShowFileDialog(request, path)) return false;
    // The extension wins, so that a name ending in .pcap is never written in the own format.
    CaptureFormat format = chosen < std::size(kSaveFormats) ? kSaveFormats[chosen]
                                                            : CaptureFormat::Own;
    FormatOfExtension(path.c_str(), format);

    // Asked to stop but not waited for: frames stored before the writer reaches the end of the
    // store are written too.
    const bool wasCapturing = IsCapturing() != 0;
    if (wasCapturing) StopCapture();
    const bool written = WriteCapture(path.c_str(), format);
    if (written) {
        host.SetUnsaved(false);
        host.SetCurrentFile(path.c_str());
        host.AddRecentFile(path.c_str());
    } else {
        // No box, as before, but the user learns that the capture is still unsaved, and why.
        const std::string line =
            "Could not save " + std::string(path.c_str()) + ": " + OutputFile::LastFailure();
        host.SaveFailed(line.c_str());
    }
    if (wasCapturing) StartCapture();
    return written;
}

namespace {

// Exit's two questions, for whatever is about to end the capture.
struct CaptureQuestions {
    const char* abortCapture;
    const char* saveFirst;
    bool resumeOnCancel;  // a capture stopped by the first answer runs again on Cancel
};

bool QueryEndOfCapture(FileHost& host, const CaptureQuestions& questions) {
    bool stopped = false;
    if (IsCapturing()) {
        if (host.ShowMessage(questions.abortCapture, MessageButtons::YesNoCancel,
                             MessageIcon::Question) != MessageAnswer::Yes) {
            return false;
        }
        StopCapture();
        host.AwaitCaptureStop();
        stopped = true;
    }
    if (host.Unsaved()) {
        switch (host.ShowMessage(questions.saveFirst, MessageButtons::YesNoCancel,
                                 MessageIcon::Question)) {
            case MessageAnswer::Cancel:
                break;
            case MessageAnswer::Yes:
                if (SaveCommand(host)) return true;
                break;  // the save was cancelled or failed: as Cancel
            default:
                return true;
        }
        if (stopped && questions.resumeOnCancel) StartCapture();
        return false;
    }
    return true;
}

}  // namespace

bool QueryExit(FileHost& host) {
    return QueryEndOfCapture(host, {kAbortCaptureQuestion, kSaveBeforeExitQuestion, false});
}

bool QueryReplace(FileHost& host) {
    return QueryEndOfCapture(host, {kAbortCaptureForOpenQuestion, kSaveBeforeOpenQuestion, true});
}
