// Feeds arbitrary bytes to the DNS describer: as port-53 payload with per-message framing
// detection (how the dispatcher calls it), as one bare message, and straight into the record-data
// describer with the first two bytes as the record type.
#include <cstddef>
#include <cstdint>
#include <limits>

#include "decode/DNS.h"
#include "framework/Bytes.h"
#include "framework/str.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return 0;
    const int32_t length = static_cast<int32_t>(size);

    str text;
    DescribeDNS(data, length, 0, text);
    text.Clear();
    DescribeDNS(data, length, 1, text);

    if (size >= 2) {
        text.Clear();
        const uint16_t type = bytes::LoadBe16(data);
        DescribeDNSRecordData(type, data + 2, data, data + size,
                              static_cast<uint16_t>(size - 2), text);
    }
    return 0;
}
