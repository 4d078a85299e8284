// The capture filter on the command line: --check-filter, and the expression --capture starts
// with. Both compile it as the driver of the method will, so that "valid" here means the
// capture takes it, and a capture never opens anything for an expression it would refuse.
#include <cstdio>
#include <string>

#include "app/headless/Modes.h"
#include "drivers/CaptureFilter.h"
#include "framework/Registry.h"
#include "framework/str.h"

namespace {

// Text for one line of standard error: control characters (an expression may hold a line
// break) as blanks, and a very long expression cut, since the library's message says what is
// wrong with it.
std::string OneLine(const std::string& text, size_t most = 4096) {
    std::string line = text.size() > most
                           ? text.substr(0, most) + "... (" + std::to_string(text.size()) +
                                 " characters)"
                           : text;
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    }
    return line;
}

}  // namespace

int CaptureMethodOf(const HeadlessOptions& options) {
    if (options.method) return options.method;
    const uint32_t stored = ReadRegNumber("CaptureMethod", 1);
    return stored >= 1 && stored <= 3 ? static_cast<int>(stored) : 1;
}

bool TakeCaptureFilter(const HeadlessOptions& options, int method) {
    std::string expression = options.filter;
    if (!options.filterGiven) {
        // The whole stored text, however long.
        AppRegKey key;
        str stored;
        key.GetString(CaptureFilter::kSetting, stored, "");
        expression = stored.c_str();
    }
    const std::string error = CaptureFilter::Check(expression, method);
    if (!error.empty()) {
        std::fprintf(stderr, "tidewatch: bad capture filter '%s'%s: %s\n",
                     OneLine(expression, 80).c_str(),
                     options.filterGiven ? "" : " (the stored setting \"CaptureFilter\")",
                     OneLine(error).c_str());
        return false;
    }
    CaptureFilter::SetExpression(expression);
    return true;
}

int RunCheckFilter(const HeadlessOptions& options) {
    const std::string error = CaptureFilter::Check(options.filter, CaptureMethodOf(options));
    if (!error.empty()) {
        std::fprintf(stderr, "tidewatch: %s\n", OneLine(error).c_str());
        return 2;
    }
    std::puts("valid");
    return 0;
}
