#pragma once
/* Builds one SNMPv2c trap (an SNMPv2-Trap-PDU in a community message, BER)
 * into a fixed buffer, with the BER writer it uses. Plain functions with C
 * linkage that need nothing but the C library; the server itself sends no
 * traps (its agents do).
 *
 *   TrapContext ctx = {0};
 *   snmp_session_seed(&ctx, seed);
 *   trap_init(&ctx, NULL);                 community "quelmo"
 *   trap_pack_begin(&ctx);
 *   trap_pack_add(&ctx, sysUpTime, 9, TRAP_TIMETICKS, &ticks, 4);
 *   trap_pack_add(&ctx, ...);
 *   trap_pack_end(&ctx);                   the message: ctx.buffer, ctx.length
 *
 * The functions answer 0 on success and -1 on failure; the writers the
 * position after what they wrote, or null. Nothing is ever written past the
 * buffer, and nothing is printed. */

#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    TRAP_BUFFER_SIZE = 2048,
    TRAP_COMMUNITY_SIZE = 32, /* at most 31 characters and the terminator */
    TRAP_MAX_OID_ARCS = 128,
};

/* The value types a binding can carry, by their tags. */
enum {
    TRAP_INTEGER = 2,
    TRAP_BIT_STRING = 3,
    TRAP_OCTET_STRING = 4,
    TRAP_NULL = 5,
    TRAP_OBJECT_ID = 6,
    TRAP_IPADDRESS = 64,
    TRAP_COUNTER32 = 65,
    TRAP_GAUGE32 = 66,
    TRAP_TIMETICKS = 67,
    TRAP_OPAQUE = 68,
    TRAP_NSAPADDRESS = 69,
    TRAP_UINTEGER32 = 71,
};

/* The states of a trap under construction. */
enum {
    TRAP_INITIALISED = 0,
    TRAP_HEADER_WRITTEN = 1,
    TRAP_BINDING_WRITTEN = 2,
    TRAP_FINISHED = 3,
};

typedef struct TrapParams {
    char community[TRAP_COMMUNITY_SIZE]; /* the first 31 bytes are taken */
} TrapParams;

typedef struct TrapContext {
    int version;   /* 1: SNMPv2c */
    int pduType;   /* 167: SNMPv2-Trap-PDU */
    int requestId; /* stepped by every trap_init */
    int errorStatus;
    int errorIndex;
    char community[TRAP_COMMUNITY_SIZE];
    int state;
    unsigned char buffer[TRAP_BUFFER_SIZE];
    unsigned remaining; /* free bytes left in buffer */
    unsigned length;    /* of the finished message */
    /* Where the lengths written last go, and the write position. */
    unsigned char* afterMessageHeader;
    unsigned char* pduHeader;
    unsigned char* afterPduHeader;
    unsigned char* bindingsHeader;
    unsigned char* afterBindingsHeader;
    unsigned char* position;
} TrapContext;

int snmp_session_seed(TrapContext* ctx, int seed);
/* Steps the request-id and starts a new trap: the community of `params`,
 * or "quelmo" without. */
int trap_init(TrapContext* ctx, const TrapParams* params);
/* The message and PDU headers, up to the variable bindings. */
int trap_pack_begin(TrapContext* ctx);
/* One variable binding: `oid` and a value of `type`. After a failure the
 * trap cannot be finished; trap_init starts again. */
int trap_pack_add(TrapContext* ctx, const unsigned* oid, unsigned oidLength, int type,
                  const void* value, unsigned valueLength);
/* Fills in the lengths: the message is then buffer[0 .. length). */
int trap_pack_end(TrapContext* ctx);

/* The time since boot in hundredths of a second, for sysUpTime.0. */
unsigned get_uptime(void);
/* Where get_uptime reads the time since boot: CLOCK_BOOTTIME unless a test
 * sets a clock of its own (null sets it back). A clock answers 0 when it
 * could be read, as clock_gettime does. */
typedef int (*TrapBootClock)(struct timespec* now);
void trap_set_boot_clock(TrapBootClock clock);
/* The arcs of dotted text such as "1.3.6.1.4.1", at most `max` of them
 * (of the first 127 characters); answers how many. */
int parse_oid(unsigned* oid, int max, const char* text);

/* The BER writer. Each takes the write position and the count of free bytes,
 * which it lowers by what it writes. */
unsigned char* asn_build_length(unsigned char* data, unsigned* remaining, unsigned length);
unsigned char* asn_build_header(unsigned char* data, unsigned* remaining, unsigned char type,
                                unsigned length);
/* A header, and room left for `length` bytes of content after it. */
unsigned char* _asn_build_header_check(unsigned char* data, unsigned* remaining,
                                       unsigned char type, unsigned length);
unsigned char* asn_build_int(unsigned char* data, unsigned* remaining, unsigned char type,
                             const int* value, unsigned size);
unsigned char* asn_build_unsigned_int(unsigned char* data, unsigned* remaining,
                                      unsigned char type, const unsigned* value, unsigned size);
unsigned char* asn_build_string(unsigned char* data, unsigned* remaining, unsigned char type,
                                const unsigned char* value, unsigned length);
unsigned char* asn_build_bitstring(unsigned char* data, unsigned* remaining, unsigned char type,
                                   const unsigned char* value, unsigned length);
unsigned char* asn_build_null(unsigned char* data, unsigned* remaining, unsigned char type);
unsigned char* asn_build_objid(unsigned char* data, unsigned* remaining, unsigned char type,
                               const unsigned* oid, unsigned count);
/* Always the 4-byte form: tag, 0x82 and a 16-bit length. */
unsigned char* asn_build_sequence(unsigned char* data, unsigned* remaining, unsigned char type,
                                  unsigned length);
unsigned char* snmp_build_var_op(unsigned char* data, unsigned* remaining, const unsigned* oid,
                                 unsigned oidLength, int type, const void* value,
                                 unsigned valueLength);

#ifdef __cplusplus
}
#endif
