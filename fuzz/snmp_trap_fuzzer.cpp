// The SNMPv2c trap builder driven by arbitrary calls: the input chooses the
// calls, their object identifiers (as dotted text through parse_oid, or as
// raw arcs), value types and values. Whatever is asked, nothing is written
// outside the buffer, the free count stays true, and a finished message's
// lengths add up.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "monitoring/snmp_trap.h"

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

unsigned length_at(const unsigned char* header) { return unsigned(header[2]) << 8 | header[3]; }

void check_context(const TrapContext& ctx) {
    check(ctx.remaining <= TRAP_BUFFER_SIZE);
    if (ctx.position != nullptr && ctx.state != TRAP_FINISHED)
        check(unsigned(ctx.position - ctx.buffer) + ctx.remaining == TRAP_BUFFER_SIZE);
    if (ctx.state == TRAP_FINISHED) {
        check(ctx.length <= TRAP_BUFFER_SIZE && ctx.buffer[0] == 0x30);
        check(length_at(ctx.buffer) + 4 == ctx.length);
    }
}

std::vector<unsigned> object_identifier(FuzzedDataProvider& input) {
    std::vector<unsigned> arcs(input.ConsumeIntegralInRange<size_t>(0, 130));
    if (input.ConsumeBool()) {
        const std::string text = input.ConsumeRandomLengthString(160);
        const int max = input.ConsumeIntegralInRange<int>(-1, int(arcs.size()));
        const int n = parse_oid(arcs.data(), max, text.c_str());
        check(n >= 0 && n <= (max > 0 ? max : 0));
        arcs.resize(size_t(n));
    } else {
        for (unsigned& arc : arcs) arc = input.ConsumeIntegral<unsigned>();
    }
    return arcs;
}

void add_binding(TrapContext& ctx, FuzzedDataProvider& input) {
    static const int kTypes[] = {TRAP_INTEGER,   TRAP_BIT_STRING, TRAP_OCTET_STRING, TRAP_NULL,
                                 TRAP_OBJECT_ID, TRAP_IPADDRESS,  TRAP_COUNTER32,    TRAP_GAUGE32,
                                 TRAP_TIMETICKS, TRAP_OPAQUE,     TRAP_NSAPADDRESS,  TRAP_UINTEGER32};
    const std::vector<unsigned> oid = object_identifier(input);
    const int type = input.ConsumeBool() ? input.PickValueInArray(kTypes) : input.ConsumeIntegral<int>();
    // The value lies at the end of a heap block of its own length.
    const std::vector<uint8_t> value = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 600));
    const bool nullValue = input.ConsumeBool();
    const unsigned length = input.ConsumeBool() ? unsigned(value.size())
                                                : input.ConsumeIntegralInRange<unsigned>(0, unsigned(value.size()));
    trap_pack_add(&ctx, oid.data(), unsigned(oid.size()), type, nullValue ? nullptr : value.data(), length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    auto* ctx = new TrapContext();
    snmp_session_seed(ctx, input.ConsumeIntegral<int>());
    while (input.remaining_bytes() > 0) {
        switch (input.ConsumeIntegralInRange<int>(0, 5)) {
            case 0: {
                TrapParams params;
                const std::string community = input.ConsumeBytesAsString(sizeof params.community);
                std::memset(params.community, 'x', sizeof params.community);
                std::memcpy(params.community, community.data(), community.size());
                trap_init(ctx, input.ConsumeBool() ? &params : nullptr);
                check(ctx->requestId > 0 && (ctx->requestId & 1));
                break;
            }
            case 1: trap_pack_begin(ctx); break;
            case 2:
            case 3: add_binding(*ctx, input); break;
            case 4: trap_pack_end(ctx); break;
            default: {
                unsigned arcs[8];
                parse_oid(arcs, 8, input.ConsumeRandomLengthString(200).c_str());
                break;
            }
        }
        check_context(*ctx);
    }
    delete ctx;
    return 0;
}
