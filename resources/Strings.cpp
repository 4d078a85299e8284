#include "resources/Resources.h"

namespace res {

const char* String(int id) {
    switch (id) {
        case kStrScanRunning: return kTextScanRunning;
        case kStrReady: return kTextReady;
        case kStrLegalNotice: return kTextLegalNotice;
        default: return "";
    }
}

}  // namespace res
