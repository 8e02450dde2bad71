// The SNMPv2c trap builder. Written against the C library alone, so that
// it stays a module of its own.
#include "monitoring/snmp_trap.h"

#include <stdint.h>
#include <string.h>
#include <time.h>

namespace {

const unsigned char kSequence = 0x30;
const unsigned kSequenceHeader = 4;
const char kDefaultCommunity[] = "quelmo";

// Bytes of a BER length.
unsigned length_size(unsigned length) {
    if (length < 0x80) return 1;
    if (length <= 0xff) return 2;
    return 3;
}

// Bytes of one object-identifier sub-identifier in base 128.
unsigned subid_size(uint32_t subid) {
    if (subid < 0x80) return 1;
    if (subid < 0x4000) return 2;
    if (subid < 0x200000) return 3;
    if (subid < 0x10000000) return 4;
    return 5;
}

unsigned char* put_subid(unsigned char* data, uint32_t subid) {
    for (unsigned n = subid_size(subid); n > 1; --n)
        *data++ = static_cast<unsigned char>(0x80 | ((subid >> (7 * (n - 1))) & 0x7f));
    *data++ = static_cast<unsigned char>(subid & 0x7f);
    return data;
}

// The sub-identifiers of an object identifier: the first two arcs make one.
// False when X.690 cannot encode the arcs (a first arc above 2, a second
// above 39 under 0 or 1, more than 128 arcs).
bool subids_of(const unsigned* oid, unsigned count, uint32_t* subids, unsigned* n) {
    if (count > TRAP_MAX_OID_ARCS || (count > 0 && oid == nullptr)) return false;
    if (count > 0 && oid[0] > 2) return false;
    if (count < 2) {
        subids[0] = count == 0 ? 0 : oid[0] * 40;
        *n = 1;
        return true;
    }
    const uint32_t limit = oid[0] < 2 ? 39 : UINT32_MAX - 80;
    if (oid[1] > limit) return false;
    subids[0] = oid[0] * 40 + oid[1];
    for (unsigned i = 2; i < count; ++i) subids[i - 1] = oid[i];
    *n = count - 1;
    return true;
}

// The fewest big-endian bytes that keep `value`: a leading byte goes while
// the nine top bits are all zeros (or, for a signed value, all ones).
unsigned minimal_size(uint32_t value, bool signedValue) {
    const uint32_t top9 = 0x1ffu << 23;
    unsigned n = 4;
    while (n > 1 && ((value & top9) == 0 || (signedValue && (value & top9) == top9))) {
        value <<= 8;
        --n;
    }
    return n;
}

unsigned char* put_big_endian(unsigned char* data, uint32_t value, unsigned n) {
    while (n-- > 0) *data++ = static_cast<unsigned char>(value >> (8 * n));
    return data;
}

// Rewrites a 4-byte header kept earlier, now that its content is known.
void fill_sequence(unsigned char* header, unsigned char type, unsigned length) {
    unsigned room = kSequenceHeader;
    asn_build_sequence(header, &room, type, length);
}

// The value of one binding, by its type.
unsigned char* build_value(unsigned char* data, unsigned* remaining, int type, const void* value,
                           unsigned valueLength) {
    const unsigned char tag = static_cast<unsigned char>(type);
    const unsigned char* bytes = static_cast<const unsigned char*>(value);
    switch (type) {
        case TRAP_INTEGER: {
            int v;
            if (value == nullptr || valueLength != sizeof v) return nullptr;
            memcpy(&v, value, sizeof v);
            return asn_build_int(data, remaining, tag, &v, valueLength);
        }
        case TRAP_BIT_STRING:
            return asn_build_bitstring(data, remaining, tag, bytes, valueLength);
        case TRAP_OCTET_STRING:
        case TRAP_IPADDRESS:
        case TRAP_OPAQUE:
        case TRAP_NSAPADDRESS:
            return asn_build_string(data, remaining, tag, bytes, valueLength);
        case TRAP_NULL:
            return asn_build_null(data, remaining, tag);
        case TRAP_OBJECT_ID: {
            unsigned arcs[TRAP_MAX_OID_ARCS];
            const unsigned count = valueLength / sizeof arcs[0];
            if (count > TRAP_MAX_OID_ARCS || (count > 0 && value == nullptr)) return nullptr;
            if (count > 0) memcpy(arcs, value, count * sizeof arcs[0]);
            return asn_build_objid(data, remaining, tag, arcs, count);
        }
        case TRAP_COUNTER32:
        case TRAP_GAUGE32:
        case TRAP_TIMETICKS:
        case TRAP_UINTEGER32: {
            unsigned v;
            if (value == nullptr || valueLength != sizeof v) return nullptr;
            memcpy(&v, value, sizeof v);
            return asn_build_unsigned_int(data, remaining, tag, &v, valueLength);
        }
        default:
            return nullptr;
    }
}

bool building(const TrapContext* ctx) {
    return ctx != nullptr && ctx->position != nullptr &&
           (ctx->state == TRAP_HEADER_WRITTEN || ctx->state == TRAP_BINDING_WRITTEN);
}

}  // namespace

