#include "link/ctrl_server.h"

#include <algorithm>
#include <iostream>
#include <iterator>
#include <vector>

#include "asn1/coder_env.h"
#include "asn1/per_decoder.h"
#include "runtime/ext_output.h"

namespace CtrlSrv {

Server ctrlServer;

namespace {

const char* const kNotBound = "CtrlSrv::Service error! service not connected to server.";

// Every message of the controller link is one aligned-PER encoding.
// `laterVersion`: the decoding stopped at an alternative of a later protocol
// version, anywhere in the command (the command, the kind of slot it
// creates, a kind deep inside it), which the decoder skipped whole; the
// envelope before it is good.
bool decode_message(const char* data, int length, LGCP::Message& message, bool& laterVersion) {
    ASN1::PERDecoder decoder(data, data + length);
    const bool decoded = message.accept(decoder);
    laterVersion = decoder.leftChoiceUnknown();
    return decoded;
}

bool encode_message(const LGCP::Message& message, std::vector<char>& octets) {
    ASN1::CoderEnv env(ASN1::CoderEnv::AlignedPER);
    return ASN1::encode(message, &env, std::back_inserter(octets));
}

}  // namespace

// ---- Service

bool Service::CheckServer() const {
    if (server_) return true;
    std::cerr << kNotBound << std::endl;
    return false;
}

void Service::Success() {
    if (CheckServer()) server_->Success();
}

void Service::Error(LGCP::ErrorCause::NamedNumber cause) {
    if (CheckServer()) server_->Error(cause);
}

Seq Service::delayResponse() { return CheckServer() ? server_->delayResponse() : Seq(); }

void Service::delayedSuccess(unsigned slot, Seq seq) {
    if (CheckServer()) server_->delayedSuccess(slot, seq);
}

void Service::OfferSignal(const LGCP::Signal& signal) {
    if (!server_) return;
    for (Service* other : server_->services())
        if (other != this) other->OnSignal(signal);
}

void Service::SendSignal(const LGCP::Signal& signal) {
    if (!CheckServer()) return;
    OfferSignal(signal);
    server_->SendSignal(signal);
}

void Service::SendSignal(unsigned slot, const LGCP::Signal& signal) {
    if (!CheckServer()) return;
    OfferSignal(signal);
    server_->SendSignal(slot, signal);
}

unsigned Service::GetSlot() const { return CheckServer() ? server_->GetSlot() : Server::no_slot; }

bool Service::IsSlotPresent() const { return CheckServer() && server_->IsSlotPresent(); }

bool Service::CheckServerConnection(bool& connected) const {
    return server_ && server_->CheckServerConnection(connected);
}

// ---- Server: the link

Server::~Server() {
    Deactivate();
    avgStatTimer_.reset();
    services_.clear();
}

void Server::Bind(Service* service) {
    services_.push_back(service);
    service->server_ = this;
}

bool Server::Activate(Control::Service* link) {
    Deactivate();
    connection_ = link;
    connection_->service_name("server");
    connection_->Bind(this);
    return connection_->Activate();
}

void Server::Deactivate() {
    if (!connection_) return;
    connection_->Deactivate();
    OnDisconnect();
    connection_->UnBind();
    delete connection_;
    connection_ = nullptr;
}

void Server::reset_for_test() {
    Deactivate();
    services_.clear();
    seqPresent_ = false;
    lastSeq_ = 0;
    currentSlot_ = no_slot;
    answer_ = Answer::None;
    avgStatTimer_.reset();
    undecodable_ = LogThrottle();
}

bool Server::CheckServerConnection(bool& connected) const {
    if (!connection_) return false;
    connected = connection_->connected();
    return true;
}

void Server::OnHeartbeatTimeout() {
    if (connection_) connection_->Disconnect();
}

void Server::PutHeader(std::ostream& os) const {
    if (!connection_)
        os << "ctrl [null]: ";
    else if (connection_->connected())
        os << "ctrl [" << connection_->peer() << "]: ";
    else
        os << "ctrl [not connected]: ";
}

void Server::OnConnect() {
    std::clog << ext::header(this) << "controller connect." << std::endl;
    for (Service* service : services_) service->OnConnect();
    avgStatTimer_.set(avg_stat_ms, &Server::OnUpdateAvgStat, this);
}

void Server::OnDisconnect() {
    for (Service* service : services_) service->OnDisconnect();
    avgStatTimer_.reset();
}

void Server::OnRefuseConnection() {
    for (Service* service : services_) service->OnRefuseConnection();
}

// ---- Server: the road of one command

void Server::OnMessage(const char* data, int length) {
    LGCP::Message message;
    bool laterVersion = false;
    const bool decoded = decode_message(data, length, message, laterVersion);
    if (decoded || laterVersion)
        Dispatch(message, decoded);
    else
        DecodeFailed(data, length);
    currentSlot_ = no_slot;
}

void Server::DecodeFailed(const char* data, int length) {
    if (!undecodable_.admit()) return;
    const size_t size = static_cast<size_t>(length);
    std::cerr << ext::header(this) << "receive fail: decode error!" << undecodable_ << std::endl
              << " msg: " << ext::OutBufInHex(data, std::min(size, dumped_octets));
    if (size > dumped_octets) std::cerr << "... (" << size << " octets)";
    std::cerr << std::endl;
}

void Server::Dispatch(const LGCP::Message& message, bool knownCommand) {
    answer_ = Answer::None;
    seqPresent_ = message.has_seq();
    if (seqPresent_) lastSeq_ = message.get_seq()->getValue();

    const LGCP::Command* command = message.get_pdu().get_command();
    if (!command) return Error(LGCP::ErrorCause::unexpectedMsgType);

    currentSlot_ = message.has_slot() ? message.get_slot()->getValue() : no_slot;
    // The decoder lets a slot above the range through, for this answer.
    if (currentSlot_ != no_slot && currentSlot_ > max_slot) {
        currentSlot_ = no_slot;
        return Error(LGCP::ErrorCause::invalidSlot);
    }
    if (!knownCommand || !Offer(*command)) return Error(LGCP::ErrorCause::unexpectedMsgType);
    if (answer_ == Answer::None) {
        std::cerr << ext::header(this) << "software error: server do NOT send ack!!!" << std::endl;
        Error(LGCP::ErrorCause::internal);
    }
}

bool Server::Offer(const LGCP::Command& command) {
    for (Service* service : services_)
        if (service->OnCommand(command)) return true;
    return false;
}

// ---- Server: answers and signals

LGCP::Message Server::Reply() const {
    LGCP::Message reply;
    if (seqPresent_) reply.set_seq(lastSeq_);
    if (currentSlot_ != no_slot) reply.set_slot(currentSlot_);
    return reply;
}

void Server::Success() {
    LGCP::Message reply = Reply();
    reply.get_pdu().select_response().select_success();
    SendAnswer(reply);
}

void Server::Error(LGCP::ErrorCause::NamedNumber cause) {
    LGCP::Message reply = Reply();
    reply.get_pdu().select_response().set_error(cause);
    SendAnswer(reply);
}

// Once the answer is promised for later, only delayedSuccess sends it: an
// immediate one as well would give the controller two answers.
void Server::SendAnswer(const LGCP::Message& reply) {
    if (answer_ != Answer::None) {
        std::cerr << ext::header(this)
                  << (answer_ == Answer::Sent
                          ? "software error: second answer to one command suppressed!!!"
                          : "software error: immediate answer to a delayed command suppressed!!!")
                  << std::endl;
        return;
    }
    answer_ = Answer::Sent;
    SendOrFallBack(reply);
}

void Server::SendOrFallBack(const LGCP::Message& reply) {
    if (SendMsg(reply)) return;
    LGCP::Message internal;
    if (reply.has_seq()) internal.set_seq(reply.get_seq()->getValue());
    if (reply.has_slot() && reply.get_slot()->getValue() <= max_slot)
        internal.set_slot(reply.get_slot()->getValue());
    internal.get_pdu().select_response().set_error(LGCP::ErrorCause::internal);
    SendMsg(internal);
}

Seq Server::delayResponse() {
    if (answer_ == Answer::None) answer_ = Answer::Delayed;
    Seq seq;
    seq.present = seqPresent_;
    seq.value = seqPresent_ ? lastSeq_ : 0;
    return seq;
}

void Server::delayedSuccess(unsigned slot, Seq seq) {
    LGCP::Message reply;
    if (seq.present) reply.set_seq(seq.value);
    reply.set_slot(slot);
    reply.get_pdu().select_response().select_success();
    SendOrFallBack(reply);
}

void Server::SendSignal(const LGCP::Signal& signal) {
    LGCP::Message message;
    if (currentSlot_ != no_slot) message.set_slot(currentSlot_);
    message.get_pdu().set_signal(signal);
    SendMsg(message);
}

void Server::SendSignal(unsigned slot, const LGCP::Signal& signal) {
    LGCP::Message message;
    message.set_slot(slot);
    message.get_pdu().set_signal(signal);
    SendMsg(message);
}

bool Server::SendMsg(const LGCP::Message& message) {
    std::vector<char> octets;
    octets.reserve(200);
    if (!encode_message(message, octets)) {
        std::cerr << ext::header(this) << "send fail: encode error!" << message << std::endl;
        return false;
    }
    if (!connection_) {
        std::cerr << ext::header(this) << "send fail: Service not attached!" << std::endl;
        return true;
    }
    connection_->Send(octets.data(), static_cast<int>(octets.size()));
    return true;
}

}  // namespace CtrlSrv
