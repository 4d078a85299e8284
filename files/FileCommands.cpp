#include "files/FileCommands.h"

#include <iterator>

#include "capture/PacketStore.h"

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
    }
    if (wasCapturing) StartCapture();
    return written;
}

bool QueryExit(FileHost& host) {
    if (IsCapturing()) {
        if (host.ShowMessage(kAbortCaptureQuestion, MessageButtons::YesNoCancel,
                             MessageIcon::Question) != MessageAnswer::Yes) {
            return false;
        }
        StopCapture();
        host.Wait(500);
    }
    if (host.Unsaved()) {
        switch (host.ShowMessage(kSaveBeforeExitQuestion, MessageButtons::YesNoCancel,
                                 MessageIcon::Question)) {
            case MessageAnswer::Cancel:
                return false;
            case MessageAnswer::Yes:
                if (!SaveCommand(host)) return false;
                break;
            default:
                break;
        }
    }
    return true;
}
