#include "slots/rtp_slot.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <utility>

#include "board/devio.h"
#include "hardware/device_names.h"
#include "runtime/descriptor_end.h"
#include "slots/receiver_ioctl.h"

namespace rtp = board::rtp;

namespace {

// The source description every session starts with.
constexpr const char* kCname = "Zembrix Quadresta";
constexpr const char* kEmail = "support@zembrix.example";
constexpr const char* kPhone = "+1 555 0100";
constexpr const char* kByeReason = "session end";

// G.711 payload types.
constexpr int kPayloadAlaw = 8;
constexpr int kPayloadUlaw = 0;

}  // namespace

RtpSlot::RtpSlot(int channel, const Fd& session, const rtp::rtp_connection_params& params)
    : channel_(channel), session_(session), params_(params), lowBitRate_(params.rx_pt) {
    readEvent_.Bind("RtpSlot::OnRtpEvent", &RtpSlot::OnRtpEvent, this);
    WatchSession();
    HoldChannel(channel);
}

RtpSlot::~RtpSlot() {
    send(RTPC::BYE(params_.ssrc, kByeReason));
    rtcp_.close();
    TonecReceiver::CleanBeforeDestroy();
    DSProcReceiver::CleanBeforeDestroy();
}

void RtpSlot::PutHeader(std::ostream& os) const {
    os << "rtp[" << channel_ << "]: ";
}

// ---- Life and wiring

