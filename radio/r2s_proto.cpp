#include "radio/r2s_proto.h"

#include <algorithm>
#include <cstring>

#include "radio/compare_source.h"

namespace {

enum { header_size = 2, header_only_size = 4 };

// Byte 1, bit 0: additional features follow the header.
constexpr unsigned char x_bit = 0x01;

// ---- one-bit runs and 23-bit values

unsigned char bits_byte(const uint32_t (&bits)[8]) {
    unsigned value = 0;
    for (int i = 0; i < 8; ++i) value |= (bits[i] & 1) << (7 - i);
    return static_cast<unsigned char>(value);
}

void read_bits(unsigned char byte, uint32_t (&bits)[8]) {
    for (int i = 0; i < 8; ++i) bits[i] = (byte >> (7 - i)) & 1;
}

// A one-bit value in bit 7, then a 23-bit value, big-endian.
void put_bit_and_23(unsigned char* at, uint32_t bit, uint32_t value) {
    at[0] = static_cast<unsigned char>((bit & 1) << 7 | ((value >> 16) & 0x7F));
    at[1] = static_cast<unsigned char>(value >> 8);
    at[2] = static_cast<unsigned char>(value);
}

void get_bit_and_23(const unsigned char* at, uint32_t& bit, uint32_t& value) {
    bit = at[0] >> 7;
    value = uint32_t(at[0] & 0x7F) << 16 | uint32_t(at[1]) << 8 | at[2];
}

void put16(unsigned char* at, uint32_t value) {
    at[0] = static_cast<unsigned char>(value >> 8);
    at[1] = static_cast<unsigned char>(value);
}

uint32_t get16(const unsigned char* at) { return uint32_t(at[0]) << 8 | at[1]; }

// ---- the items each direction knows: type byte (type nibble, length
// nibble) and the room pack reserves for it, which may exceed its size.

enum : unsigned char {
    rx_sqi = 0x11,
    rx_rrc_short = 0x31,
    rx_rrc_long = 0x34,
    rx_mam = 0x4C,
    tx_time_delay = 0x21,
    tx_rrc = 0x31,
    tx_rrm = 0x43,
};

int rx_room(uint32_t kind) {
    switch (kind) {
    case R2S_PROTO_ADDITIONAL_SQI: return 2;
    case R2S_PROTO_ADDITIONAL_RRC: return 5;
    case R2S_PROTO_ADDITIONAL_CLIMAX_DDC: return 13;
    default: return 0;
    }
}

int tx_room(uint32_t kind) {
    switch (kind) {
    case R2S_PROTO_ADDITIONAL_CLIMAX_TIME_DELAY: return 2;
    case R2S_PROTO_ADDITIONAL_RRC: return 2;
    case R2S_PROTO_ADDITIONAL_CLIMAX_DDC: return 4;
    default: return 0;
    }
}

// Writes one item the direction knows; its length, or -8.
int write_rx_item(const r2s_proto_additional& item, unsigned char* out) {
    switch (item.kind) {
    case R2S_PROTO_ADDITIONAL_SQI: {
        const r2s_proto_rx_additional_sqi& sqi = item.value.sqi;
        out[0] = rx_sqi;
        out[1] = static_cast<unsigned char>((sqi.quality & 0x1F) << 3 | (sqi.method & 7));
        return 2;
    }
    case R2S_PROTO_ADDITIONAL_RRC: {
        const r2s_proto_rx_additional_rrc& rrc = item.value.rx_rrc;
        out[1] = bits_byte(rrc.bits);
        if (rrc.form == R2S_PROTO_RRC_SHORT) {
            out[0] = rx_rrc_short;
            return 2;
        }
        if (rrc.form != R2S_PROTO_RRC_LONG) return -8;
        out[0] = rx_rrc_long;
        out[2] = static_cast<unsigned char>((rrc.long_bits[0] & 1) << 7 |
                                            (rrc.long_bits[1] & 1) << 6);
        out[3] = static_cast<unsigned char>(rrc.long_bytes[0]);
        out[4] = static_cast<unsigned char>(rrc.long_bytes[1]);
        return 5;
    }
    default: {  // kind 4, MAM
        const r2s_proto_rx_additional_mam& mam = item.value.mam;
        out[0] = rx_mam;
        put_bit_and_23(out + 1, mam.tqg, mam.t1);
        put_bit_and_23(out + 4, mam.nmr, mam.t2);
        put16(out + 7, mam.tsd);
        put16(out + 9, mam.tj1);
        put16(out + 11, mam.tid);
        return 13;
    }
    }
}

int write_tx_item(const r2s_proto_additional& item, unsigned char* out) {
    switch (item.kind) {
    case R2S_PROTO_ADDITIONAL_CLIMAX_TIME_DELAY:
        out[0] = tx_time_delay;
        out[1] = static_cast<unsigned char>(item.value.time_delay.delay);
        return 2;
    case R2S_PROTO_ADDITIONAL_RRC:
        out[0] = tx_rrc;
        out[1] = bits_byte(item.value.tx_rrc.bits);
        return 2;
    default:  // kind 4, RRM
        out[0] = tx_rrm;
        put_bit_and_23(out + 1, item.value.rrm.tqv, item.value.rrm.t1);
        return 4;
    }
}

// Reads one item into a cleared slot; false for an item the direction does
// not know. `value` holds the item's whole value.
bool read_rx_item(unsigned char type, const unsigned char* value, r2s_proto_additional& item) {
    switch (type) {
    case rx_sqi:
        item.kind = R2S_PROTO_ADDITIONAL_SQI;
        item.value.sqi.quality = value[0] >> 3;
        item.value.sqi.method = value[0] & 7;
        return true;
    case rx_rrc_short:
        item.kind = R2S_PROTO_ADDITIONAL_RRC;
        read_bits(value[0], item.value.rx_rrc.bits);
        item.value.rx_rrc.form = R2S_PROTO_RRC_SHORT;
        return true;
    case rx_rrc_long: {
        r2s_proto_rx_additional_rrc& rrc = item.value.rx_rrc;
        item.kind = R2S_PROTO_ADDITIONAL_RRC;
        read_bits(value[0], rrc.bits);
        rrc.form = R2S_PROTO_RRC_LONG;
        rrc.long_bits[0] = value[1] >> 7;
        rrc.long_bits[1] = (value[1] >> 6) & 1;
        rrc.long_bytes[0] = value[2];
        rrc.long_bytes[1] = value[3];
        return true;
    }
    case rx_mam: {
        r2s_proto_rx_additional_mam& mam = item.value.mam;
        item.kind = R2S_PROTO_ADDITIONAL_CLIMAX_DDC;
        get_bit_and_23(value, mam.tqg, mam.t1);
        get_bit_and_23(value + 3, mam.nmr, mam.t2);
        mam.tsd = get16(value + 6);
        mam.tj1 = get16(value + 8);
        mam.tid = get16(value + 10);
        return true;
    }
    default:
        return false;
    }
}

bool read_tx_item(unsigned char type, const unsigned char* value, r2s_proto_additional& item) {
    switch (type) {
    case tx_time_delay:
        item.kind = R2S_PROTO_ADDITIONAL_CLIMAX_TIME_DELAY;
        item.value.time_delay.delay = value[0];
        return true;
    case tx_rrc:
        item.kind = R2S_PROTO_ADDITIONAL_RRC;
        read_bits(value[0], item.value.tx_rrc.bits);
        return true;
    case tx_rrm:
        item.kind = R2S_PROTO_ADDITIONAL_CLIMAX_DDC;
        get_bit_and_23(value, item.value.rrm.tqv, item.value.rrm.t1);
        return true;
    default:
        return false;
    }
}

// ---- the header: RX carries squ and sct, TX leaves their bits zero

void write_rx_header(const r2s_proto& r, unsigned char* out) {
    const r2s_proto_rx_header& h = r.header.rx;
    out[0] = static_cast<unsigned char>((h.ptt_type & 7) << 5 | (h.squ & 1) << 4 |
                                        ((h.ptt_id >> 2) & 0xF));
    out[1] = static_cast<unsigned char>((h.ptt_id & 3) << 6 | (h.ptt_mute & 1) << 5 |
                                        (h.ptt_summation & 1) << 4 | (h.sct & 1) << 3);
}

void write_tx_header(const r2s_proto& r, unsigned char* out) {
    const r2s_proto_tx_header& h = r.header.tx;
    out[0] = static_cast<unsigned char>((h.ptt_type & 7) << 5 | ((h.ptt_id >> 2) & 0xF));
    out[1] = static_cast<unsigned char>((h.ptt_id & 3) << 6 | (h.ptt_mute & 1) << 5 |
                                        (h.ptt_summation & 1) << 4);
}

void read_rx_header(const unsigned char* in, r2s_proto& r) {
    r2s_proto_rx_header& h = r.header.rx;
    r.type = R2S_PROTO_RX;
    h.ptt_type = in[0] >> 5;
    h.squ = (in[0] >> 4) & 1;
    h.ptt_id = uint32_t(in[0] & 0xF) << 2 | in[1] >> 6;
    h.ptt_mute = (in[1] >> 5) & 1;
    h.ptt_summation = (in[1] >> 4) & 1;
    h.sct = (in[1] >> 3) & 1;
}

void read_tx_header(const unsigned char* in, r2s_proto& r) {
    r2s_proto_tx_header& h = r.header.tx;
    r.type = R2S_PROTO_TX;
    h.ptt_type = in[0] >> 5;
    h.ptt_id = uint32_t(in[0] & 0xF) << 2 | in[1] >> 6;
    h.ptt_mute = (in[1] >> 5) & 1;
    h.ptt_summation = (in[1] >> 4) & 1;
}

// What differs between the two directions.
struct Direction {
    void (*write_header)(const r2s_proto&, unsigned char*);
    int (*room)(uint32_t kind);
    int (*write_item)(const r2s_proto_additional&, unsigned char*);
    void (*read_header)(const unsigned char*, r2s_proto&);
    bool (*read_item)(unsigned char type, const unsigned char* value, r2s_proto_additional&);
};

constexpr Direction rx = {write_rx_header, rx_room, write_rx_item, read_rx_header, read_rx_item};
constexpr Direction tx = {write_tx_header, tx_room, write_tx_item, read_tx_header, read_tx_item};

unsigned feature_count(const r2s_proto& r) {
    return std::min<uint32_t>(r.additionals_count, R2S_PROTO_MAX_ADDITIONALS);
}

int pack(const Direction& d, const r2s_proto* record, unsigned char* buffer, int size) {
    if (!record) return -7;
    if (!buffer) return 0;
    if (size < header_size) return -9;
    std::memset(buffer, 0, static_cast<size_t>(size));
    d.write_header(*record, buffer);
    const unsigned count = feature_count(*record);
    if (count == 0) return size < header_only_size ? -9 : header_only_size;

    buffer[1] |= x_bit;
    // Each known item reserves its room before it is written, so that no
    // item runs past `size`.
    int room = header_size;
    int length = header_size;
    for (unsigned i = 0; i < count; ++i) {
        const r2s_proto_additional& item = record->additionals[i];
        const int itemRoom = d.room(item.kind);
        if (itemRoom == 0) continue;
        room += itemRoom;
        if (room > size) return -9;
        const int written = d.write_item(item, buffer + length);
        if (written < 0) return written;
        length += written;
    }
    return length;
}

int unpack(const Direction& d, r2s_proto* record, const unsigned char* buffer, int length) {
    if (!record || !buffer) return -7;
    if (length < header_size) return -9;
    d.read_header(buffer, *record);
    unsigned stored = 0;
    int result = 0;
    if (buffer[1] & x_bit) {
        // Unknown items (the zero padding after the last item among them)
        // are stepped over by their length nibble.
        for (int at = header_size; at < length && stored < R2S_PROTO_MAX_ADDITIONALS;) {
            const unsigned char type = buffer[at];
            const int valueLength = type & 0xF;
            if (at + 1 + valueLength > length) {
                result = -9;
                break;
            }
            r2s_proto_additional& slot = record->additionals[stored];
            std::memset(&slot, 0, sizeof slot);
            if (d.read_item(type, buffer + at + 1, slot)) ++stored;
            at += 1 + valueLength;
        }
    }
    record->additionals_count = stored;
    return result;
}

// Appends one feature of `kind` with the item's values.
template <class Item>
int add(r2s_proto* record, uint32_t kind, const Item* item) {
    if (!record || !item || record->additionals_count >= R2S_PROTO_MAX_ADDITIONALS) return 0;
    r2s_proto_additional& slot = record->additionals[record->additionals_count++];
    std::memset(&slot, 0, sizeof slot);
    slot.kind = kind;
    static_assert(sizeof(Item) <= sizeof slot.value, "an item fits its slot");
    std::memcpy(&slot.value, item, sizeof(Item));
    return 0;
}

}  // namespace

