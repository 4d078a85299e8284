// A small capture the program makes itself, so that a first start shows decoded packets at once:
// a few dozen frames with at least one for every decoder (ARP, DNS, TCP with HTTP, ICMP, DHCP,
// NetBIOS name service, rwho, BONE, DEC DNA, IPv6, 802.3 with LLC and SNAP, IMAP text).
#pragma once

#include <cstdint>
#include <vector>

#include "decode/FrameBuilder.h"

struct DemoFrame {
    int frameType;        // 2: Ethernet
    uint32_t timeOffset;  // milliseconds from the start of the capture
    frames::Bytes bytes;
};

std::vector<DemoFrame> DemoFrames();

// Writes the demonstration capture as a Tidewatch capture file. False when the file cannot be
// written.
bool WriteDemoCapture(const char* path);
