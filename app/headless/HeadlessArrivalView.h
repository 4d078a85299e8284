// What the headless modes put in the window's place: an arrival view that shows nothing (the
// modes print the store after the load) and a load host with no list or tree to empty.
#pragma once

#include <cstdint>

#include "capture/PacketStore.h"
#include "files/CaptureFile.h"

class HeadlessArrivalView : public ArrivalView, public LoadHost {
public:
    void AddPacketRow(uint32_t index) override {}
    // Counts the frames the store had no room for.
    void SetStatusText(int pane, const char* text) override;
    void ClearCapture() override;
    void Wait(uint32_t milliseconds) override;

    int32_t refusedAtLimit = 0;
    // On standard error, one line.
    void LoadNotice(const char* text) override;
};

// Prepares the store and the filters (there is no capture thread to do it), then opens the file
// as the Open command does; says on standard error when the file held more frames than the store
// keeps. True when the file was read.
bool OpenForHeadless(const char* path);

// The ending every mode shares when the open failed: the message on standard error; exit code 1.
int ReportOpenFailure();