int r2s_proto_init(r2s_proto* record, unsigned long type) {
    if (!record) return 0;
    std::memset(record, 0, sizeof *record);
    record->type = static_cast<uint32_t>(type);
    return 0;
}

int r2s_proto_set_type(r2s_proto* record, unsigned long type) {
    if (record) record->type = static_cast<uint32_t>(type);
    return 0;
}

int r2s_proto_set_tx_header(r2s_proto* record, unsigned long ptt_type, unsigned long ptt_id,
                            unsigned long ptt_mute, unsigned long ptt_summation) {
    if (!record) return 0;
    record->type = R2S_PROTO_TX;
    r2s_proto_tx_header& h = record->header.tx;
    h.ptt_type = static_cast<uint32_t>(ptt_type);
    h.ptt_id = static_cast<uint32_t>(ptt_id);
    h.ptt_mute = static_cast<uint32_t>(ptt_mute);
    h.ptt_summation = static_cast<uint32_t>(ptt_summation);
    return 0;
}

int r2s_proto_set_rx_header(r2s_proto* record, unsigned long ptt_type, unsigned long squ,
                            unsigned long ptt_id, unsigned long ptt_mute,
                            unsigned long ptt_summation, unsigned long sct) {
    if (!record) return 0;
    record->type = R2S_PROTO_RX;
    r2s_proto_rx_header& h = record->header.rx;
    h.ptt_type = static_cast<uint32_t>(ptt_type);
    h.squ = static_cast<uint32_t>(squ);
    h.ptt_id = static_cast<uint32_t>(ptt_id);
    h.ptt_mute = static_cast<uint32_t>(ptt_mute);
    h.ptt_summation = static_cast<uint32_t>(ptt_summation);
    h.sct = static_cast<uint32_t>(sct);
    return 0;
}

