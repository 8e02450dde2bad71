// VARK packets as the network may send them. Unpack answers 0, -8 or -9 and
// writes nothing outside the record; on -9 it leaves the record as it was,
// on -8 all but the type. A packet that unpacks packs again to bytes that
// unpack to the same record, and prints.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "fuzz/guarded_record.h"
#include "radio/sig_proto.h"

using Fuzz::check;

namespace {

void check_failures_leave_the_record(const uint8_t* data, int length) {
    Fuzz::Guarded<sig_proto> guarded;
    sig_proto before = guarded.record;
    const int result = sig_proto_unpack(&guarded.record, data, length);
    check(result == 0 || result == -8 || result == -9);
    check(guarded.intact());
    if (result == -8) before.type = data[0];
    if (result != 0) check(Fuzz::same(before, guarded.record));
}

void check_round_trip(const uint8_t* data, int length) {
    sig_proto first;
    sig_proto_init(&first);
    if (sig_proto_unpack(&first, data, length) != 0) return;

    unsigned char packed[1024];
    const int packedLength = sig_proto_pack(&first, packed, sizeof packed);
    check(packedLength >= SIG_PROTO_HEADER_SIZE && packedLength <= length + 3);
    sig_proto second;
    sig_proto_init(&second);
    check(sig_proto_unpack(&second, packed, packedLength) == 0);
    check(Fuzz::same(first, second));

    char text[8192];
    for (int flags : {SIG_PROTO_PRINT_TYPE_HEX, SIG_PROTO_PRINT_TYPE_NAME,
                      SIG_PROTO_PRINT_FLAGS_ONLY})
        check(sprintf_sig_proto(text, sizeof text, &first, flags) > 0);
    check(cmp_sig_proto(&first, &second) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int length = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    check_failures_leave_the_record(data, length);
    check_round_trip(data, length);
    return 0;
}
