#include "tests/support/test_controller.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <stdexcept>

#include "asn1/per_decoder.h"
#include "asn1/per_encoder.h"
#include "link/control_links.h"
#include "link/heartbeat.h"
#include "runtime/inet4_addr.h"
#include "tests/support/loopback.h"

namespace test {

// ---- ControllerInbox

void ControllerInbox::feed(const std::string& bytes) {
    reader_.feed(bytes);
    std::string payload;
    while (reader_.next(payload)) {
        LGCP::Message message;
        if (decode(payload, message))
            received_.push_back(message);
        else
            ++undecodable_;
    }
}

std::optional<LGCP::Message> ControllerInbox::take(
    const std::function<bool(const LGCP::Message&)>& wanted) {
    while (!received_.empty()) {
        LGCP::Message message = received_.front();
        received_.pop_front();
        if (wanted(message)) return message;
    }
    return std::nullopt;
}

// ---- ServerHarness

ServerHarness::ServerHarness() : ServerHarness({&HeartBeatCtl::instance()}) {}

ServerHarness::ServerHarness(const std::vector<CtrlSrv::Service*>& services)
    : port_(free_port()) {
    CtrlSrv::ctrlServer.reset_for_test();
    for (CtrlSrv::Service* service : services) CtrlSrv::ctrlServer.Bind(service);
    CtrlSrv::ctrlServer.Activate(new Control::AcceptorNetCheckConnection(port_));
}

// The services hear their disconnect (and drop their timers) while the loop
// still knows them.
ServerHarness::~ServerHarness() { CtrlSrv::ctrlServer.reset_for_test(); }

bool ServerHarness::serving() const {
    const Control::Service* link = CtrlSrv::ctrlServer.connection();
    return link && link->connected();
}

// ---- TestController

// Without Nagle's wait: a command sent while an earlier one is unanswered
// would otherwise wait for the server's delayed ACK, in real time.
bool TestController::connect() {
    socket_ = connect_loopback(server_.port());
    const int on = 1;
    ::setsockopt(socket_.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    for (unsigned i = 0; i < default_passes; ++i) {
        server_.pump();
        const Control::Service* link = CtrlSrv::ctrlServer.connection();
        if (link && link->connected() && link->peer() == address()) return true;
        if (!collect()) return false;  // refused
    }
    return false;
}

std::string TestController::address() const {
    INet4::Addr local;
    socklen_t length = INet4::Addr::size();
    ::getsockname(socket_.get(), local.sockaddr_ptr(), &length);
    return local.GetString();
}

void TestController::send(const LGCP::Command& command, std::optional<int> seq,
                          std::optional<unsigned> slot) {
    send_raw(command_frame(command, seq, slot));
}

void TestController::send(const LGCP::Message& message) { send_frame(encode(message)); }

void TestController::send_frame(const std::string& payload) { send_raw(tpkt_frame(payload)); }

void TestController::send_raw(const std::string& bytes) {
    if (!write_bytes(socket_.get(), bytes)) throw std::runtime_error("the server does not read");
}

bool TestController::collect() {
    bool closed = false;
    inbox_.feed(read_available(socket_.get(), &closed));
    return !closed;
}

std::optional<LGCP::Message> TestController::receive(unsigned passes) {
    return receive_until([](const LGCP::Message&) { return true; }, passes);
}

std::optional<LGCP::Message> TestController::receive_until(
    const std::function<bool(const LGCP::Message&)>& wanted, unsigned passes) {
    for (unsigned i = 0;; ++i) {
        collect();
        if (auto message = inbox_.take(wanted)) return message;
        if (i == passes) return std::nullopt;
        server_.pump();
    }
}

bool TestController::closed_by_server(unsigned passes) {
    for (unsigned i = 0; i < passes; ++i) {
        if (!collect()) return true;
        server_.pump();
    }
    return !collect();
}

// ---- Builders and readers

LGCP::Command ping() { return command(LGCP::Command::Alternative::ping); }

LGCP::Command command(LGCP::Command::Alternative alternative) {
    LGCP::Command c;
    c.setSelection(static_cast<int>(alternative), nullptr);
    c.createSelection();
    return c;
}

std::string encode(const LGCP::Message& message) {
    std::vector<char> octets;
    ASN1::PEREncoder encoder(octets);
    if (!message.accept(encoder)) throw std::invalid_argument("the message does not encode");
    return std::string(octets.begin(), octets.end());
}

bool decode(const std::string& octets, LGCP::Message& message) {
    ASN1::PERDecoder decoder(octets.data(), octets.data() + octets.size());
    return message.accept(decoder);
}

// Two aligned octets hold any 16-bit offset: they are the first octet that
// differs between the two encodings (the range's high octet) and the next.
std::string encode_beyond(const LGCP::Message& atLowest, const LGCP::Message& atHighest,
                          unsigned offset) {
    std::string low = encode(atLowest);
    const std::string high = encode(atHighest);
    size_t i = 0;
    while (i < low.size() && low[i] == high[i]) ++i;
    if (offset > 0xFFFF || i + 1 >= low.size() || low.size() != high.size() ||
        low.compare(i + 2, std::string::npos, high, i + 2, std::string::npos) != 0)
        throw std::logic_error("no field of two aligned octets");
    low[i] = static_cast<char>(offset >> 8);
    low[i + 1] = static_cast<char>(offset & 0xFF);
    return low;
}

// A slot of 0..1023 travels as two aligned octets.
std::string encode_with_slot(LGCP::Message message, unsigned slot) {
    message.set_slot(0);
    LGCP::Message highest = message;
    highest.set_slot(CtrlSrv::Server::max_slot);
    return encode_beyond(message, highest, slot);
}

std::string command_frame(const LGCP::Command& command, std::optional<int> seq,
                          std::optional<unsigned> slot) {
    LGCP::Message message;
    if (seq) message.set_seq(*seq);
    message.get_pdu().set_command(command);
    if (slot && *slot > CtrlSrv::Server::max_slot) return tpkt_frame(encode_with_slot(message, *slot));
    if (slot) message.set_slot(*slot);
    return tpkt_frame(encode(message));
}

std::optional<int> seq_of(const LGCP::Message& message) {
    if (!message.has_seq()) return std::nullopt;
    return message.get_seq()->getValue();
}

std::optional<unsigned> slot_of(const LGCP::Message& message) {
    if (!message.has_slot()) return std::nullopt;
    return message.get_slot()->getValue();
}

bool is_response(const LGCP::Message& message) { return message.get_pdu().is_response(); }

bool is_signal(const LGCP::Message& message) { return message.get_pdu().is_signal(); }

bool is_success(const LGCP::Message& message) {
    const LGCP::Response* response = message.get_pdu().get_response();
    return response && response->is_success();
}

std::optional<LGCP::ErrorCause::NamedNumber> error_of(const LGCP::Message& message) {
    const LGCP::Response* response = message.get_pdu().get_response();
    if (!response || !response->is_error()) return std::nullopt;
    return response->get_error()->getValue();
}

}  // namespace test
