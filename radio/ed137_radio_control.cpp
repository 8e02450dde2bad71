#include "radio/ed137_radio_control.h"

#include <poll.h>

#include <iostream>
#include <string>

#include "radio/radio_asn.h"

namespace RTPSignalling {

void ED137RadioParams::Init(const TERM::ED137RadioResponse& r) {
    if (auto* v = r.get_transmission_depend_on_squ()) transmission_depend_on_squ = v->getValue();
    if (auto* v = r.get_sigtime()) sigtime = v->getValue();
    if (auto* v = r.get_r2s_keepalive_period()) keepalive_period = v->getValue();
    if (auto* v = r.get_r2s_keepalive_multiplier()) keepalive_multiplier = v->getValue();
    radio_type = static_cast<uint32_t>(r.get_type().getValue());
    txrx_mode = static_cast<uint32_t>(r.get_txrxmode().getValue());
}

bool ED137RadioState::IsEqual(const ED137RadioState& o) const {
    return flags == o.flags && ptt == o.ptt && squ == o.squ && ptt_id == o.ptt_id &&
           ptt_mute == o.ptt_mute && ptt_summation == o.ptt_summation && sct == o.sct &&
           bss_method == o.bss_method && bss_quality == o.bss_quality &&
           source_addr == o.source_addr && source_ssrc == o.source_ssrc;
}

namespace {

using State = ED137RadioState;

// ---- TERM to state

void DecodeHeader(const TERM::ED137RadioHeader& h, State& s) {
    s.ptt = static_cast<uint32_t>(h.get_ptt().getValue());
    s.squ = static_cast<uint32_t>(h.get_squ().getValue());
    s.ptt_id = h.get_ptt_id().getValue();
    s.ptt_mute = h.get_ptt_mute().getValue();
    s.ptt_summation = h.get_ptt_summation().getValue();
    s.sct = h.get_sct().getValue();
}

// An RX state with its header, and its quality when one is given.
void DecodeRx(const TERM::ED137RadioHeader& h, const TERM::ED137RadioExtensionSQI* sqi, State& s) {
    s.flags = State::Rx | State::Header;
    DecodeHeader(h, s);
    if (sqi == nullptr) return;
    s.flags |= State::Sqi;
    s.bss_method = static_cast<uint32_t>(sqi->get_bss_method().getValue());
    s.bss_quality = sqi->get_bss_quality().getValue();
}

void DecodeParams(const TERM::ED137RadioModifierParams& p, State& s) {
    if (const TERM::ED137RadioRxCommand* rx = p.get_rx()) {
        DecodeRx(rx->get_header(), rx->get_sqi(), s);
    } else if (const TERM::ED137RadioTxCommand* tx = p.get_tx()) {
        s.flags = State::Tx | State::Header;
        DecodeHeader(tx->get_header(), s);
    } else {
        s.flags = 0;
    }
}

// ---- State to TERM

void EncodeHeader(const State& s, TERM::ED137RadioHeader& h) {
    h.get_ptt().setValue(static_cast<int>(s.ptt));
    h.get_squ().setValue(static_cast<int>(s.squ));
    h.set_ptt_id(s.ptt_id);
    h.set_ptt_mute(s.ptt_mute != 0);
    h.set_ptt_summation(s.ptt_summation != 0);
    h.set_sct(s.sct != 0);
}

void EncodeSqi(const State& s, TERM::ED137RadioExtensionSQI& sqi) {
    sqi.get_bss_method().setValue(static_cast<int>(s.bss_method));
    sqi.set_bss_quality(s.bss_quality);
}

void EncodeParams(const State& s, TERM::ED137RadioModifierParams& p) {
    if (s.rx()) {
        TERM::ED137RadioRxCommand& rx = p.select_rx();
        EncodeHeader(s, rx.get_header());
        if (s.flags & State::Sqi) EncodeSqi(s, rx.include_sqi());
    } else if (s.tx()) {
        EncodeHeader(s, p.select_tx().get_header());
    }
}

// ---- Extensions

// The quality goes in the SQI item's bits 7-3 and the method in bits 2-0,
// as the standard has them.
int DecodeProto(const r2s_proto& r, State& s) {
    s.source_addr = r.source_addr;
    s.source_ssrc = r.source_ssrc;
    if (r.type == R2S_PROTO_TX) {
        s.flags = State::Tx | State::Header;
        s.ptt = r.header.tx.ptt_type;
        s.ptt_id = r.header.tx.ptt_id;
        s.ptt_mute = r.header.tx.ptt_mute;
        s.ptt_summation = r.header.tx.ptt_summation;
        return 0;
    }
    if (r.type != R2S_PROTO_RX) return -1;
    s.flags = State::Rx | State::Header;
    const r2s_proto_rx_header& h = r.header.rx;
    s.ptt = h.ptt_type, s.squ = h.squ, s.ptt_id = h.ptt_id;
    s.ptt_mute = h.ptt_mute, s.ptt_summation = h.ptt_summation, s.sct = h.sct;
    for (uint32_t i = 0; i < r.additionals_count && i < R2S_PROTO_MAX_ADDITIONALS; ++i) {
        if (r.additionals[i].kind != R2S_PROTO_ADDITIONAL_SQI) continue;
        s.flags |= State::Sqi;
        s.bss_quality = r.additionals[i].value.sqi.quality;
        s.bss_method = r.additionals[i].value.sqi.method;
    }
    return 0;
}

// The source, the direction and the header; the quality only when given.
void Apply(const State& from, State& to) {
    to.source_addr = from.source_addr, to.source_ssrc = from.source_ssrc;
    to.flags = from.flags;
    to.ptt = from.ptt, to.squ = from.squ, to.ptt_id = from.ptt_id;
    to.ptt_mute = from.ptt_mute, to.ptt_summation = from.ptt_summation, to.sct = from.sct;
    if (from.flags & State::Sqi) to.bss_method = from.bss_method, to.bss_quality = from.bss_quality;
}

}  // namespace

// ---- ED137RadioControl

ED137RadioControl::ED137RadioControl(int id, const rtp_ext_attach_session_params& attach,
                                     const rtp_ext_init_params& init)
    : RadioControl(id, attach, init) {
    Init();
}

ED137RadioControl::ED137RadioControl(int id, Fd rtp, const rtp_attach_session_params& attach)
    : RadioControl(id, std::move(rtp), attach) {
    Init();
}

ED137RadioControl::ED137RadioControl(const rtp_ext_init_params& init) : RadioControl(init) {
    Init();
}

void ED137RadioControl::Init() {
    const uint32_t now = Now();
    lastActivity_ = lastRxSent_ = lastReport_ = lastReceived_ = now;
    r2s_proto_init(&current_, 0);
    r2s_proto_init(&previous_, 0);
}

int ED137RadioControl::SendASNToChan(const TERM::RadioStatus& status) {
    const TERM::ED137RadioStatus* ed137 = status.get_ed_137();
    if (ed137 == nullptr) return 0;
    ED137RadioState state = radio_;
    DecodeRx(ed137->get_header(), ed137->get_sqi(), state);
    return SendRadioStateToChan(state, Unwritten::kept);
}

int ED137RadioControl::SendASNToChan(const TERM::RadioModifier& modifier) {
    const TERM::ED137RadioModifier* ed137 = modifier.get_ed_137();
    if (ed137 == nullptr) return 0;
    ED137RadioState state = radio_;
    std::string why;
    if (DecodeSource(ed137->get_addr(), state.source_addr, state.source_ssrc, why)) {
        DecodeParams(ed137->get_params(), state);
        // Neither direction: there is nothing to send or to keep.
        if (!state.rx() && !state.tx()) why = "an ED-137 command this side does not know";
    }
    if (!why.empty()) {
        std::cerr << GetPrefix() << "refused radio command: " << why << std::endl;
        return 0;
    }
    return SendRadioStateToChan(state, Unwritten::dropped);
}

// Without both init-record words the driver repeats nothing itself, so
// every state goes out; otherwise only a change, or a state not yet written.
bool ED137RadioControl::NeedSendProto(const ED137RadioState& state) const {
    if (init_params().params[2] < 1 || init_params().params[3] < 1) return true;
    return unwritten_ || !state.IsEqual(radio_);
}

// 1 when the state was kept and sent (or was unchanged); 0 when it could
// not be packed or written, and then the state is `unwritten`.
int ED137RadioControl::SendRadioStateToChan(const ED137RadioState& state, Unwritten unwritten) {
    if (!NeedSendProto(state)) return FollowPtt() ? 1 : 0;
    const ED137RadioState before = radio_;
    PutProtoFromRadioToChan(state);
    int result = 1;
    r2s_proto record;
    if (!EncodeProto(state, record)) {
        result = 0;
    } else if (type() != RadioControlOnRtpSession) {
        // A controller on the RTP session's own descriptor writes nothing.
        if (!WriteRecord(record))
            result = 0;
        else if (state.rx() && gateway())
            lastRxSent_ = Now();
    }
    if (result == 0 && unwritten == Unwritten::dropped)
        radio_ = before;
    else
        unwritten_ = result == 0;
    return FollowPtt() ? result : 0;
}

bool ED137RadioControl::FollowPtt() {
    return UpdateAccess(OnlyTheSessionIsHeard(), Address(radio_.source_addr));
}

bool ED137RadioControl::WriteRecord(const r2s_proto& record) {
    unsigned char bytes[board::rtp_ext::kMaxExtension];
    return WriteExtension(bytes, r2s_proto_pack(&record, bytes, sizeof bytes));
}

void ED137RadioControl::OnRtpExtEvent(int, short revents) {
    if (!CallsForRead(revents)) return;
    const uint32_t now = Now();
    lastActivity_ = now;
    r2s_proto_init(&previous_, 0);
    ReadBurst(
        revents, previous_, current_,
        [this, now](const unsigned char* bytes, int length, r2s_proto& record) {
            r2s_proto_init(&record, 0);
            if (r2s_proto_unpack_tx(&record, bytes, length) != 0) return false;
            lastReceived_ = now;
            return true;
        },
        [](const r2s_proto& a, const r2s_proto& b) { return cmp_r2s_proto_source(&a, &b); },
        [this, now](const r2s_proto& record) { OnRtpProtoRXEvent(record, now); });
}

// An unchanged state reaches the host at most once per status interval, a
// change at once.
void ED137RadioControl::OnRtpProtoRXEvent(const r2s_proto& record, uint32_t now) {
    ED137RadioState state;
    if (DecodeProto(record, state) != 0 || !AccessFormChanToRadio(state)) return;
    if (state.IsEqual(channel_) && Age(now, lastReport_) < interval()) return;
    PutProtoFromChanToRadio(state);
    TERM::RtpRadioRequest report;
    TERM::ED137RadioStatus& status = report.get_status().select_ed_137();
    EncodeHeader(radio_, status.get_header());
    EncodeSqi(radio_, status.include_sqi());
    TERM::ED137RadioModifier& request = report.include_request().select_ed_137();
    EncodeSource(state.source_addr, state.source_ssrc, request.get_addr());
    EncodeParams(state, request.get_params());
    lastReport_ = now;
    if (notify()) notify()->RadioControlNotify(report);
}

// ---- Gateway

int ED137RadioGWControl::PutProtoFromRadioToChan(const ED137RadioState& state) {
    Apply(state, radio_);
    return 0;
}

int ED137RadioGWControl::PutProtoFromChanToRadio(const ED137RadioState& state) {
    Apply(state, channel_);
    return 0;
}

// The PTT types grow in urgency with their values, up to emergency. A radio
// keyed for no position named hears every position, as the driver's filter,
// which needs an address, lets it.
RadioKeying ED137RadioGWControl::keying() const {
    return {radio_.ptt != 0 && radio_.source_addr != 0, radio_.ptt, radio_.source_addr};
}

bool ED137RadioGWControl::OnlyTheSessionIsHeard() const {
    return keying().OnlyThePositionIsHeard(TERM::ED137RadioPTT::emergency_ptt_on);
}

// Only a radio that transmits, in a session that lets it, hears the
// controlling positions.
int ED137RadioGWControl::AccessFormChanToRadio(const ED137RadioState& s) {
    const bool transmits = params_.radio_type >= TERM::ED137RadioType::radio_txrx &&
                           params_.radio_type <= TERM::ED137RadioType::coupling;
    const bool txMode = params_.txrx_mode == TERM::ED137RadioTxRxMode::tx ||
                        params_.txrx_mode == TERM::ED137RadioTxRxMode::txrx;
    return transmits && txMode && keying().Hears(s.source_addr, s.tx() && s.ptt != 0, s.ptt);
}

int ED137RadioGWControl::EncodeProto(const ED137RadioState& s, r2s_proto& r) {
    if (s.rx()) {
        r2s_proto_init(&r, R2S_PROTO_RX);
        r2s_proto_set_rx_header(&r, s.ptt, s.squ, s.ptt_id, s.ptt_mute, s.ptt_summation, s.sct);
        if (s.flags & ED137RadioState::Sqi) r2s_proto_add_rx_sqi(&r, s.bss_quality, s.bss_method);
    } else if (s.tx()) {
        r2s_proto_init(&r, R2S_PROTO_TX);
        r2s_proto_set_tx_header(&r, s.ptt, s.ptt_id, s.ptt_mute, s.ptt_summation);
    } else {
        return 0;
    }
    r.source_addr = s.source_addr;
    r.source_ssrc = s.source_ssrc;
    return 1;
}

unsigned long ED137RadioGWControl::ProcessRadioStatus(unsigned long now, unsigned long interval) {
    const uint32_t limit = params_.keepalive_period * params_.keepalive_multiplier;
    if (limit != 0 && Age(now, lastReceived_) >= limit && notify())
        notify()->RadioControlNotify(kKeepAliveLost);
    if (Age(now, lastRxSent_) >= interval) SendKeepAlive(static_cast<uint32_t>(now));
    const uint32_t age = Age(now, lastRxSent_);
    return age == 0 || age >= interval ? interval : interval - age + 10;
}

// The keep-alive is the radio's state as an RX extension, however the host
// last set it: an RX state with TX also marked could not be encoded.
void ED137RadioGWControl::SendKeepAlive(uint32_t now) {
    radio_.flags =
        (radio_.flags & ~ED137RadioState::Tx) | ED137RadioState::Rx | ED137RadioState::Header;
    r2s_proto record;
    if (!EncodeProto(radio_, record) || !WriteRecord(record)) return;
    lastRxSent_ = now;
    unwritten_ = false;
}

// The driver repeats the last extension written on its session: a new
// session gets the radio's state now, not an interval later.
void ED137RadioGWControl::OnSessionOpened() {
    SendKeepAlive(Now());
}

}  // namespace RTPSignalling
