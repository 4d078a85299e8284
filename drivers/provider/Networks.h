// Inside the provider: what a blob is, and the networks it can capture on.
#pragma once

#include <cerrno>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "drivers/NetMonRecords.h"

// A network blob describes one interface; an empty blob (CreateBlob) describes nothing. The
// network blobs live as long as the library and are shared by every caller: the same interface
// always yields the same handle, so a handle the driver keeps stays valid however often the
// table is made again.
struct NetMonBlobData {
    bool network = false;
    NetMonNetworkInfo info{};
    std::string error;  // of an error blob: why the call it was given to failed
};

namespace npp {

// The interfaces a capture can run on: Ethernet-type ones with a six-byte hardware address, in
// the kernel's order. Each call looks again.
std::vector<NetMonBlob> CaptureNetworks();

// A status that keeps errno in its high 16 bits.
inline uint32_t SystemError(int error) {
    return kNetMonSystemError | (static_cast<uint32_t>(error & 0xffff) << 16);
}

// The entry points fail, never throw, when memory runs out.
template <class Fn>
uint32_t NoThrow(Fn fn) {
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        return SystemError(ENOMEM);
    }
}

}  // namespace npp

// The dialog, in a companion library (libnpptools-ui.so) loaded only when it is shown, so that a
// capture without a window never loads the GUI toolkit. Lists the names and address texts;
// returns the chosen row, or -1 when cancelled or there is no application object.
extern "C" int NppRunSelectDialog(void* ownerWindow, const char* const* names,
                                  const char* const* addresses, int count);
using NppRunSelectDialogProc = decltype(&NppRunSelectDialog);
