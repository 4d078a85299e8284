// Capture control: the capture method the capture thread follows and the start-up check of the
// capture rights. (The capture loop itself comes with the drivers it starts and stops.)
#pragma once

#include <atomic>
#include <cstdint>

// 1 raw socket, 2 Network Monitor provider, 3 packet-capture library; 1 until the settings are
// read. Written by the interface thread only after it has withdrawn the capture request.
extern std::atomic<int32_t> captureMethod;

// 1 when the process may capture: the effective user is root, or the effective capabilities
// hold both CAP_NET_RAW and CAP_NET_ADMIN; 0 when not; -1 when the check cannot be made.
int IsUserAdministrator();
