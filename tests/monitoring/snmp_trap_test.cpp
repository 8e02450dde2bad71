// Known answers of the SNMPv2c trap builder and its BER writer (also on the
// board's own build, big-endian), and its refusals: a failing call writes
// nothing past the room it was given.
#include <gtest/gtest.h>

#include <time.h>

#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "monitoring/snmp_trap.h"
#include "tests/support/bytes.h"

namespace {

using test::hex_text;

// Runs one writer call on a heap buffer of exactly `room` bytes, so that the
// address sanitizer sees any write past it. The written bytes in hex, or
// "fail".
using Writer = std::function<unsigned char*(unsigned char*, unsigned*)>;

std::string written(const Writer& write, unsigned room = 64) {
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[room ? room : 1]);
    unsigned left = room;
    unsigned char* end = write(buffer.get(), &left);
    if (end == nullptr) return "fail";
    EXPECT_EQ(room - left, unsigned(end - buffer.get())) << "the free count follows the writes";
    return hex_text(buffer.get(), size_t(end - buffer.get()));
}

// Every room short of what the call needs makes it fail.
void fails_in_every_smaller_room(const Writer& write, const std::string& hex) {
    const unsigned needed = unsigned(test::hex_bytes(hex).size());
    for (unsigned room = 0; room < needed; ++room) EXPECT_EQ("fail", written(write, room)) << room;
}

Writer integer(int value) {
    return [value](unsigned char* p, unsigned* left) {
        return asn_build_int(p, left, TRAP_INTEGER, &value, sizeof value);
    };
}
Writer counter(unsigned value) {
    return [value](unsigned char* p, unsigned* left) {
        return asn_build_unsigned_int(p, left, TRAP_COUNTER32, &value, sizeof value);
    };
}
Writer objid(std::vector<unsigned> arcs) {
    return [arcs](unsigned char* p, unsigned* left) {
        return asn_build_objid(p, left, TRAP_OBJECT_ID, arcs.data(), unsigned(arcs.size()));
    };
}
Writer length(unsigned n) {
    return [n](unsigned char* p, unsigned* left) { return asn_build_length(p, left, n); };
}

TEST(BerWriter, WritesKnownAnswers) {
    struct Case {
        const char* what;
        Writer write;
        const char* hex;
    };
    const unsigned char text[] = {'a', 'b'};
    std::vector<unsigned> many(128, 1), tooMany(129, 1);
    const Case cases[] = {
        {"INTEGER 127", integer(127), "02 01 7F"},
        {"INTEGER 128", integer(128), "02 02 00 80"},
        {"INTEGER -1", integer(-1), "02 01 FF"},
        {"INTEGER max", integer(INT_MAX), "02 04 7F FF FF FF"},
        {"INTEGER min", integer(INT_MIN), "02 04 80 00 00 00"},
        {"Counter32 0", counter(0), "41 01 00"},
        {"Counter32 top bit", counter(0x80000000u), "41 05 00 80 00 00 00"},
        {"OID 1.3.6.1", objid({1, 3, 6, 1}), "06 03 2B 06 01"},
        {"OID 1.39", objid({1, 39}), "06 01 4F"},
        {"OID 1.40", objid({1, 40}), "fail"},
        {"OID 0.40", objid({0, 40}), "fail"},
        {"OID 3.0", objid({3, 0}), "fail"},
        {"OID 2.999", objid({2, 999}), "06 02 88 37"},
        {"OID 2.max", objid({2, UINT_MAX}), "fail"},
        {"OID of one arc", objid({2}), "06 01 50"},
        {"OID empty", objid({}), "06 01 00"},
        {"OID big arcs", objid({1, 3, 16383, 16384, 0xFFFFFFFFu}),
         "06 0B 2B FF 7F 81 80 00 8F FF FF FF 7F"},
        {"OID 128 arcs", objid(many), nullptr},
        {"OID 129 arcs", objid(tooMany), "fail"},
        {"length 128", length(128), "81 80"},
        {"length 256", length(256), "82 01 00"},
        {"length 65536", length(65536), "fail"},
        {"sequence", [](unsigned char* p, unsigned* l) { return asn_build_sequence(p, l, 0x30, 5); },
         "30 82 00 05"},
        {"string", [&](unsigned char* p, unsigned* l) { return asn_build_string(p, l, 4, text, 2); },
         "04 02 61 62"},
        {"string of zeros", [](unsigned char* p, unsigned* l) { return asn_build_string(p, l, 4, nullptr, 2); },
         "04 02 00 00"},
        {"empty bit string", [&](unsigned char* p, unsigned* l) { return asn_build_bitstring(p, l, 3, text, 0); },
         "fail"},
        {"null", [](unsigned char* p, unsigned* l) { return asn_build_null(p, l, 5); }, "05 00"},
        {"size other than 4",
         [](unsigned char* p, unsigned* l) {
             int v = 1;
             return asn_build_int(p, l, 2, &v, 2);
         },
         "fail"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.hex == nullptr) {
            EXPECT_NE("fail", written(c.write, 1024));
            continue;
        }
        EXPECT_EQ(c.hex, written(c.write));
        if (std::string(c.hex) != "fail") fails_in_every_smaller_room(c.write, c.hex);
    }
    EXPECT_EQ("fail", written([](unsigned char*, unsigned* l) { return asn_build_null(nullptr, l, 5); }));
}

