// Running --describe and --tree for the app tests: in this process (standard output and error
// caught in temporary files) or through the built program, and splitting the output by packet.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/headless/Describe.h"
#include "tests/files/FileTestSupport.h"

namespace describetest {

struct ModeRun {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string Slurp(FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    std::fclose(file);
    return text;
}

inline ModeRun RunInProcess(HeadlessMode mode, const std::string& path,
                            HeadlessView view = HeadlessView::Parser, long packet = -1) {
    HeadlessOptions options;
    options.mode = mode;
    options.file = path;
    options.view = view;
    options.packet = packet;
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOut = dup(1), savedErr = dup(2);
    dup2(fileno(out), 1);
    dup2(fileno(err), 2);
    ModeRun run;
    run.status = RunDescribe(options);
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(savedOut);
    close(savedErr);
    run.out = Slurp(out);
    run.err = Slurp(err);
    return run;
}

// `tidewatch --describe FILE` through the built program; in this process while the program's
// dispatcher does not run the mode yet (it then exits with the usage status 2).
inline ModeRun DescribeFile(const std::string& path) {
    ModeRun run;
    run.out = filetest::RunShell(std::string("'") + TW_TIDEWATCH + "' --describe '" + path +
                                     "' 2>/dev/null",
                                 &run.status);
    if (run.status == 2) run = RunInProcess(HeadlessMode::Describe, path);
    return run;
}

// The description of each packet in the output of --describe over a whole file, in store order.
inline std::vector<std::string> SplitPackets(const std::string& out) {
    std::vector<std::string> packets;
    if (out.rfind("#0\n", 0) != 0) return packets;
    size_t start = 3;
    for (int next = 1;; ++next) {
        const std::string marker = "\n#" + std::to_string(next) + "\n";
        const size_t at = out.find(marker, start);
        if (at == std::string::npos) {
            // The last text is followed by one "\n".
            packets.push_back(out.substr(start, out.size() - 1 - start));
            return packets;
        }
        packets.push_back(out.substr(start, at - start));
        start = at + marker.size();
    }
}

}  // namespace describetest
