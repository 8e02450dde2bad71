// What every slot kind inherits: its printed form and the signals it makes
// of device events.
#include "slots/slot.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

namespace {

class Named : public Slot {
public:
    Named(const char* name, unsigned number) : name_(name) { SetNumber(number); }
    const char* GetName() const override { return name_; }

private:
    const char* name_;
};

TEST(SlotName, PrintsTheNumberAndTheKind) {
    const struct {
        const char* name;
        unsigned number;
        const char* printed;
    } rows[] = {
        {"trunk", 5, "05:trunk"},         {"trunk", 0, "00:trunk"},
        {"rtp", 1023, "1023:rtp"},        {"rtp", 1500, "i1500:rtp"},
        {"map", Slot::kNoNumber, "na:map"}, {"rtp", 0xFFFFFFFE, "i4294967294:rtp"},
    };
    for (const auto& row : rows) {
        std::ostringstream os;
        os << Named(row.name, row.number) << std::setw(3) << 7;  // the fill is a blank again
        EXPECT_EQ(std::string(row.printed) + "  7", os.str());
    }
}

}  // namespace
