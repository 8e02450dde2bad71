#include "slots/voice_slots.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <sstream>
#include <utility>

#include "board/paths.h"
#include "runtime/ext_output.h"
#include "slots/voice_factory.h"

namespace {

constexpr const char* kVoiceDir = "/usr/local/voice/";
constexpr unsigned kConnectTimeoutMs = 5000;
constexpr unsigned kFileBuffer = 8192;

// A player waits until the channel has taken the last bytes; a recorder's
// peer needs no such wait.
const ASync::Copy::EventsParams kPlayEvents{POLLIN, POLLOUT, POLLWRNORM};
const ASync::Copy::EventsParams kRecordEvents{POLLIN, POLLOUT, 0};

// A phrase names a file in the voice folder or below it: not an absolute
// path, and no ".." step out of it.
bool inside_voice_folder(const std::string& name) {
    if (name.empty() || name[0] == '/') return false;
    std::istringstream steps(name);
    std::string step;
    while (std::getline(steps, step, '/'))
        if (step == "..") return false;
    return true;
}

}  // namespace

// ---- Players

PlaySlotGeneric::PlaySlotGeneric(Fd channel, int timeslot)
    : timeslot_(timeslot), channel_(std::move(channel)) {
    HoldChannel(timeslot_);
}

void PlaySlotGeneric::PutHeader(std::ostream& os) const {
    os << GetName() << "[" << timeslot_ << "]: ";
}

bool PlaySlotGeneric::IBeforeDestroy() {
    VoiceFactory::instance().OnDestroy(this);
    return true;
}

void PlaySlotGeneric::IForcedRelease() {
    VoiceFactory::instance().OnDestroy(this);
}

PlaySlotNetwork::PlaySlotNetwork(Fd channel, int timeslot,
                                 const LGCP::PlayerParams_network& params)
    : PlaySlotGeneric(std::move(channel), timeslot),
      host_(dhost2str(params.get_host())),
      id_(static_cast<uint32_t>(params.get_id().getValue())) {}

// The connection may fail inside Start: the player is then released and
// has no stream to offer.
bool PlaySlotNetwork::IOnOutputStream() {
    if (state_ == idle) {
        state_ = connecting;
        connector_ = std::make_unique<ASync::Connect>();
        connector_->Bind(&PlaySlotNetwork::OnConnect, this);
        connector_->Start(host_, kConnectTimeoutMs);
    }
    if (state_ == released) return false;
    OnChangeOutputStream(true);
    return timeslot_ >= 0;
}

void PlaySlotNetwork::OnConnect(ASync::Connect::Status::Type status, Fd socket) {
    if (status != ASync::Connect::Status::connected) {
        std::clog << ext::header(this) << "connection to " << host_ << " fail." << std::endl;
        Release();
        return;
    }
    std::clog << ext::header(this) << "connected to " << host_ << "." << std::endl;
    LGCP::IoctlResponse response;
    response.select_startPlaying();
    OnIoctlResponse(response);
    state_ = playing;
    connector_.reset();
    copier_ = std::make_unique<ASync::Copy>();
    copier_->set_events(kPlayEvents);
    copier_->Bind(&PlaySlotNetwork::OnPlayComplete, this);
    const uint8_t id[4] = {uint8_t(id_ >> 24), uint8_t(id_ >> 16), uint8_t(id_ >> 8), uint8_t(id_)};
    if (::send(socket.get(), id, sizeof id, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof id)) {
        const int error = errno;
        std::cerr << ext::header(this) << "fail to send the stream id: " << std::strerror(error)
                  << std::endl;
    }
    copier_->Start(socket, channel_);
}

void PlaySlotNetwork::OnPlayComplete(ASync::Copy::Status::Type status) {
    if (status == ASync::Copy::Status::done)
        std::clog << ext::header(this) << "connection to " << host_ << " closed." << std::endl;
    else
        std::cerr << ext::header(this) << "play failed" << std::endl;
    Release();
}

void PlaySlotNetwork::Release() {
    state_ = released;
    OnChangeOutputStream(false);
    copier_.reset();
    connector_.reset();
    OnAbort(0);
}

PlaySlotFile::PlaySlotFile(Fd channel, int timeslot, const LGCP::PlayerParams_file& params)
    : PlaySlotGeneric(std::move(channel), timeslot),
      repeat_(static_cast<uint32_t>(params.get_repeat().getValue())) {
    for (const ASN1::IA5String& name : params.get_name()) phrases_.push_back(name);
    abort_.Bind(this, &PlaySlotFile::delayed_abort);
}

