// PSTN, ISDN and QSIG signalling slots driven by the controller alone, on
// cabled trunks of the simulated board, in virtual time.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/signalling/signalling_slot_fixture.h"

namespace {

using Lines = std::vector<std::string>;
using LGCP::IsdnType;
using test::Side;

constexpr int kTrunk1Ts16 = 48;
constexpr int kTrunk2Ts16 = 80;

class SignallingPairs : public test::SignallingSlotTest {
protected:
    // Trunk slots 10 and 11 on the two ends of a cable.
    void cabled_trunks() {
        make(test::create_trunk(1, 16), 10);
        make(test::create_trunk(2, 16), 11);
        frames().cable(kTrunk1Ts16, {kTrunk2Ts16});
    }
    static bool has(const Lines& lines, const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
};

// Each pair on trunk slots 10 and 11: both come up; user data crosses both
// ways; deactivation is signalled.
TEST_F(SignallingPairs, ComeUpAndCarryUserDataBothWays) {
    struct Case {
        const char* name;
        LGCP::Command a, b;
        bool activate;  // ISDN and QSIG slots start their links on `activate` only
    };
    const Case cases[] = {
        {"PRI PSTN slots", test::create_pstn_isdn(IsdnType::pri, 2, Side::user),
         test::create_pstn_isdn(IsdnType::pri, 3, Side::network), false},
        {"ISDN slots", test::create_isdn(IsdnType::pri, 2, Side::user),
         test::create_isdn(IsdnType::pri, 3, Side::network), true},
        {"QSIG against ISDN", test::create_qsig(Side::user),
         test::create_isdn(IsdnType::pri, 3, Side::network), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cabled_trunks();
        make(c.a, 20);
        make(c.b, 21);
        wire(10, 20);
        wire(11, 21);
        if (c.activate) {
            succeed(test::activate(), 20);
            succeed(test::activate(), 21);
        }
        run(2500);
        const Lines up = signalled();
        EXPECT_TRUE(has(up, "20 activated") && has(up, "21 activated")) << ::testing::PrintToString(up);

        EXPECT_EQ((Lines{"20 success", "21 userData 01 02 03"}),
                  told(test::user_data({1, 2, 3}), 20));
        EXPECT_EQ((Lines{"21 success", "20 userData 04"}), told(test::user_data({4}), 21));

        const Lines down = told(test::deactivate(), 20);
        EXPECT_EQ("20 success", down.at(0));
        EXPECT_TRUE(has(down, "20 deactivated")) << ::testing::PrintToString(down);
        for (unsigned slot : {20, 21, 10, 11}) destroy(slot);
        frames().cut(kTrunk1Ts16);
    }
}

}  // namespace