int r2s_proto_reset_additionals(r2s_proto* record) {
    if (record) record->additionals_count = 0;
    return 0;
}

int r2s_proto_add_rx_sqi(r2s_proto* record, const r2s_proto_rx_additional_sqi* sqi) {
    return add(record, R2S_PROTO_ADDITIONAL_SQI, sqi);
}

int r2s_proto_add_rx_sqi(r2s_proto* record, unsigned long quality, unsigned long method) {
    const r2s_proto_rx_additional_sqi sqi = {static_cast<uint32_t>(quality),
                                             static_cast<uint32_t>(method)};
    return add(record, R2S_PROTO_ADDITIONAL_SQI, &sqi);
}

int r2s_proto_add_rx_rrc(r2s_proto* record, const r2s_proto_rx_additional_rrc* rrc) {
    return add(record, R2S_PROTO_ADDITIONAL_RRC, rrc);
}

int r2s_proto_add_rx_mam(r2s_proto* record, const r2s_proto_rx_additional_mam* mam) {
    return add(record, R2S_PROTO_ADDITIONAL_CLIMAX_DDC, mam);
}

int r2s_proto_add_tx_time_delay(r2s_proto* record,
                                const r2s_proto_tx_additional_climax_time_delay* delay) {
    return add(record, R2S_PROTO_ADDITIONAL_CLIMAX_TIME_DELAY, delay);
}

