#include "app/headless/HeadlessArrivalView.h"

#include <chrono>
#include <cstdio>
#include <string_view>
#include <thread>

#include "capture/CaptureFilters.h"

void HeadlessArrivalView::SetStatusText(int pane, const char* text) {
    // The arrival handler's text comes with the status bar's two leading blanks.
    const std::string_view shown(text ? text : "");
    if (pane == 0 && shown.ends_with(kPacketLimitReached)) ++refusedAtLimit;
}

void HeadlessArrivalView::ClearCapture() { ClearStore(); }

void HeadlessArrivalView::Wait(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void HeadlessArrivalView::LoadNotice(const char* text) { std::fprintf(stderr, "%s\n", text); }

bool OpenForHeadless(const char* path) {
    static HeadlessArrivalView view;
    if (!AllocateStore()) return false;
    ResetFilters();
    SetArrivalView(&view);
    view.refusedAtLimit = 0;
    const bool opened = OpenCaptureFile(path, view);
    if (view.refusedAtLimit > 0) {
        std::fprintf(stderr,
                     "tidewatch: %s holds %d frames more than the %d the packet store keeps; "
                     "they were left out\n",
                     path, view.refusedAtLimit, PacketStore::kLimit);
    }
    return opened;
}

int ReportOpenFailure() {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", kFileParsingError);
    return 1;
}