bool PlaySlotFile::IOnOutputStream() {
    if (!started_) {
        if (!restart()) {
            abort_.Activate();
            return false;
        }
        started_ = true;
    }
    if (released_) return false;  // also when the first phrase failed at once
    OnChangeOutputStream(true);
    return timeslot_ >= 0;
}

bool PlaySlotFile::restart() {
    current_ = 0;
    playedThisRound_ = 0;
    return next_phrase();
}

bool PlaySlotFile::next_phrase() {
    while (current_ < phrases_.size()) {
        const std::string& name = phrases_[current_++];
        file_.close();
        if (!inside_voice_folder(name)) {
            std::cerr << ext::header(this) << "phrase " << ext::quoted(name)
                      << " is not in the voice folder, skipped" << std::endl;
            continue;
        }
        const std::string path = board::path(kVoiceDir + name);
        file_.reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!file_) continue;
        ::lseek(file_.get(), 0, SEEK_SET);
        copier_ = std::make_unique<ASync::Copy>();
        copier_->set_bufsize(kFileBuffer);
        copier_->set_events(kPlayEvents);
        copier_->Bind(&PlaySlotFile::OnPlayComplete, this);
        copier_->Start(file_, channel_);  // may complete (and release) at once
        return true;
    }
    return false;
}

// Repeat N plays the list N times; 0 plays it until the slot goes. A round
// of the list that played nothing ends the play: it would begin again at
// once, on every pass, for ever.
void PlaySlotFile::OnPlayComplete(ASync::Copy::Status::Type status) {
    if (status != ASync::Copy::Status::done) {
        Release();
        return;
    }
    playedThisRound_ += copier_->copied();
    if (next_phrase()) return;
    if (playedThisRound_ == 0 || (repeat_ != 0 && repeat_-- == 1)) {
        Release();
        return;
    }
    if (!restart()) OnAbort(0);
}

void PlaySlotFile::Release() {
    released_ = true;
    OnChangeOutputStream(false);
    copier_.reset();
    OnAbort(0);
}

void PlaySlotFile::delayed_abort() {
    abort_.Deactivate();
    OnAbort(0);
}

// ---- Recorder

RecordSlot::RecordSlot(const std::string& host, int timeslot, Fd channel)
    : timeslot_(timeslot), channel_(std::move(channel)), host_(host) {
    HoldChannel(timeslot);
}

void RecordSlot::PutHeader(std::ostream& os) const {
    os << GetName() << "[" << timeslot_ << "]: ";
}

bool RecordSlot::IOnInputStream() {
    connector_ = std::make_unique<ASync::Connect>();
    connector_->Bind(&RecordSlot::OnConnect, this);
    connector_->Start(host_, kConnectTimeoutMs);
    return true;
}

void RecordSlot::OnConnect(ASync::Connect::Status::Type status, Fd socket) {
    if (status != ASync::Connect::Status::connected) {
        std::clog << ext::header(this) << "connection to " << host_ << " fail." << std::endl;
        StopRecording(LGCP::StopRecordingCause::connectionFail);
        return;
    }
    std::clog << ext::header(this) << "connected to " << host_ << "." << std::endl;
    connector_.reset();
    copier_ = std::make_unique<ASync::Copy>();
    copier_->set_events(kRecordEvents);
    copier_->Bind(&RecordSlot::OnRecordComplete, this);
    copier_->Start(channel_, socket);
}

void RecordSlot::OnRecordComplete(ASync::Copy::Status::Type status) {
    if (status == ASync::Copy::Status::done) {
        std::clog << ext::header(this) << "connection to " << host_ << " closed." << std::endl;
        StopRecording(LGCP::StopRecordingCause::userRequest);
    } else {
        std::cerr << ext::header(this) << "record aborted" << std::endl;
        StopRecording(LGCP::StopRecordingCause::connectionAborted);
    }
}

void RecordSlot::StopRecording(LGCP::StopRecordingCause::NamedNumber cause) {
    copier_.reset();
    connector_.reset();
    LGCP::IoctlResponse response;
    response.set_stopRecording(cause);
    OnIoctlResponse(response);
}

bool RecordSlot::IBeforeDestroy() {
    VoiceFactory::instance().OnDestroy(this);
    return true;
}

void RecordSlot::IForcedRelease() {
    VoiceFactory::instance().OnDestroy(this);
}
