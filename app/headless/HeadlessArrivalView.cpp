#include "app/headless/HeadlessArrivalView.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "capture/CaptureFilters.h"

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
    return OpenCaptureFile(path, view);
}

int ReportOpenFailure() {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", kFileParsingError);
    return 1;
}
