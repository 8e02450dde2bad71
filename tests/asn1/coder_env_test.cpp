// One entry point for every encoding rule: the rule of the environment
// decides how a value becomes octets and back.

#include "asn1/coder_env.h"
#include "tests/asn1/per_test_util.h"
#include "tests/asn1/test_module.h"

#include <gtest/gtest.h>

namespace Test {
namespace {

using namespace ASN1;

std::vector<char> encoded(const AbstractData& value, int rule) {
    CoderEnv env(rule);
    std::vector<char> out;
    EXPECT_TRUE(encode(value, &env, std::back_inserter(out))) << rule;
    return out;
}

TEST(CoderEnv, EncodesAndDecodesByTheRuleOfTheEnvironment) {
    const Envelope message = pingEnvelope(5, 3);
    EXPECT_EQ("C00105000318", toHex(encoded(message, CoderEnv::AlignedPER)));
    EXPECT_EQ("300C800105810103A204A0028C00", toHex(encoded(message, CoderEnv::BER)));
    const std::vector<char> text = encoded(message, CoderEnv::ValueNotation);
    EXPECT_EQ(message.asValueNotation(), std::string(text.begin(), text.end()));

    for (int rule : {CoderEnv::ValueNotation, CoderEnv::BER, CoderEnv::AlignedPER}) {
        const std::vector<char> octets = encoded(message, rule);
        CoderEnv env(rule);
        Envelope decoded;
        ASSERT_TRUE(decode(octets.data(), octets.data() + octets.size(), &env, decoded, true))
            << rule;
        EXPECT_EQ(message, decoded) << rule;
        Envelope withEnv;
        ASSERT_TRUE(decode(octets.data(), octets.data() + octets.size(), &env, withEnv)) << rule;
        EXPECT_EQ(message, withEnv) << rule;
    }
}

TEST(CoderEnv, AnUnknownRuleDoesNothing) {
    CoderEnv env(3);
    std::vector<char> out;
    EXPECT_FALSE(encode(pingEnvelope(5, 3), &env, std::back_inserter(out)));
    EXPECT_TRUE(out.empty());
    const std::vector<char> octets = fromHex("C00105000318");
    Envelope message = pingEnvelope(1, 1);
    EXPECT_FALSE(decode(octets.data(), octets.data() + octets.size(), &env, message));
    EXPECT_EQ(pingEnvelope(1, 1), message);
}

TEST(CoderEnv, AFailedEncodingAppendsNothing) {
    // A slot past 0..1023 fails the PER encoding after the first octets.
    const Envelope message = pingEnvelope(5, 2000);
    CoderEnv env(CoderEnv::AlignedPER);
    std::vector<char> out = {'x'};
    EXPECT_FALSE(encode(message, &env, std::back_inserter(out)));
    EXPECT_EQ(std::vector<char>({'x'}), out);

    Envelope unselected;
    for (int rule : {CoderEnv::ValueNotation, CoderEnv::BER}) {
        env.set_encodingRule(rule);
        EXPECT_FALSE(encode(unselected, &env, std::back_inserter(out))) << rule;
        EXPECT_EQ(std::vector<char>({'x'}), out) << rule;
    }
}

}  // namespace
}  // namespace Test
