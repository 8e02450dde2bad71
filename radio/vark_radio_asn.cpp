#include "radio/vark_radio_asn.h"

#include <cstdlib>

#include "radio/radio_asn.h"

namespace RTPSignalling {

namespace {

using Params = TERM::VarkRadioModifierParams;

// The packet type of each alternative, in alternative order.
constexpr int kPacketTypes[] = {
    GW_FLAG,           GW_ADJUST_CHAN,    GW_FLAG_PTT,        GW_FLAG_BSS,
    GW_FLAG_SH,        GW_FLAG_PW,        GW_FLAG_RV,         GW_FLAG_RS,
    GW_SEL_CALL,       GW_SELECT_RC_CHAN, GW_ADJUST_SQUELSHE, GW_ADJUST_RTE,
    GW_ADJUST_STANDBY, WM_FLAG,           WM_TRANS,           WM_RADIO_QUALITY,
    WM_CHAN,           WM_SEL_CALL_TRANS, WM_SELECT_RC_CHAN,  WM_STANDBY};
constexpr int kAlternatives = sizeof kPacketTypes / sizeof kPacketTypes[0];

int AlternativeOf(int type) {
    for (int i = 0; i < kAlternatives; ++i)
        if (kPacketTypes[i] == type) return i;
    return -1;
}

// ---- State to TERM

void EncodeFlags(const VarkRadioState& s, TERM::RadioFlags& f) {
    f.set_prio(s.priority);
    f.set_ptt(s.ptt != 0);
    f.set_bss(s.bss != 0);
    f.set_vad_rx(s.vad_rx != 0);
    f.set_vad_tx(s.vad_tx != 0);
    f.set_sql(s.sql != 0);
    f.set_sh(s.sh != 0);
    f.set_pwr(s.pwr != 0);
    f.set_rv(s.rv != 0);
    f.set_resv(s.resv != 0);
    f.set_selcall(static_cast<unsigned>(s.selcall));
    f.set_li(static_cast<unsigned>(s.li));
}

void EncodeFrequency(const VarkRadioState& s, TERM::RadioFrequency& f) {
    f.set_channel(s.id);
    f.set_frequency(FloatText(s.frequency));
}

void EncodeRemote(const VarkRadioState& s, TERM::RadioRemote& r) {
    r.set_no(static_cast<unsigned>(s.interface));
    r.set_ch(static_cast<unsigned>(s.channel));
}

// wm-trans, and the selcall commands without their caller identity.
template <class Command>
void EncodeTrans(const VarkRadioState& s, Command& c) {
    EncodeFlags(s, c.get_flags());
    c.set_ip(AddressText(s.session_addr));
    c.set_ssrc(s.session_ssrc);
}

template <class Command>
void EncodeSelCall(const VarkRadioState& s, Command& c) {
    EncodeTrans(s, c);
    c.set_cid(s.caller_id);
}

// ---- TERM to state

void DecodeFlags(const TERM::RadioFlags& f, VarkRadioState& s) {
    s.priority = f.get_prio().getValue();
    s.ptt = f.get_ptt().getValue();
    s.bss = f.get_bss().getValue();
    s.vad_rx = f.get_vad_rx().getValue();
    s.vad_tx = f.get_vad_tx().getValue();
    s.sql = f.get_sql().getValue();
    s.sh = f.get_sh().getValue();
    s.pwr = f.get_pwr().getValue();
    s.rv = f.get_rv().getValue();
    s.resv = f.get_resv().getValue();
    s.selcall = static_cast<int32_t>(f.get_selcall().getValue());
    s.li = static_cast<int32_t>(f.get_li().getValue());
}

void DecodeFrequency(const TERM::RadioFrequency& f, VarkRadioState& s) {
    s.id = f.get_channel().getValue();
    s.frequency = std::strtof(f.get_frequency().c_str(), nullptr);
}

void DecodeRemote(const TERM::RadioRemote& r, VarkRadioState& s) {
    s.interface = static_cast<int32_t>(r.get_no().getValue());
    s.channel = static_cast<int32_t>(r.get_ch().getValue());
}

template <class Command>
bool DecodeTrans(const Command& c, VarkRadioState& s, std::string& why) {
    DecodeFlags(c.get_flags(), s);
    s.session_ssrc = c.get_ssrc().getValue();
    return ParseAddress(c.get_ip(), s.session_addr, why);
}

template <class Command>
bool DecodeSelCall(const Command& c, VarkRadioState& s, std::string& why) {
    s.SetCallerId(c.get_cid().data(), c.get_cid().size());
    return DecodeTrans(c, s, why);
}

}  // namespace

int VarkPacketType(int alternative) {
    return alternative >= 0 && alternative < kAlternatives ? kPacketTypes[alternative] : -1;
}

void EncodeVarkStatus(const VarkRadioState& s, TERM::VarkRadioStatus& status) {
    EncodeFlags(s, status.get_flags());
    EncodeFrequency(s, status.get_freq());
    EncodeRemote(s, status.get_remote());
    status.get_squelshe().setValue(s.squelsh);
    status.get_rte().setValue(s.rte);
    status.get_standby_state_channel().setValue(s.standby_state);
    status.get_standby_group().setValue(static_cast<unsigned>(s.standby_group));
    status.get_standby_state_receiver().setValue(s.standby_receiver);
}

void DecodeVarkStatus(const TERM::VarkRadioStatus& status, VarkRadioState& s) {
    s.type = 0;
    DecodeFlags(status.get_flags(), s);
    DecodeFrequency(status.get_freq(), s);
    DecodeRemote(status.get_remote(), s);
    s.squelsh = status.get_squelshe().getValue();
    s.rte = status.get_rte().getValue();
    s.standby_state = status.get_standby_state_channel().getValue();
    s.standby_group = static_cast<int32_t>(status.get_standby_group().getValue());
    s.standby_receiver = status.get_standby_state_receiver().getValue();
}

// One alternative a line.
// clang-format off
bool EncodeVarkParams(const VarkRadioState& s, Params& p) {
    switch (AlternativeOf(s.type)) {
        case 0: EncodeFlags(s, p.select_gw_set_flags().get_flags()); return true;
        case 1: EncodeFrequency(s, p.select_gw_set_freq().get_freq()); return true;
        case 2: EncodeFlags(s, p.select_gw_set_ptt().get_flags()); return true;
        case 3: EncodeFlags(s, p.select_gw_set_bss().get_flags()); return true;
        case 4: EncodeFlags(s, p.select_gw_set_sh().get_flags()); return true;
        case 5: EncodeFlags(s, p.select_gw_set_pwr().get_flags()); return true;
        case 6: EncodeFlags(s, p.select_gw_set_rv().get_flags()); return true;
        case 7: EncodeFlags(s, p.select_gw_set_resv().get_flags()); return true;
        case 8: EncodeSelCall(s, p.select_gw_set_selcall()); return true;
        case 9: EncodeRemote(s, p.select_gw_set_remote().get_remote()); return true;
        case 10: p.select_gw_set_squelshe().get_squelshe().setValue(s.squelsh); return true;
        case 11: p.select_gw_set_rte().get_rte().setValue(s.rte); return true;
        case 12: p.select_gw_set_standby().get_state().setValue(s.standby_state); return true;
        case 13: EncodeFlags(s, p.select_wm_flags().get_flags()); return true;
        case 14: EncodeTrans(s, p.select_wm_trans()); return true;
        case 15: p.select_wm_quality().set_bss_val(FloatText(s.radio_quality)); return true;
        case 16: {
            TERM::RadioCommandWMChan& c = p.select_wm_chan();
            EncodeFrequency(s, c.get_freq());
            c.get_squelshe().setValue(s.squelsh);
            c.get_rte().setValue(s.rte);
            return true;
        }
        case 17: EncodeSelCall(s, p.select_wm_selcall()); return true;
        case 18: EncodeRemote(s, p.select_wm_remote().get_remote()); return true;
        case 19: {
            TERM::RadioCommandWMStandby& c = p.select_wm_standby();
            c.get_state_channel().setValue(s.standby_state);
            c.set_group(static_cast<unsigned>(s.standby_group));
            c.get_state_receiver().setValue(s.standby_receiver);
            return true;
        }
    }
    return false;
}

bool DecodeVarkParams(const Params& p, VarkRadioState& s, std::string& why) {
    const int alternative = p.getSelection() ? p.currentSelection() : -1;
    s.type = VarkPacketType(alternative);
    switch (alternative) {
        case 0: DecodeFlags(p.get_gw_set_flags()->get_flags(), s); return true;
        case 1: DecodeFrequency(p.get_gw_set_freq()->get_freq(), s); return true;
        case 2: DecodeFlags(p.get_gw_set_ptt()->get_flags(), s); return true;
        case 3: DecodeFlags(p.get_gw_set_bss()->get_flags(), s); return true;
        case 4: DecodeFlags(p.get_gw_set_sh()->get_flags(), s); return true;
        case 5: DecodeFlags(p.get_gw_set_pwr()->get_flags(), s); return true;
        case 6: DecodeFlags(p.get_gw_set_rv()->get_flags(), s); return true;
        case 7: DecodeFlags(p.get_gw_set_resv()->get_flags(), s); return true;
        case 8: return DecodeSelCall(*p.get_gw_set_selcall(), s, why);
        case 9: DecodeRemote(p.get_gw_set_remote()->get_remote(), s); return true;
        case 10: s.squelsh = p.get_gw_set_squelshe()->get_squelshe().getValue(); return true;
        case 11: s.rte = p.get_gw_set_rte()->get_rte().getValue(); return true;
        case 12: s.standby_state = p.get_gw_set_standby()->get_state().getValue(); return true;
        case 13: DecodeFlags(p.get_wm_flags()->get_flags(), s); return true;
        case 14: return DecodeTrans(*p.get_wm_trans(), s, why);
        case 15:
            s.radio_quality = std::strtof(p.get_wm_quality()->get_bss_val().c_str(), nullptr);
            return true;
        case 16: {
            const TERM::RadioCommandWMChan& c = *p.get_wm_chan();
            DecodeFrequency(c.get_freq(), s);
            s.squelsh = c.get_squelshe().getValue();
            s.rte = c.get_rte().getValue();
            return true;
        }
        case 17: return DecodeSelCall(*p.get_wm_selcall(), s, why);
        case 18: DecodeRemote(p.get_wm_remote()->get_remote(), s); return true;
        case 19: {
            const TERM::RadioCommandWMStandby& c = *p.get_wm_standby();
            s.standby_state = c.get_state_channel().getValue();
            s.standby_group = static_cast<int32_t>(c.get_group().getValue());
            s.standby_receiver = c.get_state_receiver().getValue();
            return true;
        }
    }
    why = "a VARK command this side does not know";
    return false;
}
// clang-format on

}  // namespace RTPSignalling
