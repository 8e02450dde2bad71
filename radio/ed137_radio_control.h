#pragma once
// The ED-137 radio controller. The gateway side, where the board stands in
// for the radio, takes TX extensions from the controlling positions and
// reports them to the host, sends the radio's state as RX extensions,
// repeats the RX extension as a keep-alive and reports the loss of the far
// end's keep-alives (abort 151).

#include <cstdint>

#include "radio/r2s_proto.h"
#include "radio/radio_control.h"

namespace RTPSignalling {

// The session's parameters, from the host's ED-137 radio response.
struct ED137RadioParams {
    uint32_t transmission_depend_on_squ = 0;
    uint32_t sigtime = 1;
    uint32_t keepalive_period = 200;  // milliseconds
    uint32_t keepalive_multiplier = 10;
    uint32_t radio_type = TERM::ED137RadioType::radio_txrx;
    uint32_t txrx_mode = TERM::ED137RadioTxRxMode::txrx;

    // Type and mode always, the rest when present.
    void Init(const TERM::ED137RadioResponse& response);
};

// One extension decoded, and the state of a radio.
struct ED137RadioState {
    enum Flags : uint32_t { Rx = 0x1000, Tx = 0x2000, Header = 0x0001, Sqi = 0x0002 };

    uint32_t flags = 0;
    uint32_t ptt = 0;  // TERM::ED137RadioPTT, the extension's ptt_type
    uint32_t squ = 0;
    uint32_t ptt_id = 0;
    uint32_t ptt_mute = 0;
    uint32_t ptt_summation = 0;
    uint32_t sct = 0;
    uint32_t bss_method = 0;
    uint32_t bss_quality = 0;
    uint32_t source_addr = 0;  // network order
    uint32_t source_ssrc = 0;

    bool IsEqual(const ED137RadioState& other) const;
    // One direction only: a state marked both ways is neither.
    bool rx() const { return (flags & (Rx | Tx)) == Rx; }
    bool tx() const { return (flags & (Rx | Tx)) == Tx; }
};

class ED137RadioControl : public RadioControl {
public:
    // Reported to the slot while no extension has come within the
    // keep-alive limit.
    static constexpr int kKeepAliveLost = 151;

    ED137RadioControl(int id, const rtp_ext_attach_session_params& attach,
                      const rtp_ext_init_params& init);
    ED137RadioControl(int id, Fd rtp, const rtp_attach_session_params& attach);
    explicit ED137RadioControl(const rtp_ext_init_params& init);

    // 0 for a message of another protocol or one that is refused (an
    // address text that is no address, a state that cannot be sent), and
    // for a state that could not be written. A command the host is told
    // failed leaves the radio as it was, so that its retry writes it. The
    // status comes with the slot's creation, which succeeded whatever the
    // write: it is the radio's state all the same, and the next write of
    // the state (a retry, a keep-alive, a new session) carries it. 0 also
    // while an un-key's filter removal is owed (UpdateAccess): the un-key
    // stands.
    int SendASNToChan(const TERM::RadioStatus& status) override;
    int SendASNToChan(const TERM::RadioModifier& modifier) override;
    int GetSQU() override { return radio_.squ > 0; }
    void SetParams(const ED137RadioParams& params) { params_ = params; }

    const ED137RadioParams& params() const { return params_; }
    const ED137RadioState& radio_state() const { return radio_; }
    const ED137RadioState& channel_state() const { return channel_; }

protected:
    void OnRtpExtEvent(int fd, short revents) override;

    virtual int PutProtoFromRadioToChan(const ED137RadioState&) { return 0; }
    virtual int PutProtoFromChanToRadio(const ED137RadioState&) { return 0; }
    // 1: the extension may reach the host.
    virtual int AccessFormChanToRadio(const ED137RadioState&) { return 1; }
    // 1 when `record` holds an extension this side sends, 0 otherwise.
    virtual int EncodeProto(const ED137RadioState&, r2s_proto&) { return 0; }
    // Whether the driver passes only the keyed position: while keyed.
    virtual bool OnlyTheSessionIsHeard() const { return radio_.ptt != 0; }

    // Packs and writes; true when written.
    bool WriteRecord(const r2s_proto& record);

    ED137RadioParams params_;
    ED137RadioState radio_;
    ED137RadioState channel_;
    uint32_t lastRxSent_ = 0;
    uint32_t lastReport_ = 0;
    uint32_t lastReceived_ = 0;
    // The radio's state has not gone out since it was set: the same state
    // again is written, not taken as unchanged.
    bool unwritten_ = false;

private:
    void Init();
    // What becomes of a state that could not be written.
    enum class Unwritten { dropped, kept };
    int SendRadioStateToChan(const ED137RadioState& state, Unwritten unwritten);
    bool NeedSendProto(const ED137RadioState& state) const;
    void OnRtpProtoRXEvent(const r2s_proto& record, uint32_t now);
    // False while the driver's filter still passes one position only.
    bool FollowPtt();

    r2s_proto current_;
    r2s_proto previous_;
};

class ED137RadioGWControl : public ED137RadioControl {
public:
    using ED137RadioControl::ED137RadioControl;

private:
    RadioKeying keying() const;
    bool OnlyTheSessionIsHeard() const override;
    unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override;
    void SendKeepAlive(uint32_t now);
    void OnSessionOpened() override;
    int PutProtoFromRadioToChan(const ED137RadioState& state) override;
    int PutProtoFromChanToRadio(const ED137RadioState& state) override;
    int AccessFormChanToRadio(const ED137RadioState& state) override;
    int EncodeProto(const ED137RadioState& state, r2s_proto& record) override;
};

}  // namespace RTPSignalling
