#include "tests/support/fake_snmp_peer.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <stdexcept>

#include "asn1/per_decoder.h"
#include "asn1/per_encoder.h"
#include "tests/support/deadline.h"
#include "tests/support/loopback.h"

namespace test {

FakeSnmpPeer::FakeSnmpPeer(Start start)
    : listener_(start == Start::away ? bind_loopback(port_) : listen_loopback(port_)) {}

void FakeSnmpPeer::come_back() {
    if (::listen(listener_.get(), 8) != 0) throw std::runtime_error("cannot listen");
}

std::string FakeSnmpPeer::host() const { return "127.0.0.1:" + std::to_string(port_); }

std::string FakeSnmpPeer::section(const std::string& name) const {
    return "[snmpagent]\nhost = " + host() + "\nname = " + name + "\n";
}

void FakeSnmpPeer::close() {
    connection_.close();
    reader_ = TpktReader();
}

bool FakeSnmpPeer::send_raw(const std::string& bytes) {
    return connection_ && write_bytes(connection_.get(), bytes);
}

void FakeSnmpPeer::poll() {
    if (!connection_) accept();
    if (connection_) receive();
    if (!connection_) accept();  // the server may already be back
}

void FakeSnmpPeer::accept() {
    connection_.reset(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (connection_) ++connections_;
}

void FakeSnmpPeer::receive() {
    bool closed = false;
    reader_.feed(read_available(connection_.get(), &closed));
    std::string payload;
    while (reader_.next(payload)) {
        MON::Message message;
        ASN1::PERDecoder decoder(payload.data(), payload.data() + payload.size());
        if (!message.accept(decoder) || !message.isStrictlyValid()) {
            ++undecodable_;
            continue;
        }
        messages_.push_back(message);
        answer(message);
    }
    if (closed || reader_.bad()) close();
}

void FakeSnmpPeer::answer(const MON::Message& message) {
    if (!answerPings_ || !is_ping(message)) return;
    MON::Message response;
    response.get_pdu().select_response().select_ping().select_success();
    std::vector<char> octets;
    ASN1::PEREncoder encoder(octets);
    if (response.accept(encoder))
        write_bytes(connection_.get(), tpkt_frame(std::string(octets.begin(), octets.end())));
}

bool FakeSnmpPeer::wait_until(const std::function<bool()>& done, int timeoutMs) {
    Deadline deadline(timeoutMs);
    for (;;) {
        poll();
        if (done()) return true;
        if (deadline.passed()) return false;
        pollfd entries[2] = {{listener_.get(), POLLIN, 0}, {connection_.get(), POLLIN, 0}};
        ::poll(entries, connection_ ? 2 : 1, std::min(deadline.remaining_ms(), 100));
    }
}

bool pump_until(VirtualLoop& loop, const std::vector<FakeSnmpPeer*>& peers,
                const std::function<bool()>& done, unsigned passes) {
    for (unsigned i = 0; i <= passes; ++i) {
        for (FakeSnmpPeer* peer : peers) peer->poll();
        if (done()) return true;
        if (i < passes) loop.pump();
    }
    return false;
}

const MON::Command* command_of(const MON::Message& message) {
    return message.get_pdu().get_command();
}

bool is_ping(const MON::Message& message) {
    const MON::Command* command = command_of(message);
    return command != nullptr && command->is_ping();
}

std::vector<std::string> set_rows(const MON::Message& message) {
    const MON::Command* command = command_of(message);
    return command ? set_rows(*command) : std::vector<std::string>();
}

std::vector<std::string> set_rows(const MON::Command& command) {
    std::vector<std::string> rows;
    const MON::SnmpSetCommands* sets = command.get_snmp_set();
    if (sets == nullptr) return rows;
    for (const MON::SnmpSetCommand& set : sets->get_commands()) {
        const MON::IniName* name = set.get_id().get_name();
        const ASN1::IA5String* oid = set.get_id().get_oid();
        std::string address;
        if (name != nullptr)
            address = name->get_name() + "[" + std::to_string(name->get_index().getValue()) + "]";
        else if (oid != nullptr)
            address = "oid:" + *oid;
        rows.push_back(address + "=" + set.get_value());
    }
    return rows;
}

std::vector<int> set_uniqs(const MON::Message& message) {
    std::vector<int> uniqs;
    const MON::Command* command = command_of(message);
    const MON::SnmpSetCommands* sets = command ? command->get_snmp_set() : nullptr;
    if (sets == nullptr) return uniqs;
    for (const MON::SnmpSetCommand& set : sets->get_commands())
        uniqs.push_back(set.get_uniq().getValue());
    return uniqs;
}

std::vector<std::string> trapsink_hosts(const MON::Message& message) {
    std::vector<std::string> hosts;
    const MON::Command* command = command_of(message);
    const MON::SnmpTrapsinks* sinks = command ? command->get_snmp_trapsink_set() : nullptr;
    if (sinks == nullptr) return hosts;
    for (const MON::SnmpTrapsink& sink : sinks->get_trapsinks()) hosts.push_back(sink.get_host());
    return hosts;
}

std::vector<MON::Message> without_pings(const std::vector<MON::Message>& messages) {
    std::vector<MON::Message> kept;
    for (const MON::Message& message : messages)
        if (!is_ping(message)) kept.push_back(message);
    return kept;
}

}  // namespace test
