// ED-137 extensions as the network may send them, read as RX and as TX.
// Unpack answers 0 or -9, writes nothing outside the record and stores at
// most 16 features; what it stored packs again to bytes that unpack to the
// same record.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "fuzz/guarded_record.h"
#include "radio/r2s_proto.h"

using Fuzz::check;

namespace {

using Unpack = int (*)(r2s_proto*, const unsigned char*, int);

void check_unpack(Unpack unpack, const uint8_t* data, int length) {
    Fuzz::Guarded<r2s_proto> guarded;
    const int result = unpack(&guarded.record, data, length);
    check(result == 0 || result == -9);
    check(guarded.intact());
    if (length >= 2) check(guarded.record.additionals_count <= R2S_PROTO_MAX_ADDITIONALS);
}

// Also after -9: the features read before the error make a whole record.
void check_round_trip(Unpack unpack, const uint8_t* data, int length) {
    r2s_proto first;
    r2s_proto_init(&first, 0);
    if (length < 2) return;
    unpack(&first, data, length);

    unsigned char packed[2 + R2S_PROTO_MAX_ADDITIONALS * 13];
    const int packedLength = r2s_proto_pack(&first, packed, sizeof packed);
    check(packedLength >= 2);
    r2s_proto second;
    r2s_proto_init(&second, 0);
    check(unpack(&second, packed, packedLength) == 0);
    check(Fuzz::same(first, second));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int length = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    for (Unpack unpack : {r2s_proto_unpack_rx, r2s_proto_unpack_tx}) {
        check_unpack(unpack, data, length);
        check_round_trip(unpack, data, length);
    }
    return 0;
}