class Trap : public ::testing::Test {
protected:
    std::string message() const { return hex_text(ctx.buffer, ctx.length); }
    int add_integer(int value) {
        const unsigned oid[] = {1, 3, 6, 1, 4, 1, 9};
        return trap_pack_add(&ctx, oid, 7, TRAP_INTEGER, &value, sizeof value);
    }

    TrapContext ctx{};
};

TEST_F(Trap, WithoutBindingsFromSeedZeroIsThirtyFourBytes) {
    snmp_session_seed(&ctx, 0);
    trap_init(&ctx, nullptr);
    ASSERT_EQ(0, trap_pack_begin(&ctx));
    ASSERT_EQ(0, trap_pack_end(&ctx));
    EXPECT_EQ(991873, ctx.requestId);
    EXPECT_EQ("30 82 00 1E 02 01 01 04 06 71 75 65 6C 6D 6F A7 82 00 0F 02 03 0F 22 81 02 01 00 "
              "02 01 00 30 82 00 00",
              message());
}

TEST_F(Trap, StepsItsRequestIdThroughOddPositiveNumbers) {
    snmp_session_seed(&ctx, 0);
    for (int expected : {991873, 1288378715, 595532581}) {
        trap_init(&ctx, nullptr);
        EXPECT_EQ(expected, ctx.requestId);
    }
    EXPECT_EQ(0, trap_init(nullptr, nullptr));
    EXPECT_EQ(0, snmp_session_seed(nullptr, 5));
}

TEST_F(Trap, TakesAtMost31CharactersOfItsCommunity) {
    TrapParams params;
    std::memset(params.community, 'c', sizeof params.community);
    trap_init(&ctx, &params);
    ASSERT_EQ(0, trap_pack_begin(&ctx));
    ASSERT_EQ(0, trap_pack_end(&ctx));
    EXPECT_EQ(std::string(31, 'c'), ctx.community);
    EXPECT_EQ("04 1F 63", hex_text(ctx.buffer + 7, 3));
}

TEST_F(Trap, BuildsOnlyInItsOrder) {
    const unsigned oid[] = {1, 3};
    struct Step {
        const char* what;
        std::function<int()> call;
        int result;
        int state;
    };
    const Step steps[] = {
        {"begin before init", [&] { return trap_pack_begin(&ctx); }, -1, TRAP_INITIALISED},
        {"init", [&] { return trap_init(&ctx, nullptr); }, 0, TRAP_INITIALISED},
        {"add before begin", [&] { return add_integer(1); }, -1, TRAP_INITIALISED},
        {"end before begin", [&] { return trap_pack_end(&ctx); }, -1, TRAP_INITIALISED},
        {"begin", [&] { return trap_pack_begin(&ctx); }, 0, TRAP_HEADER_WRITTEN},
        {"begin again", [&] { return trap_pack_begin(&ctx); }, -1, TRAP_HEADER_WRITTEN},
        {"add", [&] { return add_integer(1); }, 0, TRAP_BINDING_WRITTEN},
        {"add a bad one", [&] { return trap_pack_add(&ctx, oid, 2, 99, nullptr, 0); }, -1,
         TRAP_BINDING_WRITTEN},
        {"add after a failure", [&] { return add_integer(2); }, -1, TRAP_BINDING_WRITTEN},
        {"end after a failure", [&] { return trap_pack_end(&ctx); }, -1, TRAP_BINDING_WRITTEN},
        {"init again", [&] { return trap_init(&ctx, nullptr); }, 0, TRAP_INITIALISED},
        {"begin anew", [&] { return trap_pack_begin(&ctx); }, 0, TRAP_HEADER_WRITTEN},
        {"end", [&] { return trap_pack_end(&ctx); }, 0, TRAP_FINISHED},
        {"add after end", [&] { return add_integer(3); }, -1, TRAP_FINISHED},
        {"end again", [&] { return trap_pack_end(&ctx); }, -1, TRAP_FINISHED},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(s.result, s.call()) << s.what;
        EXPECT_EQ(s.state, ctx.state) << s.what;
    }
    EXPECT_EQ(-1, trap_pack_begin(nullptr));
    EXPECT_EQ(-1, trap_pack_add(nullptr, oid, 2, TRAP_NULL, nullptr, 0));
    EXPECT_EQ(-1, trap_pack_end(nullptr));
}

