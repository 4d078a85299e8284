#include "capture/CaptureLoop.h"

#include <linux/capability.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

std::atomic<int32_t> captureMethod{1};

int IsUserAdministrator() {
    if (geteuid() == 0) return 1;
    // The effective capability set, as the kernel reports it for this process.
    std::ifstream status("/proc/self/status");
    if (!status) return -1;
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("CapEff:", 0) != 0) continue;
        char* end = nullptr;
        const unsigned long long effective = std::strtoull(line.c_str() + 7, &end, 16);
        if (end == line.c_str() + 7) return -1;
        const unsigned long long needed =
            (1ULL << CAP_NET_RAW) | (1ULL << CAP_NET_ADMIN);
        return (effective & needed) == needed ? 1 : 0;
    }
    return -1;
}
