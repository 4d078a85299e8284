// A clean store, no filter rules and a view that records rows and status texts.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "capture/CaptureFilters.h"
#include "capture/PacketStore.h"

class RecordingView : public ArrivalView {
public:
    void AddPacketRow(uint32_t index) override {
        std::lock_guard<std::mutex> lock(mutex);
        rows.push_back(index);
    }
    void SetStatusText(int pane, const char* text) override {
        std::lock_guard<std::mutex> lock(mutex);
        status[pane] = text;
    }
    std::mutex mutex;
    std::vector<uint32_t> rows;
    std::string status[3];
};

class CaptureFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(AllocateStore());
        StopCapture();
        ClearStore();
        ResetFilters();
        SetArrivalView(&view);
    }
    void TearDown() override {
        GetPacketStore().rowsShown.store(true);
        SetArrivalView(nullptr);
        StopCapture();
        ClearStore();
        ResetFilters();
    }
    static const PacketRecord& Record(int32_t index) { return GetPacketStore()[index]; }
    static int32_t Count() { return GetPacketStore().Count(); }

    RecordingView view;
};
