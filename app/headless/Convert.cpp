// --convert FILE OUT: opens FILE as the Open command does and writes what was stored to OUT in
// the format OUT's extension names. Nothing is written when FILE cannot be opened.
#include <cstdio>
#include <string>

#include "app/headless/HeadlessArrivalView.h"
#include "app/headless/Modes.h"
#include "files/OutputFile.h"

int RunConvert(const HeadlessOptions& options) {
    std::string reason;
    // Before the read, which may be long.
    if (OutputFile::CheckTarget(options.output.c_str(), reason)) {
        if (!OpenForHeadless(options.file.c_str())) return ReportOpenFailure();
        if (WriteCaptureFile(options.output.c_str())) return 0;
        reason = OutputFile::LastFailure();
    }
    std::fprintf(stderr, "tidewatch: cannot write %s: %s\n", options.output.c_str(),
                 reason.empty() ? "the writer failed" : reason.c_str());
    return 1;
}
