// --convert FILE OUT: opens FILE as the Open command does and writes what was stored to OUT in
// the format OUT's extension names. Nothing is written when FILE cannot be opened.
#include <cstdio>

#include "app/headless/HeadlessArrivalView.h"
#include "app/headless/Modes.h"

int RunConvert(const HeadlessOptions& options) {
    if (!OpenForHeadless(options.file.c_str())) return ReportOpenFailure();
    if (!WriteCaptureFile(options.output.c_str())) {
        std::fprintf(stderr, "tidewatch: cannot write %s\n", options.output.c_str());
        return 1;
    }
    return 0;
}
