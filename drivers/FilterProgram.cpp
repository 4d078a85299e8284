// What is done with a compiled kernel filter program, apart from compiling: the Network Monitor
// provider, a library of its own, reads its text form and attaches it.
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "drivers/CaptureFilter.h"

namespace CaptureFilter {

int Attach(int fd, const std::vector<sock_filter>& program) {
    if (program.empty()) return 0;
    const sock_fprog attached{static_cast<unsigned short>(program.size()),
                              const_cast<sock_filter*>(program.data())};
    return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &attached, sizeof attached) == 0 ? 0
                                                                                          : errno;
}

std::vector<sock_filter> Chain(std::vector<sock_filter> first,
                               const std::vector<sock_filter>& then) {
    if (then.empty()) return first;
    const size_t start = first.size();
    for (size_t i = 0; i < start; ++i) {
        sock_filter& step = first[i];
        // A return of 0 drops the frame and stays; so does a return of a register (none of
        // the programs chained here has one).
        if (step.code == (BPF_RET | BPF_K) && step.k != 0) {
            step = sock_filter{BPF_JMP | BPF_JA, 0, 0, static_cast<uint32_t>(start - i - 1)};
        }
    }
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

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