extern "C" {

// ---- The BER writer

unsigned char* asn_build_length(unsigned char* data, unsigned* remaining, unsigned length) {
    if (data == nullptr || remaining == nullptr || length > 0xffff) return nullptr;
    const unsigned n = length_size(length);
    if (*remaining < n) return nullptr;
    if (n == 2) *data++ = 0x81;
    if (n == 3) *data++ = 0x82;
    data = put_big_endian(data, length, n == 1 ? 1 : n - 1);
    *remaining -= n;
    return data;
}

unsigned char* asn_build_header(unsigned char* data, unsigned* remaining, unsigned char type,
                                unsigned length) {
    if (data == nullptr || remaining == nullptr || *remaining < 1) return nullptr;
    unsigned left = *remaining - 1;
    unsigned char* end = asn_build_length(data + 1, &left, length);
    if (end == nullptr) return nullptr;
    data[0] = type;
    *remaining = left;
    return end;
}

unsigned char* _asn_build_header_check(unsigned char* data, unsigned* remaining,
                                       unsigned char type, unsigned length) {
    if (data == nullptr || remaining == nullptr || length > 0xffff) return nullptr;
    if (*remaining < 1 + length_size(length) + length) return nullptr;
    return asn_build_header(data, remaining, type, length);
}

unsigned char* asn_build_int(unsigned char* data, unsigned* remaining, unsigned char type,
                             const int* value, unsigned size) {
    if (value == nullptr || size != 4) return nullptr;
    const uint32_t v = static_cast<uint32_t>(*value);
    const unsigned n = minimal_size(v, true);
    data = _asn_build_header_check(data, remaining, type, n);
    if (data == nullptr) return nullptr;
    *remaining -= n;
    return put_big_endian(data, v, n);
}

// With its top bit set the value needs a leading zero byte to stay positive.
unsigned char* asn_build_unsigned_int(unsigned char* data, unsigned* remaining,
                                      unsigned char type, const unsigned* value, unsigned size) {
    if (value == nullptr || size != 4) return nullptr;
    const uint32_t v = *value;
    const unsigned n = (v & 0x80000000u) ? 5 : minimal_size(v, false);
    data = _asn_build_header_check(data, remaining, type, n);
    if (data == nullptr) return nullptr;
    *remaining -= n;
    if (n == 5) *data++ = 0;
    return put_big_endian(data, v, n == 5 ? 4 : n);
}

// A null value gives zeros.
unsigned char* asn_build_string(unsigned char* data, unsigned* remaining, unsigned char type,
                                const unsigned char* value, unsigned length) {
    data = _asn_build_header_check(data, remaining, type, length);
    if (data == nullptr) return nullptr;
    if (value != nullptr)
        memcpy(data, value, length);
    else
        memset(data, 0, length);
    *remaining -= length;
    return data + length;
}

unsigned char* asn_build_bitstring(unsigned char* data, unsigned* remaining, unsigned char type,
                                   const unsigned char* value, unsigned length) {
    if (value == nullptr || length == 0) return nullptr;
    return asn_build_string(data, remaining, type, value, length);
}

unsigned char* asn_build_null(unsigned char* data, unsigned* remaining, unsigned char type) {
    return _asn_build_header_check(data, remaining, type, 0);
}

unsigned char* asn_build_objid(unsigned char* data, unsigned* remaining, unsigned char type,
                               const unsigned* oid, unsigned count) {
    uint32_t subids[TRAP_MAX_OID_ARCS];
    unsigned n = 0;
    if (!subids_of(oid, count, subids, &n)) return nullptr;
    unsigned length = 0;
    for (unsigned i = 0; i < n; ++i) length += subid_size(subids[i]);
    data = _asn_build_header_check(data, remaining, type, length);
    if (data == nullptr) return nullptr;
    for (unsigned i = 0; i < n; ++i) data = put_subid(data, subids[i]);
    *remaining -= length;
    return data;
}

unsigned char* asn_build_sequence(unsigned char* data, unsigned* remaining, unsigned char type,
                                  unsigned length) {
    if (data == nullptr || remaining == nullptr || *remaining < kSequenceHeader ||
        length > 0xffff)
        return nullptr;
    data[0] = type;
    data[1] = 0x82;
    put_big_endian(data + 2, length, 2);
    *remaining -= kSequenceHeader;
    return data + kSequenceHeader;
}

unsigned char* snmp_build_var_op(unsigned char* data, unsigned* remaining, const unsigned* oid,
                                 unsigned oidLength, int type, const void* value,
                                 unsigned valueLength) {
    unsigned char* header = data;
    data = asn_build_sequence(data, remaining, kSequence, 0);
    unsigned char* content = data;
    data = asn_build_objid(data, remaining, TRAP_OBJECT_ID, oid, oidLength);
    data = data == nullptr ? nullptr : build_value(data, remaining, type, value, valueLength);
    if (data == nullptr) return nullptr;
    fill_sequence(header, kSequence, static_cast<unsigned>(data - content));
    return data;
}

// ---- The trap

int snmp_session_seed(TrapContext* ctx, int seed) {
    if (ctx != nullptr) ctx->requestId = seed;
    return 0;
}

// The request-id steps through odd positive numbers.
int trap_init(TrapContext* ctx, const TrapParams* params) {
    if (ctx == nullptr) return 0;
    ctx->version = 1;
    ctx->pduType = 0xa7;
    ctx->requestId = static_cast<int>(
        ((static_cast<uint32_t>(ctx->requestId) * 850009u + 991873u) & 0x7fffffffu) | 1u);
    ctx->errorStatus = 0;
    ctx->errorIndex = 0;
    memset(ctx->community, 0, sizeof ctx->community);
    if (params != nullptr)
        memcpy(ctx->community, params->community, sizeof ctx->community - 1);
    else
        memcpy(ctx->community, kDefaultCommunity, sizeof kDefaultCommunity);
    memset(ctx->buffer, 0, sizeof ctx->buffer);
    ctx->remaining = sizeof ctx->buffer;
    ctx->length = 0;
    ctx->state = TRAP_INITIALISED;
    ctx->afterMessageHeader = ctx->pduHeader = ctx->afterPduHeader = nullptr;
    ctx->bindingsHeader = ctx->afterBindingsHeader = nullptr;
    ctx->position = ctx->buffer;
    return 0;
}

int trap_pack_begin(TrapContext* ctx) {
    if (ctx == nullptr || ctx->state != TRAP_INITIALISED || ctx->position == nullptr) return -1;
    ctx->state = TRAP_HEADER_WRITTEN;
    unsigned* room = &ctx->remaining;
    unsigned char* p = asn_build_sequence(ctx->position, room, kSequence, 0);
    ctx->afterMessageHeader = p;
    p = asn_build_int(p, room, TRAP_INTEGER, &ctx->version, sizeof ctx->version);
    const unsigned char* community = reinterpret_cast<const unsigned char*>(ctx->community);
    p = asn_build_string(p, room, TRAP_OCTET_STRING, community,
                         static_cast<unsigned>(strnlen(ctx->community, sizeof ctx->community - 1)));
    ctx->pduHeader = p;
    p = asn_build_sequence(p, room, static_cast<unsigned char>(ctx->pduType), 0);
    ctx->afterPduHeader = p;
    p = asn_build_int(p, room, TRAP_INTEGER, &ctx->requestId, sizeof ctx->requestId);
    p = asn_build_int(p, room, TRAP_INTEGER, &ctx->errorStatus, sizeof ctx->errorStatus);
    p = asn_build_int(p, room, TRAP_INTEGER, &ctx->errorIndex, sizeof ctx->errorIndex);
    ctx->bindingsHeader = p;
    p = asn_build_sequence(p, room, kSequence, 0);
    ctx->afterBindingsHeader = p;
    ctx->position = p;
    return p != nullptr ? 0 : -1;
}

int trap_pack_add(TrapContext* ctx, const unsigned* oid, unsigned oidLength, int type,
                  const void* value, unsigned valueLength) {
    if (!building(ctx)) return -1;
    ctx->position =
        snmp_build_var_op(ctx->position, &ctx->remaining, oid, oidLength, type, value, valueLength);
    if (ctx->position == nullptr) return -1;
    ctx->state = TRAP_BINDING_WRITTEN;
    return 0;
}

int trap_pack_end(TrapContext* ctx) {
    if (!building(ctx) || ctx->afterMessageHeader == nullptr || ctx->pduHeader == nullptr ||
        ctx->afterPduHeader == nullptr || ctx->bindingsHeader == nullptr ||
        ctx->afterBindingsHeader == nullptr)
        return -1;
    unsigned char* end = ctx->position;
    fill_sequence(ctx->bindingsHeader, kSequence,
                  static_cast<unsigned>(end - ctx->afterBindingsHeader));
    fill_sequence(ctx->pduHeader, static_cast<unsigned char>(ctx->pduType),
                  static_cast<unsigned>(end - ctx->afterPduHeader));
    fill_sequence(ctx->buffer, kSequence, static_cast<unsigned>(end - ctx->afterMessageHeader));
    ctx->length = static_cast<unsigned>(end - ctx->buffer);
    ctx->state = TRAP_FINISHED;
    return 0;
}

static int read_boot_clock(struct timespec* now) { return clock_gettime(CLOCK_BOOTTIME, now); }

static TrapBootClock bootClock = read_boot_clock;

void trap_set_boot_clock(TrapBootClock clock) { bootClock = clock ? clock : read_boot_clock; }

// Seconds and hundredths from one reading of one clock, so that the ticks
// never step back.
unsigned get_uptime(void) {
    struct timespec now;
    if (bootClock(&now) != 0) return 0;
    return static_cast<unsigned>(static_cast<uint64_t>(now.tv_sec) * 100u +
                                 static_cast<uint64_t>(now.tv_nsec) / 10000000u);
}

// Pieces between dots; empty pieces are skipped, and a piece is read as its
// leading decimal digits (0 without any), saturating as the board's
// strtoul does.
int parse_oid(unsigned* oid, int max, const char* text) {
    if (oid == nullptr || text == nullptr || max <= 0) return 0;
    char copy[128];
    strncpy(copy, text, sizeof copy - 1);
    copy[sizeof copy - 1] = '\0';
    int count = 0;
    const char* p = copy;
    while (*p != '\0' && count < max) {
        if (*p == '.') {
            ++p;
            continue;
        }
        uint64_t arc = 0;
        for (; *p >= '0' && *p <= '9'; ++p) {
            arc = arc * 10 + static_cast<uint64_t>(*p - '0');
            if (arc > UINT32_MAX) arc = UINT32_MAX;
        }
        while (*p != '\0' && *p != '.') ++p;
        oid[count++] = static_cast<unsigned>(arc);
    }
    return count;
}

}  // extern "C"
