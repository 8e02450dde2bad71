// The typed faces of the generated classes: fields and alternatives by name,
// never by number.

#include "messages/lgcp.h"
#include "tests/asn1/per_test_util.h"

#include <gtest/gtest.h>

namespace messages_test {
namespace {

TEST(OptionalFields, AreAbsentUntilIncludedAndKeepTheirValueWhenRemoved) {
    LGCP::Message msg;
    EXPECT_FALSE(msg.has_seq());
    EXPECT_EQ(msg.get_seq(), nullptr);

    msg.set_seq(5);
    ASSERT_NE(msg.get_seq(), nullptr);
    EXPECT_EQ(msg.get_seq()->getValue(), 5);

    msg.remove_seq();
    EXPECT_EQ(msg.get_seq(), nullptr);
    EXPECT_EQ(msg.include_seq().getValue(), 5);
}

TEST(OptionalFields, ExtensionAdditionsHaveTheSameFace) {
    TERM::ISDN_NumberType number;
    EXPECT_FALSE(number.has_screeningInd());
    number.set_screeningInd(TERM::ISDN_NumberType_screeningInd::network);
    ASSERT_NE(number.get_screeningInd(), nullptr);
    EXPECT_EQ(number.get_screeningInd()->getValue(), TERM::ISDN_NumberType_screeningInd::network);
    EXPECT_TRUE(number.hasOptionalField(0));  // the addition follows the (no) optional root fields
}

TEST(Choices, SelectReadAndSwitchByName) {
    LGCP::Command command;
    EXPECT_EQ(command.currentSelection(), ASN1::CHOICE::NOT_SELECTED);
    EXPECT_EQ(command.get_ping(), nullptr);

    LGCP::CreateParams& create = command.select_create();
    create.select_trunk().set_timeslot(16);
    EXPECT_TRUE(command.is_create());
    EXPECT_EQ(command.selection(), LGCP::Command::Alternative::create);
    ASSERT_NE(command.get_create(), nullptr);
    ASSERT_NE(command.get_create()->get_trunk(), nullptr);
    EXPECT_EQ(command.get_create()->get_trunk()->get_timeslot().getValue(), 16u);
    EXPECT_EQ(command.get_create()->get_trunk_bri(), nullptr);

    command.select_create();  // already selected: kept as it is
    EXPECT_NE(command.get_create()->get_trunk(), nullptr);

    command.set_connect(7);
    EXPECT_EQ(command.get_create(), nullptr);
    EXPECT_EQ(command.get_connect()->getValue(), 7u);
}

TEST(Choices, ASignalCanBeBuiltAroundItsAlternative) {
    auto* packets = new VARKGW::ProtoVarkPackets;
    packets->get_packets().append().set_msgSeqNum(9);
    LGCP::Signal signal(18, packets);
    ASSERT_TRUE(signal.is_protoVark());
    EXPECT_EQ(signal.get_protoVark()->get_packets()[0].get_msgSeqNum().getValue(), 9);
}

TEST(Setters, StoreScalarsStringsOctetsAndWholeValues) {
    TERM::RadioFlags flags;
    flags.set_prio(3);
    flags.set_ptt(true);
    flags.set_vad_rx(true);
    flags.set_selcall(2u);
    flags.set_li(511u);
    EXPECT_EQ(flags.get_prio().getValue(), 3);
    EXPECT_TRUE(flags.get_ptt().getValue());
    EXPECT_TRUE(flags.get_vad_rx().getValue());
    EXPECT_FALSE(flags.get_vad_tx().getValue());
    EXPECT_EQ(flags.get_selcall().getValue(), 2u);
    EXPECT_EQ(flags.get_li().getValue(), 511u);

    TERM::RadioCommandGWSetSelCall selcall;
    selcall.set_flags(flags);
    selcall.set_ip("10.0.0.1");
    selcall.set_ssrc(4294967295u);
    selcall.set_cid("42");
    EXPECT_EQ(selcall.get_flags(), flags);
    EXPECT_EQ(std::string(selcall.get_ip()), "10.0.0.1");
    EXPECT_EQ(selcall.get_ssrc().getValue(), 4294967295u);

    TERM::RadioCommandWMStandby standby;
    standby.set_state_channel(TERM::RadioStandby::not_use);
    EXPECT_EQ(standby.get_state_channel().getValue(), TERM::RadioStandby::not_use);

    TERM::RadioModifierAddr addr;
    addr.set_session_addr("192.168.1.2");
    addr.set_session_ssrc(77u);
    EXPECT_EQ(std::string(addr.get_session_addr()), "192.168.1.2");

    LGCP::HdlcPackage package;
    package.set_body({'\x01', '\x02', '\x03'});
    EXPECT_EQ(::Test::toHex(package.get_body()), "010203");
}

TEST(Setters, EmPhoneStatusReadsItsMandatoryFieldsByName) {
    LGCP::EmPhoneStatusParams status;
    status.set_id(4);
    status.set_status(LGCP::EmPhoneStatus::ready);
    status.set_mode(LGCP::EmPhoneMode::sleep);
    status.set_hookStatus(LGCP::EmPhoneConnectionStatus::connected);
    EXPECT_EQ(status.get_id().getValue(), 4);
    EXPECT_TRUE(status.get_panelSV().empty());
    EXPECT_TRUE(status.get_ctrlSV().empty());
    EXPECT_EQ(status.get_status().getValue(), LGCP::EmPhoneStatus::ready);
    EXPECT_EQ(status.get_mode().getValue(), LGCP::EmPhoneMode::sleep);
    EXPECT_EQ(status.get_hookStatus().getValue(), LGCP::EmPhoneConnectionStatus::connected);
}

TEST(Enumerations, NamedNumbersHoldTheDeclaredValues) {
    EXPECT_EQ(LGCP::ErrorCause::destroyInProgress, 12);
    EXPECT_EQ(TERM::RadioStandby::not_use, -1);
    EXPECT_EQ(TERM::IpQoSDSCP::cs7, 56);
    EXPECT_EQ(TERM::IpQoSDSCP::count, 23);
    EXPECT_EQ(TERM::ED137CauseCode::radio_missing_r2s_keepalive, 2001);
    EXPECT_EQ(VARKGW::ProtoVarkAnalogGainIDV2::max, 12);
    EXPECT_EQ(VARKGW::ProtoVarkMsgID::gw_rad_select_channel, 4135);

    LGCP::ErrorCause cause;
    EXPECT_EQ(cause.getValue(), LGCP::ErrorCause::invalidParams);
    cause = LGCP::ErrorCause::slotIdBusy;
    EXPECT_STREQ(cause.getName(), "slotIdBusy");
}

}  // namespace
}  // namespace messages_test