TEST_F(Trap, StopsAtItsBufferWhenFilled) {
    trap_init(&ctx, nullptr);
    ASSERT_EQ(0, trap_pack_begin(&ctx));
    const unsigned oid[] = {1, 3, 6, 1, 4, 1, 9, 1};
    const std::string value(100, 'v');
    const TrapContext before = ctx;
    int added = 0;
    while (trap_pack_add(&ctx, oid, 8, TRAP_OCTET_STRING, value.data(), unsigned(value.size())) == 0) {
        ++added;
        ASSERT_EQ(unsigned(TRAP_BUFFER_SIZE), unsigned(ctx.position - ctx.buffer) + ctx.remaining);
    }
    EXPECT_EQ(17, added) << "bindings of 115 bytes after a 34-byte header";
    EXPECT_LE(ctx.remaining, unsigned(TRAP_BUFFER_SIZE));
    EXPECT_EQ(before.afterMessageHeader, ctx.afterMessageHeader) << "nothing behind the buffer moved";
    EXPECT_EQ(before.afterBindingsHeader, ctx.afterBindingsHeader);
    EXPECT_EQ(-1, trap_pack_end(&ctx));
}

TEST(TrapHelpers, ParseDottedObjectIdentifiers) {
    struct Case {
        const char* text;
        int max;
        std::vector<unsigned> arcs;
    };
    const std::string longText = std::string(126, '1') + ".2.3";
    const Case cases[] = {
        {"1.3.6.1.4.1", 16, {1, 3, 6, 1, 4, 1}},
        {"1.3.6.1.4.1", 3, {1, 3, 6}},
        {".1..3.", 16, {1, 3}},
        {"1.x7.2", 16, {1, 0, 2}},
        {"99999999999.1", 16, {UINT_MAX, 1}},
        {longText.c_str(), 16, {UINT_MAX}},
        {"1.3", 0, {}},
        {nullptr, 16, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        unsigned arcs[16] = {};
        const int n = parse_oid(arcs, c.max, c.text);
        EXPECT_EQ(c.arcs, std::vector<unsigned>(arcs, arcs + std::max(n, 0)));
    }
    EXPECT_EQ(0, parse_oid(nullptr, 4, "1.3"));
}

timespec bootClockNow;
int test_boot_clock(timespec* now) {
    *now = bootClockNow;
    return 0;
}
int failing_boot_clock(timespec*) { return -1; }

// The seconds and their hundredths come from one reading of the boot clock,
// so the count never steps back where a second turns (as the seconds of one
// clock with the hundredths of another would).
TEST(TrapHelpers, CountUptimeInHundredthsThatNeverStepBack) {
    trap_set_boot_clock(test_boot_clock);
    const std::pair<timespec, unsigned> readings[] = {
        {{10, 989999999}, 1098},
        {{10, 999999999}, 1099},
        {{11, 0}, 1100},
        {{11, 10000000}, 1101},
        {{42949672, 950000000}, 4294967295u},
        {{42949672, 960000000}, 0},  // TimeTicks wrap after 497 days
    };
    for (const auto& [now, hundredths] : readings) {
        bootClockNow = now;
        EXPECT_EQ(hundredths, get_uptime()) << now.tv_sec << " s " << now.tv_nsec << " ns";
    }
    trap_set_boot_clock(failing_boot_clock);
    EXPECT_EQ(0u, get_uptime());

    trap_set_boot_clock(nullptr);
    timespec boot;
    clock_gettime(CLOCK_BOOTTIME, &boot);
    const unsigned uptime = get_uptime();
    EXPECT_LE(unsigned(boot.tv_sec * 100), uptime);
    EXPECT_GE(unsigned(boot.tv_sec * 100 + 200), uptime);
}

}  // namespace
