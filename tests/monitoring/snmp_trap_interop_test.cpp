// The trap builder's messages as two independent SNMP implementations read
// them: snmptrapd receives one over UDP on loopback, tshark dissects it from
// a capture made by text2pcap. Host lane only; a missing tool skips.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "monitoring/snmp_trap.h"
#include "runtime/fd.h"
#include "tests/support/board_root.h"
#include "tests/support/bytes.h"
#include "tests/support/server_process.h"

namespace {

const std::vector<unsigned> kSysUpTime = {1, 3, 6, 1, 2, 1, 1, 3, 0};
const std::vector<unsigned> kTrapOid = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
const std::vector<unsigned> kColdStart = {1, 3, 6, 1, 6, 3, 1, 1, 5, 1};

std::vector<unsigned> object(unsigned n) { return {1, 3, 6, 1, 4, 1, 99999, 1, n}; }

// sysUpTime.0, snmpTrapOID.0 and a binding of every other kind.
std::vector<uint8_t> build_trap(const char* community, int* requestId) {
    TrapContext ctx{};
    TrapParams params{};
    snprintf(params.community, sizeof params.community, "%s", community);
    snmp_session_seed(&ctx, 7);
    trap_init(&ctx, &params);
    trap_pack_begin(&ctx);
    const unsigned ticks = 12345, counter = 0x80000000u, gauge = 7;
    const int integer = -42;
    const unsigned char address[] = {127, 0, 0, 1}, opaque[] = {1, 2};
    auto add = [&](const std::vector<unsigned>& oid, int type, const void* value, size_t size) {
        EXPECT_EQ(0, trap_pack_add(&ctx, oid.data(), unsigned(oid.size()), type, value, unsigned(size)));
    };
    add(kSysUpTime, TRAP_TIMETICKS, &ticks, 4);
    add(kTrapOid, TRAP_OBJECT_ID, kColdStart.data(), kColdStart.size() * 4);
    add(object(1), TRAP_INTEGER, &integer, 4);
    add(object(2), TRAP_OCTET_STRING, "gateway", 7);
    add(object(3), TRAP_OBJECT_ID, kColdStart.data(), kColdStart.size() * 4);
    add(object(4), TRAP_IPADDRESS, address, 4);
    add(object(5), TRAP_COUNTER32, &counter, 4);
    add(object(6), TRAP_GAUGE32, &gauge, 4);
    add(object(7), TRAP_OPAQUE, opaque, 2);
    add(object(8), TRAP_NULL, nullptr, 0);
    EXPECT_EQ(0, trap_pack_end(&ctx));
    *requestId = ctx.requestId;
    return std::vector<uint8_t>(ctx.buffer, ctx.buffer + ctx.length);
}

// A UDP port on 127.0.0.1 that nobody uses at this moment.
unsigned short free_udp_port() {
    Fd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

void send_udp(unsigned short port, const std::vector<uint8_t>& bytes) {
    Fd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    ASSERT_EQ(ssize_t(bytes.size()), ::sendto(socket.get(), bytes.data(), bytes.size(), 0,
                                              reinterpret_cast<sockaddr*>(&address), sizeof address));
}

// The line of the output that begins with `prefix`, without its end.
std::string line_starting(const std::string& text, const std::string& prefix) {
    const size_t start = text.find(prefix);
    if (start == std::string::npos) return "";
    return text.substr(start, text.find('\n', start) - start);
}

TEST(SnmpTrapInterop, SnmptrapdLogsTheTrapOfItsCommunityOnly) {
    const std::string snmptrapd = test::find_program("snmptrapd");
    if (snmptrapd.empty()) GTEST_SKIP() << "snmptrapd is not installed (scripts/deps.sh test installs it)";
    test::BoardRoot scratch;  // a folder of its own for the daemon's files
    scratch.write_file("/snmptrapd.conf", "authCommunity log quelmo\n");
    const std::string conf = scratch.dir() + "/snmptrapd.conf";
    setenv("SNMP_PERSISTENT_DIR", scratch.dir().c_str(), 1);
    const unsigned short port = free_udp_port();
    test::ServerProcess daemon(snmptrapd, {"-f", "-Lo", "-C", "-c", conf, "-m", "", "-On", "-n",
                                           "-F", "%P|%v\\n", "udp:127.0.0.1:" + std::to_string(port)});
    unsetenv("SNMP_PERSISTENT_DIR");
    ASSERT_TRUE(daemon.wait_for_output("NET-SNMP version")) << daemon.output();

    int requestId = 0;
    send_udp(port, build_trap("other", &requestId));
    send_udp(port, build_trap("quelmo", &requestId));
    const std::string prefix = "TRAP2, SNMP v2c, community ";
    ASSERT_TRUE(daemon.wait_for_output(prefix + "quelmo|")) << daemon.output();
    ASSERT_TRUE(daemon.wait_for_output("NULL")) << daemon.output();
    daemon.signal(SIGTERM);
    daemon.wait_exit();

    EXPECT_EQ(prefix + "quelmo|"
                       ".1.3.6.1.2.1.1.3.0 = Timeticks: (12345) 0:02:03.45\t"
                       ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.6.3.1.1.5.1\t"
                       ".1.3.6.1.4.1.99999.1.1 = INTEGER: -42\t"
                       ".1.3.6.1.4.1.99999.1.2 = STRING: \"gateway\"\t"
                       ".1.3.6.1.4.1.99999.1.3 = OID: .1.3.6.1.6.3.1.1.5.1\t"
                       ".1.3.6.1.4.1.99999.1.4 = IpAddress: 127.0.0.1\t"
                       ".1.3.6.1.4.1.99999.1.5 = Counter32: 2147483648\t"
                       ".1.3.6.1.4.1.99999.1.6 = Gauge32: 7\t"
                       ".1.3.6.1.4.1.99999.1.7 = OPAQUE: 01 02 \t"
                       ".1.3.6.1.4.1.99999.1.8 = NULL",
              line_starting(daemon.out(), prefix));
    EXPECT_EQ(std::string::npos, daemon.out().find(prefix + "other")) << daemon.out();
}

TEST(SnmpTrapInterop, TsharkDissectsTheTrap) {
    const std::string text2pcap = test::find_program("text2pcap");
    const std::string tshark = test::find_program("tshark");
    if (text2pcap.empty() || tshark.empty())
        GTEST_SKIP() << "tshark or text2pcap is not installed (scripts/deps.sh test installs them)";
    int requestId = 0;
    const std::vector<uint8_t> trap = build_trap("quelmo", &requestId);
    test::BoardRoot scratch;  // a folder of its own for the capture
    scratch.write_file("/trap.hex", "0000 " + test::hex_text(trap) + "\n");
    const std::string hex = scratch.dir() + "/trap.hex", pcap = scratch.dir() + "/trap.pcap";
    test::ServerProcess convert(text2pcap, {"-q", "-u", "40000,162", hex, pcap});
    ASSERT_EQ(0, convert.wait_exit()) << convert.output();

    test::ServerProcess dissect(tshark, {"-r", pcap, "-T", "fields", "-E", "separator=|", "-e",
                                         "snmp.version", "-e", "snmp.community", "-e", "snmp.data",
                                         "-e", "snmp.request_id", "-e", "snmp.name", "-e",
                                         "_ws.malformed"});
    ASSERT_EQ(0, dissect.wait_exit(60000)) << dissect.output();
    EXPECT_EQ("1|quelmo|7|" + std::to_string(requestId) +
                  "|1.3.6.1.2.1.1.3.0,1.3.6.1.6.3.1.1.4.1.0,1.3.6.1.4.1.99999.1.1,"
                  "1.3.6.1.4.1.99999.1.2,1.3.6.1.4.1.99999.1.3,1.3.6.1.4.1.99999.1.4,"
                  "1.3.6.1.4.1.99999.1.5,1.3.6.1.4.1.99999.1.6,1.3.6.1.4.1.99999.1.7,"
                  "1.3.6.1.4.1.99999.1.8|\n",
              dissect.out());
}

}  // namespace
