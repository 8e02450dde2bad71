// The frame printer against its table of expected texts, and the bound on the
// text buffer.

#include <gtest/gtest.h>

#include "signalling/frame_printer.h"
#include "tests/signalling/frame_cases.h"
#include "tests/support/case_name.h"

namespace {

class FramePrinterText : public testing::TestWithParam<test::FrameCase> {};

TEST_P(FramePrinterText, MatchesTheTable) {
    const test::FrameCase& c = GetParam();
    std::string text = test::printed(test::octets(c.hex), c.network_to_user);
    EXPECT_LT(text.size(), ISDN::logbuf_size);
    EXPECT_EQ(text, c.text) << "after an intended change: build-test/tests/signalling/"
                               "regenerate_frame_texts";
}

INSTANTIATE_TEST_SUITE_P(Table, FramePrinterText, testing::ValuesIn(test::frame_cases),
                         test::CaseName());

TEST(FramePrinterBound, TextThatOverflowsEndsWithTheMarkerAtTheBufferEnd) {
    std::vector<unsigned char> frame = test::octets("00 01 00 00 08 01 05 05 7E*392");
    std::string text = test::printed(frame, false);
    ASSERT_EQ(text.size(), ISDN::logbuf_size - 1);
    EXPECT_EQ(text.substr(text.size() - sizeof ISDN::FrameText::marker + 1),
              ISDN::FrameText::marker);
}

TEST(FramePrinterBound, TextThatFillsTheBufferExactlyIsKeptWhole) {
    char buffer[16];
    ISDN::FrameText text(buffer, sizeof buffer);
    text.put("123456789012345");
    EXPECT_FALSE(text.stopped());
    EXPECT_STREQ(buffer, "123456789012345");
    text.put('6');
    EXPECT_TRUE(text.stopped());
    EXPECT_STREQ(buffer, "123 [truncated]");
}

}  // namespace
