// The capture filter's own parts: the text form in which a compiled program crosses into the
// Network Monitor provider, and what compiling refuses before the library sees it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drivers/CaptureFilter.h"

namespace {

TEST(CaptureFilter, AProgramCrossesAsTextAndNothingElseIsTakenForOne) {
    std::vector<sock_filter> compiled, read;
    std::string error;
    ASSERT_TRUE(CaptureFilter::Compile("tcp port 443 or icmp", CaptureFilter::LinkTypeOfMethod(3),
                                       compiled, error))
        << error;
    ASSERT_FALSE(compiled.empty());
    ASSERT_TRUE(CaptureFilter::ParseProgram(CaptureFilter::ProgramText(compiled).c_str(), read));
    ASSERT_EQ(read.size(), compiled.size());
    for (size_t i = 0; i < read.size(); ++i) {
        EXPECT_TRUE(read[i].code == compiled[i].code && read[i].jt == compiled[i].jt &&
                    read[i].jf == compiled[i].jf && read[i].k == compiled[i].k);
    }
    // "" and "0" are no filter; everything else must be a whole program within the kernel's size.
    const struct {
        std::string text;
        bool taken;
    } cases[] = {
        {"", true},          {"0", true},           {"1,6 0 0 65535", true},
        {"1", false},        {"1,6 0 0", false},    {"2,6 0 0 1", false},
        {"1,6 0 0 1,", false}, {"1,65536 0 0 1", false}, {"1,6 256 0 1", false},
        {"1,6 0 0 4294967296", false}, {"1,6 0 0 -1", false}, {"4097,6 0 0 1", false},
        {"01x", false},      {"1, 6 0 0 1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CaptureFilter::ParseProgram(c.text.c_str(), read), c.taken);
        if (!c.taken) {
            EXPECT_TRUE(read.empty());
        }
    }
}

TEST(CaptureFilter, AnEmptyExpressionIsNoFilterAndANulByteIsRefused) {
    std::vector<sock_filter> program{{6, 0, 0, 1}};
    std::string error;
    EXPECT_TRUE(CaptureFilter::Compile(" \t", CaptureFilter::LinkTypeOfMethod(1), program, error));
    EXPECT_TRUE(program.empty() && error.empty());
    EXPECT_FALSE(CaptureFilter::Compile(std::string("tcp\0 port 1", 11),
                                        CaptureFilter::LinkTypeOfMethod(1), program, error));
    EXPECT_EQ(error, "the expression holds a NUL byte");
    EXPECT_EQ(CaptureFilter::Check(std::string("udp\0", 4), 2), error);
}

}  // namespace
