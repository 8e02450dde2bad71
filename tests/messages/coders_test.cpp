// The coders on the real message types: value notation as traces show it,
// BER, the coder environment's entry points and the validity checks, over
// hand-built messages and every known-answer value.

#include "asn1/coder_env.h"
#include "asn1/validity.h"
#include "messages/lgcp.h"
#include "messages/registry.h"
#include "tests/asn1/per_test_util.h"
#include "tests/messages/value_filler.h"
#include "tests/messages/vectors.h"

#include <gtest/gtest.h>

#include <sstream>

namespace messages_test {
namespace {

LGCP::Message ping(int seq, int slot) {
    LGCP::Message message;
    if (seq >= 0) message.set_seq(seq);
    if (slot >= 0) message.set_slot(static_cast<unsigned>(slot));
    message.get_pdu().select_command().select_ping();
    return message;
}

LGCP::Message rtpCreate() {
    LGCP::Message message;
    message.set_seq(7);
    message.set_slot(12);
    LGCP::CreateRtpParams& rtp = message.get_pdu().select_command().select_create().select_rtp();
    TERM::RtpParams& codec = rtp.get_codecRTP();
    codec.set_payload(TERM::Payload::ptG711_Alaw);
    codec.get_dhost().set_iaddr("127.0.0.1");
    codec.get_dhost().set_port(5004);
    codec.set_qos_dscp(TERM::IpQoSDSCP::ef);
    rtp.set_txPayload(TERM::Payload::ptG711_Alaw);
    rtp.set_rxPayload(TERM::Payload::ptG711_Ulaw);
    return message;
}

// The known-answer values, decoded from their octets.
struct Known {
    Vector vector;
    std::unique_ptr<ASN1::AbstractData> value;
};

std::vector<Known> knownValues() {
    std::vector<Known> values;
    for (const Vector& v : read_vectors()) {
        const ASN1::TypeInfo* info = messages::find_type(v.module.c_str(), v.type.c_str());
        if (!info) continue;  // vectors_test reports it
        Known known{v, create(info)};
        if (::Test::perDecodeHex(v.hex, *known.value)) values.push_back(std::move(known));
    }
    EXPECT_GT(values.size(), 1600u);
    return values;
}

TEST(MessageTraces, PrintTheEnvelopeAndNestedParametersIndented) {
    std::ostringstream trace;
    trace << ping(5, 3);
    EXPECT_EQ("{\n  seq 5,\n  slot 3,\n  pdu command : ping : NULL\n}", trace.str());

    EXPECT_EQ(R"({
  seq 7,
  slot 12,
  pdu command : create : rtp : {
    codecRTP {
      payload ptG711-Alaw,
      dhost {
        iaddr "127.0.0.1",
        port 5004
      },
      qos-dscp ef
    },
    txPayload ptG711-Alaw,
    rxPayload ptG711-Ulaw
  }
})",
              rtpCreate().asValueNotation());
}

TEST(MessageTraces, EnumeratorsWithExplicitNumbersPrintTheirNames) {
    EXPECT_EQ("ef", TERM::IpQoSDSCP(TERM::IpQoSDSCP::ef).asValueNotation());
    EXPECT_EQ("count", TERM::IpQoSDSCP(TERM::IpQoSDSCP::count).asValueNotation());
    TERM::IpQoSDSCP unnamed;
    unnamed.setValue(47);
    EXPECT_EQ("47", unnamed.asValueNotation());
    EXPECT_EQ("not-use", TERM::RadioStandby(TERM::RadioStandby::not_use).asValueNotation());
}

TEST(ValueNotation, EveryKnownAnswerValueReadsBackEqual) {
    for (const Known& known : knownValues()) {
        std::ostringstream text;
        text << *known.value;
        ASSERT_FALSE(text.fail()) << known.vector.label();
        auto parsed = create(known.value->info());
        EXPECT_TRUE(parsed->setFromValueNotation(text.str())) << known.vector.label() << "\n"
                                                              << text.str();
        EXPECT_EQ(*known.value, *parsed) << known.vector.label();
    }
}

TEST(Ber, TheEnvelopeEncodesAsTheControllerProtocolStatesIt) {
    EXPECT_EQ("3009800105A204A0028C00", ::Test::berHex(ping(5, -1)));
}

TEST(Ber, EveryKnownAnswerValueRoundTrips) {
    for (const Known& known : knownValues()) {
        const std::string hex = ::Test::berHex(*known.value);
        auto decoded = create(known.value->info());
        ASSERT_TRUE(::Test::berDecodeHex(hex, *decoded)) << known.vector.label() << " " << hex;
        EXPECT_EQ(*known.value, *decoded) << known.vector.label();
        EXPECT_EQ(hex, ::Test::berHex(*decoded)) << known.vector.label();
    }
}

// The controller link's way: a fresh environment with the aligned-PER rule,
// decoding without the environment.
TEST(CoderEnv, EncodesAndDecodesEveryKnownAnswerMessageByItsRule) {
    unsigned messages = 0;
    for (const Known& known : knownValues()) {
        if (known.vector.module != "LGCP" || known.vector.type != "Message") continue;
        ++messages;
        for (int rule : {ASN1::CoderEnv::AlignedPER, ASN1::CoderEnv::BER,
                         ASN1::CoderEnv::ValueNotation}) {
            ASN1::CoderEnv env(rule);
            std::vector<char> octets;
            ASSERT_TRUE(ASN1::encode(*known.value, &env, std::back_inserter(octets)))
                << known.vector.label() << " rule " << rule;
            if (rule == ASN1::CoderEnv::AlignedPER) {
                EXPECT_EQ(known.vector.hex, ::Test::toHex(octets)) << known.vector.label();
            }
            LGCP::Message decoded;
            EXPECT_TRUE(ASN1::decode(octets.data(), octets.data() + octets.size(), &env, decoded,
                                     true))
                << known.vector.label() << " rule " << rule;
            EXPECT_EQ(*known.value, decoded) << known.vector.label() << " rule " << rule;
        }
    }
    EXPECT_GT(messages, 30u);
}

TEST(Validity, KnownAnswerValuesAreValid) {
    for (const Known& known : knownValues()) {
        std::ostringstream why;
        EXPECT_TRUE(ASN1::trace_invalid(why, known.vector.label().c_str(), *known.value))
            << why.str();
    }
}

TEST(Validity, TheTracerNamesThePathIntoAMessage) {
    std::ostringstream why;
    LGCP::Message slot = ping(1, 1024);
    EXPECT_FALSE(ASN1::trace_invalid(why, "invalid:", slot));
    EXPECT_EQ("invalid:.slot The INTEGER value 1024 is greater than upper bound 1023\n",
              why.str());

    LGCP::Message ttl = rtpCreate();
    ttl.get_pdu().get_command()->get_create()->get_rtp()->get_codecRTP().set_ttl(0);
    EXPECT_TRUE(rtpCreate().isStrictlyValid());
    EXPECT_FALSE(ttl.isValid());
    why.str("");
    ASN1::trace_invalid(why, "", ttl);
    EXPECT_EQ(".pdu.command.create.rtp.codecRTP.ttl The INTEGER value 0 is smaller than lower "
              "bound 1\n",
              why.str());
}

}  // namespace
}  // namespace messages_test
