#include "app/headless/Headless.h"

#include <cstdio>

#include "app/headless/Describe.h"
#include "app/headless/Modes.h"

namespace {

struct ModeEntry {
    HeadlessMode mode;
    int (*run)(const HeadlessOptions&);
};

// One entry per headless mode.
constexpr ModeEntry kModes[] = {
    {HeadlessMode::List, RunList},
    {HeadlessMode::Describe, RunDescribe},
    {HeadlessMode::Tree, RunDescribe},
    {HeadlessMode::Convert, RunConvert},
    {HeadlessMode::Capture, RunCapture},
    {HeadlessMode::Interfaces, RunInterfaces},
    {HeadlessMode::CheckFilter, RunCheckFilter},
};

}  // namespace

int RunHeadless(const HeadlessOptions& options) {
    for (const ModeEntry& entry : kModes) {
        if (entry.mode == options.mode) return entry.run(options);
    }
    std::fputs(HeadlessUsage(), stderr);
    return 2;
}
