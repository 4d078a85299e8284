// The text form of a kernel filter program, apart from the rest of the capture filter: the
// Network Monitor provider, a library of its own, reads it.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "drivers/CaptureFilter.h"

namespace CaptureFilter {

std::string ProgramText(const std::vector<sock_filter>& program) {
    std::string text = std::to_string(program.size());
    for (const sock_filter& step : program) {
        text += ',' + std::to_string(step.code) + ' ' + std::to_string(step.jt) + ' ' +
                std::to_string(step.jf) + ' ' + std::to_string(step.k);
    }
    return text;
}

bool ParseProgram(const char* text, std::vector<sock_filter>& program) {
    program.clear();
    if (!text) return false;
    if (*text == '\0' || std::strcmp(text, "0") == 0) return true;  // no filter
    // Each number is read with its bounds checked: the text comes from another library.
    auto number = [&text](unsigned long most, unsigned long& value, char after) {
        if (*text < '0' || *text > '9') return false;
        char* end = nullptr;
        errno = 0;
        value = std::strtoul(text, &end, 10);
        if (errno != 0 || value > most || *end != after) return false;
        text = end + (after != '\0');
        return true;
    };
    unsigned long count = 0;
    if (!number(kMostInstructions, count, ',') || count == 0) return false;
    for (unsigned long i = 0; i < count; ++i) {
        unsigned long code = 0, jt = 0, jf = 0, k = 0;
        if (!number(0xffff, code, ' ') || !number(0xff, jt, ' ') || !number(0xff, jf, ' ') ||
            !number(0xffffffffUL, k, i + 1 == count ? '\0' : ',')) {
            program.clear();
            return false;
        }
        program.push_back(sock_filter{static_cast<uint16_t>(code), static_cast<uint8_t>(jt),
                                      static_cast<uint8_t>(jf), static_cast<uint32_t>(k)});
    }
    return true;
}

}  // namespace CaptureFilter
