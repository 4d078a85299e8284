#include "app/headless/Headless.h"

#include <cstdio>

// The modes that read capture files arrive with the file readers and the decoders.
int RunHeadless(const HeadlessOptions& options) {
    std::fprintf(stderr, "tidewatch: capture files cannot be read by this build yet\n");
    std::fputs(HeadlessUsage(), stderr);
    return 2;
}
