#include "radio/vark_radio_control.h"

#include <poll.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>

#include "radio/radio_asn.h"
#include "radio/vark_radio_asn.h"

namespace RTPSignalling {

void VarkRadioState::SetCallerId(const char* text, size_t length) {
    length = std::min(length, static_cast<size_t>(kCallerIdSize - 1));
    std::memcpy(caller_id, text, length);
    caller_id[length] = '\0';
}

bool isDefaultInitCommand(int type) {
    return type <= 0;
}

// The codec keeps the list of the types that carry PTT.
bool isPTTCommand(int type) {
    sig_proto packet;
    sig_proto_init(&packet);
    packet.type = static_cast<uint32_t>(type);
    return sig_proto_is_ptt_command(&packet) != 0;
}

namespace {

size_t CallerIdLength(const VarkRadioState& s) {
    return strnlen(s.caller_id, VarkRadioState::kCallerIdSize - 1);
}

// The header fields and the body of the packet's type.
void DecodeProto(const sig_proto& r, VarkRadioState& s) {
    s.type = static_cast<int32_t>(r.type);
    s.priority = static_cast<int32_t>(r.priority);
    s.ptt = static_cast<int32_t>(r.flag_p);
    s.bss = static_cast<int32_t>(r.flag_b);
    s.vad_rx = static_cast<int32_t>(r.flag_r);
    s.vad_tx = static_cast<int32_t>(r.flag_t);
    s.sql = static_cast<int32_t>(r.flag_s);
    s.sh = static_cast<int32_t>(r.flag_sh);
    s.pwr = static_cast<int32_t>(r.flag_pw);
    s.rv = static_cast<int32_t>(r.flag_rv);
    s.resv = static_cast<int32_t>(r.flag_rs);
    s.selcall = static_cast<int32_t>(r.flag_c);
    s.li = static_cast<int32_t>(r.status);
    s.source_addr = r.source_addr;
    s.source_ssrc = r.source_ssrc;
    const sig_proto_body& b = r.body;
    switch (r.type) {
        case GW_ADJUST_CHAN:
            s.id = static_cast<int32_t>(b.gw_adjust_chan.id);
            s.frequency = b.gw_adjust_chan.freq;
            break;
        case GW_SEL_CALL:
            s.SetCallerId(reinterpret_cast<const char*>(b.gw_sel_call.callerID),
                          strnlen(reinterpret_cast<const char*>(b.gw_sel_call.callerID),
                                  b.gw_sel_call.callerID_length));
            break;
        case GW_SELECT_RC_CHAN:
        case WM_SELECT_RC_CHAN:
            s.interface = b.gw_select_rc_chan.interface;
            s.channel = b.gw_select_rc_chan.channel;
            break;
        case GW_ADJUST_SQUELSHE:
            s.squelsh = b.gw_adjust_squelsh.squelsh;
            break;
        case GW_ADJUST_RTE:
            s.rte = b.gw_adjust_rte.rte;
            break;
        case GW_ADJUST_STANDBY:
            s.standby_state = b.gw_adjust_standby.state;
            break;
        case WM_TRANS:
            s.session_addr = b.wm_trans.session_addr.s_addr;
            s.session_ssrc = b.wm_trans.ssrc;
            break;
        case WM_RADIO_QUALITY:
            s.radio_quality = b.wm_radio_quality.radio_quality;
            break;
        case WM_CHAN:
            s.id = static_cast<int32_t>(b.wm_chan.id);
            s.frequency = b.wm_chan.freq;
            s.squelsh = b.wm_chan.squelsh;
            s.rte = b.wm_chan.rte;
            break;
        case WM_SEL_CALL_TRANS: {
            const sig_proto_wm_sel_call_trans& t = b.wm_sel_call_trans;
            s.session_addr = t.session_addr.s_addr;
            s.session_ssrc = t.ssrc;
            const char* text = reinterpret_cast<const char*>(t.callerID);
            s.SetCallerId(text, strnlen(text, t.callerID_length));
            break;
        }
        case WM_STANDBY:
            s.standby_state = b.wm_standby.state;
            s.standby_group = b.wm_standby.group;
            s.standby_receiver = b.wm_standby.receiver_state;
            break;
    }
}

// A received byte beyond its TERM type's values: such a packet could not
// reach the host (the report would not encode). Null when all fit.
const char* OutsideTerm(const sig_proto& r) {
    const int squelsh = TERM::RadioSquelshe::theInfo.maxEnumValue;
    const int rte = TERM::RadioRTE::theInfo.maxEnumValue;
    const int standby = TERM::RadioStandby::theInfo.maxEnumValue;
    const sig_proto_body& b = r.body;
    switch (r.type) {
        case GW_ADJUST_SQUELSHE:
            if (b.gw_adjust_squelsh.squelsh > squelsh) return "squelch";
            break;
        case GW_ADJUST_RTE:
            if (b.gw_adjust_rte.rte > rte) return "rte";
            break;
        case GW_ADJUST_STANDBY:
            if (b.gw_adjust_standby.state > standby) return "standby state";
            break;
        case WM_CHAN:
            if (b.wm_chan.squelsh > squelsh) return "squelch";
            if (b.wm_chan.rte > rte) return "rte";
            break;
        case WM_STANDBY:
            if (b.wm_standby.state > standby) return "standby state";
            if (b.wm_standby.receiver_state > standby) return "standby receiver state";
            break;
    }
    return nullptr;
}

// What a GW command changes: the flag of its type (GW_FLAG: all of them)
// and the fields of its body.
void ApplyGwCommand(const VarkRadioState& s, VarkRadioState& to) {
    const int t = s.type;
    if (t == GW_FLAG || t == GW_FLAG_PTT) to.ptt = s.ptt;
    if (t == GW_FLAG || t == GW_FLAG_BSS) to.bss = s.bss;
    if (t == GW_FLAG || t == GW_FLAG_RV) to.rv = s.rv;
    if (t == GW_FLAG || t == GW_FLAG_SH) to.sh = s.sh;
    if (t == GW_FLAG || t == GW_FLAG_PW) to.pwr = s.pwr;
    if (t == GW_FLAG || t == GW_FLAG_RS) to.resv = s.resv;
    switch (t) {
        case GW_ADJUST_CHAN:
            to.id = s.id, to.frequency = s.frequency;
            break;
        case GW_SEL_CALL:
            std::memcpy(to.caller_id, s.caller_id, sizeof to.caller_id);
            break;
        case GW_SELECT_RC_CHAN:
            to.interface = s.interface, to.channel = s.channel;
            break;
        case GW_ADJUST_SQUELSHE:
            to.squelsh = s.squelsh;
            break;
        case GW_ADJUST_RTE:
            to.rte = s.rte;
            break;
        case GW_ADJUST_STANDBY:
            to.standby_state = s.standby_state;
            break;
    }
}

// What a WM report changes: every flag and the fields of its body but the
// session.
void ApplyWmReport(const VarkRadioState& s, VarkRadioState& to) {
    to.ptt = s.ptt, to.selcall = s.selcall, to.li = s.li;
    to.bss = s.bss, to.vad_rx = s.vad_rx, to.vad_tx = s.vad_tx, to.sql = s.sql;
    to.sh = s.sh, to.pwr = s.pwr, to.rv = s.rv, to.resv = s.resv;
    switch (s.type) {
        case WM_CHAN:
            to.id = s.id, to.frequency = s.frequency, to.squelsh = s.squelsh, to.rte = s.rte;
            break;
        case WM_SELECT_RC_CHAN:
            to.interface = s.interface, to.channel = s.channel;
            break;
        case WM_RADIO_QUALITY:
            to.radio_quality = s.radio_quality;
            break;
        case WM_STANDBY:
            to.standby_state = s.standby_state, to.standby_group = s.standby_group;
            to.standby_receiver = s.standby_receiver;
            break;
    }
}

}  // namespace

// ---- VarkRadioControl

VarkRadioControl::VarkRadioControl(int id, const rtp_ext_attach_session_params& attach,
                                   const rtp_ext_init_params& init)
    : RadioControl(id, attach, init) {
    Init();
}

VarkRadioControl::VarkRadioControl(int id, Fd rtp, const rtp_attach_session_params& attach)
    : RadioControl(id, std::move(rtp), attach) {
    Init();
}

VarkRadioControl::VarkRadioControl(const rtp_ext_init_params& init) : RadioControl(init) {
    Init();
}

void VarkRadioControl::Init() {
    lastActivity_ = Now();
    std::fill(std::begin(lastSent_), std::end(lastSent_), Now());
    sig_proto_init(&current_);
    sig_proto_init(&previous_);
}

int VarkRadioControl::SendASNToChan(const TERM::RadioStatus& status) {
    const TERM::VarkRadioStatus* vark = status.get_vark();
    if (vark == nullptr) return 0;
    VarkRadioState state = radio_;
    DecodeVarkStatus(*vark, state);
    return SendRadioStateToChan(state);
}

int VarkRadioControl::SendASNToChan(const TERM::RadioModifier& modifier) {
    const TERM::VarkRadioModifier* vark = modifier.get_vark();
    if (vark == nullptr) return 0;
    VarkRadioState state = radio_;
    std::string why;
    if (!DecodeSource(vark->get_addr(), state.source_addr, state.source_ssrc, why) ||
        !DecodeVarkParams(vark->get_params(), state, why)) {
        std::cerr << GetPrefix() << "refused radio command: " << why << std::endl;
        return 0;
    }
    return SendRadioStateToChan(state);
}

// 1 when the state was kept and, where this side sends its packet, the
// packet went out; 0 when a packet to send could not be packed or written,
// and then the radio stays as it was, so that the host's retry sends it.
int VarkRadioControl::SendRadioStateToChan(const VarkRadioState& state) {
    const VarkRadioState before = radio_;
    int result = 1;
    sig_proto record;
    if (PutProtoFromRadioToChan(state) != -1 && EncodeProto(state, record)) {
        // A controller on the RTP session's own descriptor writes nothing.
        if (type() != RadioControlOnRtpSession && !WritePacket(record)) result = 0;
    }
    if (result == 0) radio_ = before;
    return FollowPtt() ? result : 0;
}

bool VarkRadioControl::FollowPtt() {
    return UpdateAccess(OnlyTheSessionIsHeard(), Address(radio_.session_addr));
}

void VarkRadioControl::EncodeRecord(const VarkRadioState& s, sig_proto& r) {
    sig_proto_init(&r);
    r.type = static_cast<uint32_t>(s.type);
    sig_proto_set_base(&r, s.priority, s.vad_tx, s.ptt, s.vad_rx, s.sql, s.bss, s.rv, s.sh, s.pwr,
                       s.resv, s.selcall, s.li);
    r.source_addr = s.source_addr;
    r.source_ssrc = s.source_ssrc;
    const auto byte = [](int32_t value) { return static_cast<unsigned char>(value); };
    const unsigned char callerLength = static_cast<unsigned char>(CallerIdLength(s));
    switch (s.type) {
        case GW_ADJUST_CHAN:
            sig_proto_set_gw_adjust_chan(&r, static_cast<unsigned>(s.id), s.frequency);
            break;
        case GW_SEL_CALL:
            sig_proto_set_gw_selcall(&r, s.caller_id, callerLength);
            break;
        case GW_SELECT_RC_CHAN:
            sig_proto_set_gw_select_rc_chan(&r, byte(s.interface), byte(s.channel));
            break;
        case GW_ADJUST_SQUELSHE:
            sig_proto_set_gw_adjust_squelsh(&r, byte(s.squelsh));
            break;
        case GW_ADJUST_RTE:
            sig_proto_set_gw_adjust_rte(&r, byte(s.rte));
            break;
        case GW_ADJUST_STANDBY:
            sig_proto_set_gw_adjust_standby(&r, byte(s.standby_state));
            break;
        case WM_TRANS:
            sig_proto_set_wm_transmite(&r, Address(s.session_addr), s.session_ssrc);
            break;
        case WM_RADIO_QUALITY:
            sig_proto_set_wm_radio_quality(&r, s.radio_quality);
            break;
        case WM_CHAN:
            sig_proto_set_wm_chan(&r, static_cast<unsigned>(s.id), s.frequency, byte(s.squelsh),
                                  byte(s.rte));
            break;
        case WM_SEL_CALL_TRANS:
            sig_proto_set_wm_selcall_transmite(&r, Address(s.session_addr), s.session_ssrc,
                                               s.caller_id, callerLength);
            break;
        case WM_SELECT_RC_CHAN:
            sig_proto_set_wm_select_rc_chan(&r, byte(s.interface), byte(s.channel));
            break;
        case WM_STANDBY:
            sig_proto_set_wm_standby(&r, byte(s.standby_state), byte(s.standby_group),
                                     byte(s.standby_receiver));
            break;
    }
}

bool VarkRadioControl::WritePacket(const sig_proto& record) {
    unsigned char bytes[board::rtp_ext::kMaxExtension];
    if (!WriteExtension(bytes, sig_proto_pack(&record, bytes, sizeof bytes))) return false;
    if (!gateway()) return true;
    const uint32_t now = Now();
    switch (record.type) {
        case WM_FLAG:
        case WM_TRANS:
        case WM_SEL_CALL_TRANS:
            lastSent_[PttReport] = now;
            break;
        case WM_CHAN:
            lastSent_[ChanReport] = now;
            break;
        case WM_SELECT_RC_CHAN:
            lastSent_[RemoteReport] = now;
            break;
        case WM_STANDBY:
            lastSent_[StandbyReport] = now;
            break;
    }
    return true;
}

void VarkRadioControl::OnRtpExtEvent(int, short revents) {
    if (!CallsForRead(revents)) return;
    sig_proto_init(&previous_);
    ReadBurst(
        revents, previous_, current_,
        [this](const unsigned char* bytes, int length, sig_proto& record) {
            return DecodeReceived(bytes, length, record);
        },
        [](const sig_proto& a, const sig_proto& b) { return cmp_sig_proto_header(&a, &b); },
        [this](const sig_proto& record) { OnRtpProtoRXEvent(record); });
}

bool VarkRadioControl::DecodeReceived(const unsigned char* bytes, int length, sig_proto& record) {
    sig_proto_init(&record);
    if (sig_proto_unpack(&record, bytes, length) != 0) return false;
    if (const char* field = OutsideTerm(record)) {
        const char* name =
            sig_proto_find_name_by_id(sig_proto_packet_const_name, static_cast<int>(record.type));
        if (dropped_.admit())
            std::cerr << GetPrefix() << "dropped " << name << ": its " << field
                      << " is no value of the radio messages" << dropped_ << std::endl;
        return false;
    }
    return true;
}

void VarkRadioControl::OnRtpProtoRXEvent(const sig_proto& record) {
    VarkRadioState state;
    DecodeProto(record, state);
    if (AccessFormChanToRadio(state)) {
        PutProtoFromChanToRadio(state);
        if (notify()) notify()->RadioControlNotify(Report(state));
    }
    FollowPtt();
}

// The radio's whole state, and the packet as the command it stands for.
TERM::RtpRadioRequest VarkRadioControl::Report(const VarkRadioState& packet) const {
    TERM::RtpRadioRequest report;
    EncodeVarkStatus(radio_, report.get_status().select_vark());
    TERM::VarkRadioModifier& request = report.include_request().select_vark();
    EncodeSource(packet.source_addr, packet.source_ssrc, request.get_addr());
    EncodeVarkParams(packet, request.get_params());
    return report;
}

// ---- Gateway

int VarkRadioGWControl::PutProtoFromRadioToChan(const VarkRadioState& s) {
    if (isDefaultInitCommand(s.type)) {
        radio_ = s;
        return -1;
    }
    radio_.type = s.type, radio_.priority = s.priority;
    ApplyWmReport(s, radio_);
    if (s.type == WM_TRANS || s.type == WM_SEL_CALL_TRANS)
        radio_.session_addr = s.session_addr, radio_.session_ssrc = s.session_ssrc;
    return 0;
}

int VarkRadioGWControl::PutProtoFromChanToRadio(const VarkRadioState& s) {
    channel_.session_addr = s.source_addr, channel_.session_ssrc = s.source_ssrc;
    channel_.type = s.type, channel_.priority = s.priority;
    ApplyGwCommand(s, channel_);
    return 0;
}

RadioKeying VarkRadioGWControl::keying() const {
    return {radio_.ptt != 0, Urgency(radio_.priority), radio_.session_addr};
}

bool VarkRadioGWControl::OnlyTheSessionIsHeard() const {
    return keying().OnlyThePositionIsHeard(Urgency(kMostUrgent));
}

int VarkRadioGWControl::AccessFormChanToRadio(const VarkRadioState& s) {
    return keying().Hears(s.source_addr, isPTTCommand(s.type) && s.ptt, Urgency(s.priority));
}

int VarkRadioGWControl::EncodeProto(const VarkRadioState& state, sig_proto& record) {
    if (state.type < WM_FLAG || state.type > WM_STANDBY) return 0;
    EncodeRecord(state, record);
    return 1;
}

void VarkRadioGWControl::SendReport(int type) {
    radio_.type = type;
    sig_proto record;
    if (EncodeProto(radio_, record)) WritePacket(record);
}

unsigned long VarkRadioGWControl::ProcessRadioStatus(unsigned long now, unsigned long interval) {
    const VarkRadioState& r = radio_;
    if (Age(now, lastSent_[PttReport]) > 999)
        SendReport(r.ptt == 0 ? WM_FLAG : r.caller_id[0] ? WM_SEL_CALL_TRANS : WM_TRANS);
    if (Age(now, lastSent_[ChanReport]) > 999 && r.id >= 0 && r.frequency >= 0.0f)
        SendReport(WM_CHAN);
    if (r.interface >= 0 && r.channel >= 0) SendReport(WM_SELECT_RC_CHAN);
    if (Age(now, lastSent_[StandbyReport]) > 999 && r.standby_state >= 0 && r.standby_group >= 0 &&
        r.standby_receiver >= 0)
        SendReport(WM_STANDBY);
    uint32_t oldest = 0;
    for (uint32_t sent : lastSent_) oldest = std::max(oldest, Age(now, sent));
    return oldest == 0 || oldest >= interval ? interval : interval - oldest + 10;
}

// ---- Workstation

int VarkRadioWSControl::PutProtoFromRadioToChan(const VarkRadioState& s) {
    if (isDefaultInitCommand(s.type)) {
        radio_ = s;
        return -1;
    }
    radio_.type = s.type, radio_.priority = s.priority;
    ApplyGwCommand(s, radio_);
    return 0;
}

int VarkRadioWSControl::PutProtoFromChanToRadio(const VarkRadioState& s) {
    channel_.session_addr = s.source_addr, channel_.session_ssrc = s.source_ssrc;
    channel_.type = s.type, channel_.priority = s.priority;
    ApplyWmReport(s, channel_);
    if (s.type == WM_SEL_CALL_TRANS)
        channel_.session_addr = s.session_addr, channel_.session_ssrc = s.session_ssrc;
    return 0;
}

int VarkRadioWSControl::EncodeProto(const VarkRadioState& state, sig_proto& record) {
    if (state.type < GW_FLAG || state.type > GW_ADJUST_STANDBY) return 0;
    EncodeRecord(state, record);
    return 1;
}

}  // namespace RTPSignalling
