#pragma once
// The ED-137 header-extension codec: one flat record per extension (a
// two-byte header and up to 16 additional features), setters that fill it,
// pack and unpack per direction, and a source comparison. Plain free
// functions with integer results; nothing is allocated.
//
// Results: -7 a null record (or buffer on unpack), -8 a direction or RRC form
// the codec does not know, -9 a buffer or extension too short.
//
// Packed extensions are not padded to 32-bit words: whoever puts one into an
// RTP header extension pads it with zeros, which unpack reads as empty items.

#include <cstdint>

// Directions: TX from the controlling position towards the radio, RX from
// the radio side.
enum { R2S_PROTO_TX = 1, R2S_PROTO_RX = 2 };

// Additional-feature kinds (the item type on the wire). Kind 4 is MAM in RX
// and RRM in TX.
enum {
    R2S_PROTO_ADDITIONAL_SQI = 1,
    R2S_PROTO_ADDITIONAL_CLIMAX_TIME_DELAY = 2,
    R2S_PROTO_ADDITIONAL_RRC = 3,
    R2S_PROTO_ADDITIONAL_CLIMAX_DDC = 4,
};

// RRC forms of an RX record.
enum { R2S_PROTO_RRC_SHORT = 0, R2S_PROTO_RRC_LONG = 1 };

enum {
    R2S_PROTO_MAX_ADDITIONALS = 16,
    R2S_PROTO_ADDITIONAL_WORDS = 13,
};

// Each value is held in one word; the comments give its width on the wire.
struct r2s_proto_rx_additional_sqi {
    uint32_t quality;  // 5 bits
    uint32_t method;   // 3 bits
};

// Eight one-bit values, the first sent in bit 7 (MSTxF1, MSRxF1, MSTxF2,
// MSRxF2, SelTxF1, SelTxF2, MuRxF1, MuRxF2).
struct r2s_proto_rx_additional_rrc {
    uint32_t bits[8];
    uint32_t form;  // R2S_PROTO_RRC_SHORT or R2S_PROTO_RRC_LONG
    // Long form only: two one-bit values and two bytes.
    uint32_t long_bits[2];
    uint32_t long_bytes[2];
};

struct r2s_proto_rx_additional_mam {
    uint32_t tqg;  // 1 bit
    uint32_t t1;   // 23 bits
    uint32_t nmr;  // 1 bit
    uint32_t t2;   // 23 bits
    uint32_t tsd;  // 16 bits
    uint32_t tj1;  // 16 bits
    uint32_t tid;  // 16 bits
};

struct r2s_proto_tx_additional_climax_time_delay {
    uint32_t delay;  // 8 bits
};

struct r2s_proto_tx_additional_rrc {
    uint32_t bits[8];  // as in the RX short form
};

struct r2s_proto_tx_additional_rrm {
    uint32_t tqv;  // 1 bit
    uint32_t t1;   // 23 bits
};

// One additional feature: its kind and the values of the kind's item.
struct r2s_proto_additional {
    uint32_t kind;
    union {
        r2s_proto_rx_additional_sqi sqi;
        r2s_proto_rx_additional_rrc rx_rrc;
        r2s_proto_rx_additional_mam mam;
        r2s_proto_tx_additional_climax_time_delay time_delay;
        r2s_proto_tx_additional_rrc tx_rrc;
        r2s_proto_tx_additional_rrm rrm;
        uint32_t words[R2S_PROTO_ADDITIONAL_WORDS];
    } value;
};

struct r2s_proto_rx_header {
    uint32_t ptt_type;  // 3 bits
    uint32_t squ;
    uint32_t ptt_id;  // 6 bits
    uint32_t ptt_mute;
    uint32_t ptt_summation;
    uint32_t sct;
};

// TX has no squ and no sct; its fields take the first four words.
struct r2s_proto_tx_header {
    uint32_t ptt_type;
    uint32_t ptt_id;
    uint32_t ptt_mute;
    uint32_t ptt_summation;
};

// One extension. The source is not carried in the extension: the receiver
// fills it from the header-extension device's receive information.
struct r2s_proto {
    uint32_t source_addr;  // IPv4, network order
    uint32_t source_ssrc;
    uint32_t type;  // R2S_PROTO_TX or R2S_PROTO_RX
    union {
        r2s_proto_rx_header rx;
        r2s_proto_tx_header tx;
    } header;
    uint32_t additionals_count;
    r2s_proto_additional additionals[R2S_PROTO_MAX_ADDITIONALS];
};

// Setters return 0 and do nothing on a null record. The adders append one
// feature unless 16 are present or the item is null.
int r2s_proto_init(r2s_proto* record, unsigned long type);
int r2s_proto_set_type(r2s_proto* record, unsigned long type);
int r2s_proto_set_tx_header(r2s_proto* record, unsigned long ptt_type, unsigned long ptt_id,
                            unsigned long ptt_mute, unsigned long ptt_summation);
int r2s_proto_set_rx_header(r2s_proto* record, unsigned long ptt_type, unsigned long squ,
                            unsigned long ptt_id, unsigned long ptt_mute,
                            unsigned long ptt_summation, unsigned long sct);
int r2s_proto_reset_additionals(r2s_proto* record);
int r2s_proto_add_rx_sqi(r2s_proto* record, const r2s_proto_rx_additional_sqi* sqi);
int r2s_proto_add_rx_sqi(r2s_proto* record, unsigned long quality, unsigned long method);
int r2s_proto_add_rx_rrc(r2s_proto* record, const r2s_proto_rx_additional_rrc* rrc);
int r2s_proto_add_rx_mam(r2s_proto* record, const r2s_proto_rx_additional_mam* mam);
int r2s_proto_add_tx_time_delay(r2s_proto* record,
                                const r2s_proto_tx_additional_climax_time_delay* delay);
int r2s_proto_add_tx_rrc(r2s_proto* record, const r2s_proto_tx_additional_rrc* rrc);
int r2s_proto_add_tx_rrm(r2s_proto* record, const r2s_proto_tx_additional_rrm* rrm);

// The packed length, or -7, -8, -9; 0 with a null buffer. Features of a kind
// the direction does not know are left out.
int r2s_proto_pack(const r2s_proto* record, unsigned char* buffer, int size);
int r2s_proto_pack_rx(const r2s_proto* record, unsigned char* buffer, int size);
int r2s_proto_pack_tx(const r2s_proto* record, unsigned char* buffer, int size);

// 0, -7 or -9; the features read before an error stay in the record.
int r2s_proto_unpack_rx(r2s_proto* record, const unsigned char* buffer, int length);
int r2s_proto_unpack_tx(r2s_proto* record, const unsigned char* buffer, int length);

// Type, then source SSRC, then source address: the first difference (second
// minus first), 0 when all match, -1 when either record is null.
int cmp_r2s_proto_source(const r2s_proto* a, const r2s_proto* b);