void RtpSlot::IAfterCreate() {
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

bool RtpSlot::IBeforeDestroy() {
    owed_.clear();
    if (hardwareLost()) return true;  // nothing left of the session
    // The driver's order; it reports nothing worth acting on here.
    Request(rtp::kTeardown1);
    Request(rtp::kTeardown2);
    Request(rtp::kTeardown3);
    int32_t reset = rtp::kResetValue;
    board::ioctl(session_.get(), rtp::kResetPacketDetection, &reset);
    // The read event's duplicate would keep the session open.
    readEvent_.Release();
    session_.close();
    MuxSwitchOff(*this, channel_);
    return true;
}

// An input the driver does not switch on is no input stream: the connect
// that asked for it fails. One still on (its switch-off owed) is asked
// nothing.
bool RtpSlot::IOnInputStream() {
    if (!has_session()) return false;
    return followsSquelch_ || inputOn_ || SwitchInput(true);
}

void RtpSlot::IOnInputRelease() {
    if (!hardwareLost() && !SwitchInput(false)) owed_.owe();
}

bool RtpSlot::SwitchInput(bool on) {
    if (Request(on ? rtp::kInputOn : rtp::kInputOff) < 0) return false;
    inputOn_ = on;
    return true;
}

int RtpSlot::Request(uint32_t request) {
    return board::ioctl(session_.get(), request, nullptr);
}

// ---- Driver events

// A burst of records at most; a session that ended is gone as after a
// failed restart.
void RtpSlot::OnRtpEvent(int fd, short revents) {
    rtp::rtp_event event;
    const char* ended = ReadEvent(
        revents, [&] { return board::read(fd, &event, sizeof event); },
        [&](ssize_t n) {
            if (n != static_cast<ssize_t>(sizeof event)) {
                PutHeader(std::cerr);
                std::cerr << "fail to read from rtp: short record of " << n << " bytes"
                          << std::endl;
                return;
            }
            PutHeader(std::clog);
            std::clog << "rtp event:  type=" << event.type << std::endl;
            processRtpEvent(event);
        });
    if (!ended) return;
    std::ostringstream what;
    PutHeader(what);
    what << "fail to read from rtp: ";
    EndWatch(readEvent_, what.str(), ended);
    LoseSession();
}

void RtpSlot::LoseSession() {
    LetGoOfHardware(Loss::abort, kAbortNoSession);
}

void RtpSlot::IReleaseHardware() {
    owed_.clear();
    readEvent_.Release();
    session_.close();
    TonecReceiver::LetGo();
    DSProcReceiver::LetGo();
    channel_ = -1;
}

// ---- Controller ioctls

bool RtpSlot::Ioctl(const LGCP::IoctlParams& params) {
    if (!has_session()) {
        PutHeader(std::cerr);
        std::cerr << "no RTP session, ioctl refused" << std::endl;
        return false;
    }
    using A = LGCP::IoctlParams::Alternative;
    switch (params.selection()) {
        case A::encoder_mode:
            return ChangeCodec(&rtp::rtp_connection_params::tx_pt, *params.get_encoder_mode());
        case A::decoder_mode:
            return ChangeCodec(&rtp::rtp_connection_params::rx_pt, *params.get_decoder_mode());
        case A::pd_enable:
            return enablePD(*params.get_pd_enable());
        case A::pd_disable:
            return disablePD();
        default:
            return ReceiverIoctl(params);
    }
}

namespace {

using A = LGCP::IoctlParams::Alternative;
const ReceiverIoctls kRtpIoctls{A::echoSuppressor,     A::activateWaitTone,  A::deactivateWaitTone,
                                A::translateDTMF,      A::dtmf_params,       A::dtmf_enable,
                                A::vad_params,         A::vad_enable,        A::vad_disable,
                                A::dtmf_reject_enable, A::sd_params,         A::sd_enable,
                                A::sd_disable,         A::rx_gain,           A::tone_filter,
                                A::selcal};

}  // namespace

bool RtpSlot::SetVoiceProcessing(const TERM::RtpRadioRequest& radio) {
    const auto delay = [](const ASN1::INTEGER* value) {
        return value ? static_cast<unsigned>(value->getValue()) : 0u;
    };
    if ((radio.has_rx_delay() || radio.has_tx_delay() || radio.has_selcal_delay()) &&
        !configureDelays(delay(radio.get_rx_delay()), delay(radio.get_tx_delay()),
                         delay(radio.get_selcal_delay())))
        return false;
    const ASN1::BOOLEAN* bss = radio.get_bss_enable();
    const ASN1::BOOLEAN* ng = radio.get_ng_enable();
    return (!bss || enableBSS(bss->getValue())) && (!ng || enableNG(ng->getValue()));
}

bool RtpSlot::ReceiverIoctl(const LGCP::IoctlParams& params) {
    return kRtpIoctls.Apply(*this, *this, params);
}

int RtpSlot::translate_payload(LGCP::CodecMode::NamedNumber mode) const {
    if (mode == LGCP::CodecMode::alaw) return kPayloadAlaw;
    if (mode == LGCP::CodecMode::ulaw) return kPayloadUlaw;
    return lowBitRate_;
}

bool RtpSlot::ChangeCodec(uint16_t rtp::rtp_connection_params::*field,
                          const LGCP::CodecMode& mode) {
    PutHeader(std::clog);
    std::clog << "do restart RTP session (change tx payload):" << mode << std::endl;
    const int payload = translate_payload(mode.getValue());
    if (payload == params_.*field) {
        PutHeader(std::clog);
        std::clog << " - Nothing to do" << std::endl;
        return true;
    }
    const rtp::rtp_connection_params previous = params_;
    params_.*field = static_cast<uint16_t>(payload);
    // A wired slot whose new session the driver gave no input carries no
    // voice: the change failed. Where the squelch switches the input, the
    // radio asks again itself.
    if (restart() && (followsSquelch_ || source() == nullptr || inputOn_)) {
        PutHeader(std::clog);
        std::clog << " - OK" << std::endl;
        return true;
    }
    PutHeader(std::cerr);
    std::cerr << "fail to restart RTP session!" << std::endl;
    // The old session went with the attempt: begin it again as it was, so
    // that the slot keeps its stream and the same request is tried afresh.
    ResumeWith(previous);
    return false;
}

bool RtpSlot::ResumeWith(const rtp::rtp_connection_params& params) {
    params_ = params;
    if (restart()) return true;
    PutHeader(std::cerr);
    std::cerr << "fail to resume RTP session, the slot has no stream" << std::endl;
    LoseSession();
    return false;
}

bool RtpSlot::restart() {
    // Not the old session's input: a disconnect may have found its
    // input-off refused.
    const bool input = InputWanted();
    // The event holds a duplicate of the old session: it must go too, or
    // the driver keeps the session (and its channel).
    readEvent_.Release();
    session_.close();
    if (!Begin()) return false;
    // The new session begins with its input off and without packet
    // detection: the input goes on again where it is wanted, and detection
    // stays set; what the driver refuses is owed.
    inputOn_ = pdSet_ = false;
    if (input) SwitchInput(true);
    if (pdTimeout_) pdSet_ = SetPacketDetection(*pdTimeout_);
    if (Owes()) owed_.owe();
    return true;
}

bool RtpSlot::SettleInput() {
    owed_.settle();
    return !InputOwed();
}

bool RtpSlot::Settle() {
    if (!has_session()) return true;
    if (InputOwed()) SwitchInput(InputWanted());
    if (pdTimeout_ && !pdSet_) pdSet_ = SetPacketDetection(*pdTimeout_);
    return !Owes();
}

bool RtpSlot::Begin() {
    rtp::rtp_channel_info info{channel_, -1, -1, channelWord_};
    const char* failure = nullptr;
    session_ = BeginRtpSession(params_, info, failure);
    if (!session_) return false;
    return WatchSession();
}

// A session the loop cannot watch (no descriptor left) would never be read:
// it is closed, as one that did not begin.
bool RtpSlot::WatchSession() {
    if (readEvent_.Schedule(session_, POLLIN)) return true;
    const int error = errno;
    PutHeader(std::cerr);
    std::cerr << "RTP session watch fail: " << std::strerror(error) << std::endl;
    session_.close();
    return false;
}

Fd BeginRtpSession(rtp::rtp_connection_params params, rtp::rtp_channel_info& info,
                   const char*& failure) {
    failure = nullptr;
    Fd device(board::open(GetRtpDevName(), O_RDONLY | O_CLOEXEC));
    if (!device) return Fd();
    if (board::ioctl(device.get(), rtp::kBeginSession, &params) < 0) {
        failure = "begin session fail !!! ";
        return Fd();
    }
    if (board::ioctl(device.get(), rtp::kAddChannel, &info) < 0) {
        failure = "add channel fail !!!";
        return Fd();
    }
    return device;
}

// ---- Packet detection

bool RtpSlot::enablePD(const LGCP::PDParams& params) {
    const int32_t timeout = params.get_timeout().getValue();
    if (!SetPacketDetection(timeout)) return false;
    pdTimeout_ = timeout;
    pdSet_ = true;
    return true;
}

bool RtpSlot::SetPacketDetection(int32_t timeout) {
    rtp::rtp_event event{};
    event.type = rtp::kPacketDetection;
    event.timeout = timeout;
    event.timeout_copy = event.timeout;
    if (board::ioctl(session_.get(), rtp::kSetPacketDetection, &event) < 0) {
        const int error = errno;
        PutHeader(std::cerr);
        std::cerr << "RTP SET EVENT PD fail: errno=\"" << std::strerror(error) << '"' << std::endl;
        return false;
    }
    PutHeader(std::clog);
    std::clog << "RTP SET EVENT PD timeout=" << event.timeout << std::endl;
    return true;
}

bool RtpSlot::disablePD() {
    pdTimeout_.reset();
    pdSet_ = false;
    int32_t reset = rtp::kResetValue;
    if (board::ioctl(session_.get(), rtp::kResetPacketDetection, &reset) < 0) {
        const int error = errno;
        PutHeader(std::cerr);
        std::cerr << "RTP RESET EVENT PD fail: errno=\"" << std::strerror(error) << '"'
                  << std::endl;
        return false;
    }
    PutHeader(std::clog);
    std::clog << "RTP RESET EVENT PD" << std::endl;
    return true;
}

// ---- RTCP

void RtpSlot::startRTPC(Fd socket, const sockaddr_in& to) {
    rtcpTo_ = to;
    rtcp_ = std::move(socket);
    RTPC::SDES sdes(params_.ssrc);
    sdes.add(RTPC::SDES::Item::CNAME, kCname);
    sdes.add(RTPC::SDES::Item::EMAIL, kEmail);
    sdes.add(RTPC::SDES::Item::PHONE, kPhone);
    send(sdes);
}

ssize_t RtpSlot::send(const RTPC::Msg& message) {
    char buf[1024];
    const unsigned length = message.encode(buf, sizeof buf);
    if (length == 0) return 0;
    return ::sendto(rtcp_.get(), buf, length, MSG_DONTWAIT,
                    reinterpret_cast<const sockaddr*>(&rtcpTo_), sizeof rtcpTo_);
}

// ---- Error texts of the RTP library

const char* RTPStrError(int code) {
    struct Text {
        int code;
        const char* text;
    };
    static const Text texts[] = {
        {0, "No error"},
        {0x3000002, "Parameter out of range"},
        {0x3000004, "Memory allocation failed"},
        {0x3000008, "Allocated buffer too small"},
        {0x3000101, "Maximum number of contexts exceeded"},
        {0x3000102, "Context destroyed or never created"},
        {0x3000103, "Socket not open for reading or writing"},
        {0x3000104, "Can't obtain a new socket"},
        {0x3000105, "Can't bind socket"},
        {0x3000106, "Unable to set socket option"},
        {0x3000107, "Unable to write to socket"},
        {0x3000108, "Unable to read from socket"},
        {0x3000109, "Socket does not belong to session"},
        {0x300010a, "Change not allowed during open session"},
        {0x300010b, "Invalid address specified"},
        {0x300010c, "Invalid port specified"},
        {0x300010e, "Unable to close session"},
        {0x300010f, "No such membership info"},
        {0x3000110, "Invalid rtpprofile specified"},
        {0x3000111, "no data to receive at socket"},
        {0x3000112, "Packet looped back"},
        {0x3000113, "CSRC list not yet set"},
        {0x3000114, "2 CSRCs on list have same SSRC"},
        {0x3000115, "Packet has incorrect format"},
        {0x3000116, "Person not session member"},
        {0x3000117, "Person data protected"},
        {0x3000118, "No such sender in current session"},
        {0x3000119, "No such SDES field"},
        {0x300011a, "Encryption / decryption function not set"},
        {0x300011b, "Packet was unsuccessfully decrypted"},
        {0x300011c, "End of iterating list"},
        {0x300011d, "Not allowed to recurse"},
        {0x300011e, "SSRC in use"},
        {0x300011f, "Couldn't get socket name"},
        {0x3000120, "No such contributor"},
        {0x3000121, "CSRC list full"},
        {0x3000122, "Don't send this packet now"},
    };
    for (const Text& t : texts)
        if (t.code == code) return t.text;
    // One buffer for every unknown code: the next such call overwrites it.
    static char unknown[64];
    std::snprintf(unknown, sizeof unknown, "Unknown RTP Error %d", code);
    return unknown;
}
