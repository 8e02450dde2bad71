// Every type of every message module exists, is built from its own record,
// and survives a round trip through the aligned-PER coder.

#include "messages/lgcp.h"
#include "messages/registry.h"
#include "tests/asn1/per_test_util.h"
#include "tests/messages/value_filler.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace messages_test {
namespace {

TEST(MessageModules, HoldTheTypesTheProtocolDefines) {
    const std::map<std::string, unsigned> expected = {
        {"LGCP", 106}, {"TERM", 159}, {"ACP", 42}, {"HSP", 21}, {"BASE", 3},
        {"MON", 19},   {"VARKGW", 145}, {"MEDIA", 11}, {"CCP", 2}};
    std::map<std::string, unsigned> found;
    for (auto it = messages::modules_begin(); it != messages::modules_end(); ++it)
        found[(*it)->name] = (*it)->count;
    EXPECT_EQ(found, expected);
}

TEST(MessageModules, FindTypesByModuleAndName) {
    EXPECT_EQ(messages::find_type("LGCP", "Message"), &LGCP::Message::theInfo);
    EXPECT_EQ(messages::find_type("TERM", "RtpParams::dname::value_type"),
              &TERM::RtpParams::dname::value_type);
    EXPECT_EQ(messages::find_type("LGCP", "RtpParams"), nullptr);
    EXPECT_EQ(messages::find_type("NONE", "Message"), nullptr);
}

TEST(MessageModules, ValuesAreOfTheGeneratedClassEvenWhenCloned) {
    auto value = create(&LGCP::Signal::theInfo);
    EXPECT_NE(dynamic_cast<LGCP::Signal*>(value.get()), nullptr);
    auto& signal = static_cast<LGCP::Signal&>(*value);
    signal.select_rtpExt().get_status().select_vark();
    std::unique_ptr<ASN1::AbstractData> copy(signal.clone());
    ASSERT_NE(dynamic_cast<LGCP::Signal*>(copy.get()), nullptr);
    EXPECT_NE(static_cast<LGCP::Signal&>(*copy).get_rtpExt()->get_status().get_vark(), nullptr);
    EXPECT_EQ(*copy, signal);
}

// Seeds 0 to 3 give every optional field and addition both presences.
TEST(MessageModules, EveryTypeRoundTripsThroughAlignedPer) {
    unsigned types = 0;
    for (auto it = messages::modules_begin(); it != messages::modules_end(); ++it) {
        const messages::ModuleEntry& module = **it;
        for (unsigned i = 0; i < module.count; ++i) {
            const std::string name = std::string(module.name) + "::" + module.types[i].name;
            for (unsigned seed = 0; seed < 4; ++seed) {
                auto value = create(module.types[i].info);
                ASSERT_EQ(value->info(), module.types[i].info) << name;
                ValueFiller filler(seed, {});
                ASSERT_TRUE(filler.fill(*value)) << name;
                const std::string hex = ::Test::perHex(*value);
                ASSERT_NE(hex, "encode failed") << name << " seed " << seed;
                auto decoded = create(module.types[i].info);
                ASSERT_TRUE(::Test::perDecodeHex(hex, *decoded)) << name << " " << hex;
                EXPECT_EQ(*decoded, *value) << name << " " << hex;
                EXPECT_EQ(::Test::perHex(*decoded), hex) << name;
            }
            ++types;
        }
    }
    EXPECT_EQ(types, 508u);
}

}  // namespace
}  // namespace messages_test