int r2s_proto_add_tx_rrc(r2s_proto* record, const r2s_proto_tx_additional_rrc* rrc) {
    return add(record, R2S_PROTO_ADDITIONAL_RRC, rrc);
}

int r2s_proto_add_tx_rrm(r2s_proto* record, const r2s_proto_tx_additional_rrm* rrm) {
    return add(record, R2S_PROTO_ADDITIONAL_CLIMAX_DDC, rrm);
}

int r2s_proto_pack(const r2s_proto* record, unsigned char* buffer, int size) {
    if (!record) return -7;
    switch (record->type) {
    case R2S_PROTO_TX: return r2s_proto_pack_tx(record, buffer, size);
    case R2S_PROTO_RX: return r2s_proto_pack_rx(record, buffer, size);
    default: return -8;
    }
}

int r2s_proto_pack_rx(const r2s_proto* record, unsigned char* buffer, int size) {
    return pack(rx, record, buffer, size);
}

int r2s_proto_pack_tx(const r2s_proto* record, unsigned char* buffer, int size) {
    return pack(tx, record, buffer, size);
}

int r2s_proto_unpack_rx(r2s_proto* record, const unsigned char* buffer, int length) {
    return unpack(rx, record, buffer, length);
}

int r2s_proto_unpack_tx(r2s_proto* record, const unsigned char* buffer, int length) {
    return unpack(tx, record, buffer, length);
}

int cmp_r2s_proto_source(const r2s_proto* a, const r2s_proto* b) {
    return compare_type_and_source(a, b);
}
