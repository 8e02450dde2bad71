// Octets of the control-protocol messages worked out by hand: the envelope,
// the index widths of the big CHOICEs, extension alternatives and values, and
// the enumerations that send sparse values.

#include "messages/lgcp.h"
#include "messages/mon.h"
#include "tests/asn1/per_test_util.h"

#include <gtest/gtest.h>

namespace messages_test {
namespace {

template <class T>
T decoded(const std::string& hex) {
    T value;
    EXPECT_TRUE(::Test::perDecodeHex(hex, value)) << hex;
    return value;
}

LGCP::Message message(int seq, int slot) {
    LGCP::Message msg;
    if (seq >= 0) msg.set_seq(seq);
    if (slot >= 0) msg.set_slot(slot);
    return msg;
}

TEST(Envelope, CommandsAndResponsesAsTheControllerSeesThem) {
    LGCP::Message ping = message(5, -1);
    ping.get_pdu().select_command().select_ping();
    EXPECT_EQ(::Test::perHex(ping), "80010518");

    LGCP::Message bare = message(-1, -1);
    bare.get_pdu().select_command().select_ping();
    EXPECT_EQ(::Test::perHex(bare), "0600");

    LGCP::Message addressed = message(5, 3);
    addressed.get_pdu().select_command().select_ping();
    EXPECT_EQ(::Test::perHex(addressed), "C00105000318");

    LGCP::Message success = message(5, 3);
    success.get_pdu().select_response().select_success();
    EXPECT_EQ(::Test::perHex(success), "C00105000340");

    LGCP::Message error = message(5, 3);
    error.get_pdu().select_response().set_error(LGCP::ErrorCause::invalidSlot);
    EXPECT_EQ(::Test::perHex(error), "C00105000362");
}

TEST(Envelope, DecodesToTheSameMessages) {
    auto ping = decoded<LGCP::Message>("80010518");
    ASSERT_NE(ping.get_seq(), nullptr);
    EXPECT_EQ(ping.get_seq()->getValue(), 5);
    EXPECT_EQ(ping.get_slot(), nullptr);
    ASSERT_NE(ping.get_pdu().get_command(), nullptr);
    EXPECT_TRUE(ping.get_pdu().get_command()->is_ping());

    auto error = decoded<LGCP::Message>("C00105000362");
    ASSERT_NE(error.get_slot(), nullptr);
    EXPECT_EQ(error.get_slot()->getValue(), 3u);
    ASSERT_NE(error.get_pdu().get_response(), nullptr);
    ASSERT_NE(error.get_pdu().get_response()->get_error(), nullptr);
    EXPECT_EQ(error.get_pdu().get_response()->get_error()->getValue(), LGCP::ErrorCause::invalidSlot);
}

// An extension bit, then the index in as few bits as the root needs:
// Command 4, Signal 5, CreateParams 5, IoctlParams 6, the VARK payload 7.
TEST(ChoiceIndexes, TakeTheBitsTheirRootNeeds) {
    LGCP::Command command;
    command.select_ping();
    EXPECT_EQ(::Test::perHex(command), "60");  // 0 1100
    command.select_deactivate();
    EXPECT_EQ(::Test::perHex(command), "38");  // 0 0111

    LGCP::Signal signal;
    signal.select_activated();
    EXPECT_EQ(::Test::perHex(signal), "14");  // 0 00101
    signal.select_selcal().set_in_progress(true);
    EXPECT_EQ(::Test::perHex(signal), "59");  // 0 10110, then SelcalEvent: 0 1

    LGCP::CreateParams create;
    create.select_ats_qsig().get_side().select_network();
    EXPECT_EQ(::Test::perHex(create), "45");  // 0 10001, then 0 and side 1

    LGCP::IoctlParams ioctl;
    ioctl.select_tone_gen_disable();
    EXPECT_EQ(::Test::perHex(ioctl), "48");  // 0 100100
    ioctl.select_selcal().set_signs("12");
    EXPECT_EQ(::Test::perHex(ioctl), "4A023132");  // 0 100101, amp absent, "12"

    VARKGW::ProtoVarkPacketPayload payload;
    payload.select_dli_rad_link_err();
    EXPECT_EQ(::Test::perHex(payload), "27");  // 0 0100111
}

TEST(ChoiceIndexes, DtmfDoneTravelsAsAnExtensionAlternative) {
    LGCP::TonecCode code;
    code.select_dtmfDone();
    // Extension bit 1, addition 0 as a normally small number, then the
    // empty NULL as an open type of one zero octet.
    EXPECT_EQ(::Test::perHex(code), "800100");

    LGCP::Signal signal;
    LGCP::TonecEvent& event = signal.select_tonec();
    event.set_timestamp(1000);
    event.get_event().select_dtmfDone();
    EXPECT_EQ(::Test::perHex(signal), "040203E8800100");

    auto back = decoded<LGCP::Signal>("040203E8800100");
    ASSERT_NE(back.get_tonec(), nullptr);
    EXPECT_TRUE(back.get_tonec()->get_event().is_dtmfDone());
    EXPECT_EQ(back.get_tonec()->get_event().selection(), LGCP::TonecCode::Alternative::dtmfDone);
}

TEST(ChoiceIndexes, AnUnknownCommandKeepsTheEnvelopeButFailsToDecode) {
    // {seq 5, slot 3, command: extension alternative 15 holding nothing}
    LGCP::Message msg;
    EXPECT_FALSE(::Test::perDecodeHex("C00105000320000100", msg));
    ASSERT_NE(msg.get_seq(), nullptr);
    EXPECT_EQ(msg.get_seq()->getValue(), 5);
    ASSERT_NE(msg.get_slot(), nullptr);
    EXPECT_EQ(msg.get_slot()->getValue(), 3u);
    ASSERT_NE(msg.get_pdu().get_command(), nullptr);
    EXPECT_EQ(msg.get_pdu().get_command()->currentSelection(), ASN1::CHOICE::UNKNOWN_SELECTION);
}

TEST(Enumerations, SendTheValueNotThePosition) {
    EXPECT_EQ(::Test::perHex(TERM::IpQoSDSCP(TERM::IpQoSDSCP::ef)), "B8");  // 46 in 6 bits (0..56)
    EXPECT_EQ(::Test::perHex(TERM::ED137CauseCode(TERM::ED137CauseCode::radio_no_permissions)),
              "000833");  // extension bit, then 2099 in two aligned octets
    EXPECT_EQ(::Test::perHex(HSP::StandbyState(HSP::StandbyState::active)), "40");  // 0, 16 in 5 bits
    EXPECT_EQ(::Test::perHex(VARKGW::ProtoVarkMsgID(VARKGW::ProtoVarkMsgID::ali_server_p1)), "003300");
    EXPECT_EQ(::Test::perHex(VARKGW::ProtoVarkAnalogGainIDV1(VARKGW::ProtoVarkAnalogGainIDV1::fake)),
              "00FF");
    EXPECT_EQ(::Test::perHex(VARKGW::ProtoVarkAnalogGainIDV1(VARKGW::ProtoVarkAnalogGainIDV1::min)),
              "0000");
}

TEST(Enumerations, AValuePastTheRootTravelsAsItsOwnNumber) {
    LGCP::ErrorCause cause;
    cause.setValue(13);
    // 1, the normally small number 14, then 13 in 0..13.
    EXPECT_EQ(::Test::perHex(cause), "8ED0");
    EXPECT_EQ(decoded<LGCP::ErrorCause>("8ED0").getValue(), 13);
}

TEST(Enumerations, NotUseOfRadioStandbyCannotBeSent) {
    EXPECT_EQ(::Test::perHex(TERM::RadioStandby(TERM::RadioStandby::not_use)), "encode failed");
    EXPECT_EQ(::Test::perHex(TERM::RadioStandby(TERM::RadioStandby::standby)), "80");
}

TEST(Enumerations, NameTablesAreLookedUpByValue) {
    const ASN1::EnumeratedInfo& dscp = TERM::IpQoSDSCP::theInfo;
    EXPECT_EQ(dscp.nameCount, 24u);
    EXPECT_EQ(dscp.maxEnumValue, 56);
    EXPECT_STREQ(ASN1::findName(dscp.names, dscp.nameCount, 46), "ef");
    EXPECT_STREQ(ASN1::findName(dscp.names, dscp.nameCount, 23), "count");
    const ASN1::EnumeratedInfo& standby = HSP::StandbyState::theInfo;
    EXPECT_STREQ(ASN1::findName(standby.names, standby.nameCount, 8), "standby");
    EXPECT_EQ(ASN1::findName(standby.names, standby.nameCount, 5), nullptr);
    EXPECT_STREQ(TERM::RadioStandby(TERM::RadioStandby::not_use).getName(), "not-use");
    EXPECT_EQ(LGCP::ErrorCause::theInfo.maxEnumValue, 12);
    EXPECT_TRUE(LGCP::ErrorCause::theInfo.extendable);
}

TEST(SnmpAgentLink, PingCommand) {
    MON::Message msg;
    msg.get_pdu().select_command().select_ping();
    EXPECT_EQ(::Test::perHex(msg), "18");  // command 00, extension 0, ping 11
}

}  // namespace
}  // namespace messages_test
