#pragma once
// The VARK radio controllers: they translate between VARK packets on the
// header-extension session and the host's TERM radio messages, keep the
// radio's state as the host sets it and report every packet let through to
// the host. The gateway side (wired to the radio set) takes the GW packet
// types from operator positions, sends the WM types about the radio, repeats
// them every second and decides which source may drive the radio; the
// workstation side sends the GW types and takes the WM types.
//
// "Radio" is the state held for the host, "Chan" the network side:
// PutProtoFromRadioToChan applies a host message before it goes out,
// PutProtoFromChanToRadio a network packet before it goes to the host, and
// AccessFormChanToRadio lets a network packet through or not.

#include <cstdint>

#include "radio/radio_control.h"
#include "radio/sig_proto.h"
#include "runtime/log_throttle.h"

namespace RTPSignalling {

// The decoded form of a VARK packet, and the state of a radio.
struct VarkRadioState {
    static constexpr int kCallerIdSize = 256;

    int32_t type = 0;       // the packet type; 0 for a state carrying every field
    int32_t priority = 15;  // smaller is higher
    int32_t ptt = 0;
    uint32_t session_addr = 0;  // IPv4, network order
    uint32_t session_ssrc = 0;
    char caller_id[kCallerIdSize] = {};  // zero-terminated
    int32_t bss = 0, vad_rx = 0, vad_tx = 0, sql = 0, sh = 0, pwr = 0, rv = 0, resv = 0;
    int32_t selcall = 0;  // 2 bits
    int32_t li = 0;       // 9 bits
    int32_t interface = 0, channel = 0;
    int32_t id = 0;
    float frequency = 0.0f;
    int32_t squelsh = -1;  // TERM::RadioSquelshe, -1 until set
    int32_t rte = -1;      // TERM::RadioRTE, -1 until set
    int32_t standby_state = -1, standby_group = -1, standby_receiver = -1;
    float radio_quality = 0.0f;
    uint32_t source_addr = 0;  // where the packet came from, network order
    uint32_t source_ssrc = 0;

    // At most 255 bytes of `text`, zero-terminated.
    void SetCallerId(const char* text, size_t length);
};

// A state that carries every field at once (type 0 and below).
bool isDefaultInitCommand(int type);
// The packet types that carry PTT.
bool isPTTCommand(int type);

class VarkRadioControl : public RadioControl {
public:
    VarkRadioControl(int id, const rtp_ext_attach_session_params& attach,
                     const rtp_ext_init_params& init);
    VarkRadioControl(int id, Fd rtp, const rtp_attach_session_params& attach);
    explicit VarkRadioControl(const rtp_ext_init_params& init);

    // 0 for a message of another protocol or one that is refused (an
    // address text that is no address, a packet the side cannot send), and
    // for a packet that could not be written: the radio stays as it was.
    // 0 also while an un-key's filter removal is owed (UpdateAccess): the
    // un-key stands.
    int SendASNToChan(const TERM::RadioStatus& status) override;
    int SendASNToChan(const TERM::RadioModifier& modifier) override;
    int GetSQU() override { return radio_.sql > 0; }

    const VarkRadioState& radio_state() const { return radio_; }
    const VarkRadioState& channel_state() const { return channel_; }

protected:
    // Last-sent times of the gateway's report groups.
    enum ReportGroup { PttReport, ChanReport, RemoteReport, StandbyReport, ReportGroups };

    void OnRtpExtEvent(int fd, short revents) override;

    // 0, or -1 for a state carrying every field (nothing is sent then).
    virtual int PutProtoFromRadioToChan(const VarkRadioState&) { return 0; }
    virtual int PutProtoFromChanToRadio(const VarkRadioState&) { return 0; }
    // 1: the packet may reach the host.
    virtual int AccessFormChanToRadio(const VarkRadioState&) { return 1; }
    // 1 when `record` holds a packet this side sends, 0 otherwise.
    virtual int EncodeProto(const VarkRadioState&, sig_proto&) { return 0; }
    // Whether the driver passes only the radio's session: while it is keyed.
    virtual bool OnlyTheSessionIsHeard() const { return radio_.ptt != 0; }

    // The record of any state, whoever may send it.
    static void EncodeRecord(const VarkRadioState& state, sig_proto& record);
    // Packs and writes; true when written.
    bool WritePacket(const sig_proto& record);

    VarkRadioState radio_;
    VarkRadioState channel_;
    uint32_t lastSent_[ReportGroups] = {};

private:
    void Init();
    int SendRadioStateToChan(const VarkRadioState& state);
    void OnRtpProtoRXEvent(const sig_proto& record);
    // Unpacks a received packet; false for one that does not unpack or
    // whose bytes no TERM value can carry to the host (logged, once a
    // second at most).
    bool DecodeReceived(const unsigned char* bytes, int length, sig_proto& record);
    TERM::RtpRadioRequest Report(const VarkRadioState& packet) const;
    // False while the driver's filter still passes one position only.
    bool FollowPtt();

    sig_proto current_;
    sig_proto previous_;
    LogThrottle dropped_;
};

class VarkRadioGWControl : public VarkRadioControl {
public:
    using VarkRadioControl::VarkRadioControl;

private:
    // The smallest priority: no PTT can be more urgent.
    static constexpr int32_t kMostUrgent = 0;
    // A smaller priority is more urgent.
    static int64_t Urgency(int32_t priority) { return -int64_t{priority}; }

    RadioKeying keying() const;
    bool OnlyTheSessionIsHeard() const override;
    unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override;
    int PutProtoFromRadioToChan(const VarkRadioState& state) override;
    int PutProtoFromChanToRadio(const VarkRadioState& state) override;
    int AccessFormChanToRadio(const VarkRadioState& state) override;
    int EncodeProto(const VarkRadioState& state, sig_proto& record) override;
    void SendReport(int type);
};

class VarkRadioWSControl : public VarkRadioControl {
public:
    using VarkRadioControl::VarkRadioControl;

private:
    int PutProtoFromRadioToChan(const VarkRadioState& state) override;
    int PutProtoFromChanToRadio(const VarkRadioState& state) override;
    int EncodeProto(const VarkRadioState& state, sig_proto& record) override;
};

}  // namespace RTPSignalling
