// Feeds arbitrary bytes to the capture helper's request parser, the only code of the helper that
// reads what its caller sends. An accepted request must be one the helper can act on as it is.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "helper/Request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    capturehelper::Request request;
    std::string error;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!capturehelper::ParseRequest(bytes, request, error)) {
        if (error.empty() || error.find('\n') != std::string::npos) std::abort();
        return 0;
    }
    if (!capturehelper::IsInterfaceName(request.interface)) std::abort();
    if (request.kind == capturehelper::Request::Kind::Pcap &&
        (request.snapshotLength < 1 || request.bufferBytes < 65536 || request.timeoutMs < 1)) {
        std::abort();
    }
    return 0;
}
