#pragma once
// The VARK radio packet codec: one flat record per packet, setters that fill
// it, packing to and unpacking from the bytes of one RTP header extension,
// the packet-type names and text printers for traces and comparisons.
// Plain free functions with integer results; nothing is allocated.
//
// Results: -7 a null record or buffer (unpack), -8 a packet type the codec
// does not know (unpack), -9 a buffer too short for the header or the body.

#include <netinet/in.h>

#include <cstdint>

// Packet types. GW types are commands to a radio gateway, WM types the
// gateway's reports.
enum {
    GW_FLAG = 1,
    GW_ADJUST_CHAN = 2,
    GW_FLAG_PTT = 3,
    GW_FLAG_BSS = 4,
    GW_FLAG_RV = 5,
    GW_FLAG_SH = 6,
    GW_FLAG_PW = 7,
    GW_FLAG_RS = 8,
    GW_SEL_CALL = 9,
    GW_SELECT_RC_CHAN = 10,
    GW_ADJUST_SQUELSHE = 11,
    GW_ADJUST_RTE = 12,
    GW_ADJUST_STANDBY = 13,
    WM_FLAG = 129,
    WM_TRANS = 130,
    WM_RADIO_QUALITY = 131,
    WM_CHAN = 132,
    WM_SEL_CALL_TRANS = 133,
    WM_SELECT_RC_CHAN = 134,
    WM_STANDBY = 135,
};

enum {
    SIG_PROTO_HEADER_SIZE = 4,
    SIG_PROTO_CALLER_ID_SIZE = 256,
    // sprintf_sig_proto flags.
    SIG_PROTO_PRINT_TYPE_HEX = 1,
    SIG_PROTO_PRINT_TYPE_NAME = 2,
    SIG_PROTO_PRINT_FLAGS_ONLY = 4,
};

struct sig_proto_gw_adjust_chan {
    uint32_t id;
    float freq;
};

struct sig_proto_gw_sel_call {
    uint8_t callerID_length;
    uint8_t callerID[SIG_PROTO_CALLER_ID_SIZE];
};

struct sig_proto_select_rc_chan {
    uint8_t interface;
    uint8_t channel;
};

struct sig_proto_gw_adjust_squelsh {
    uint8_t squelsh;
};

struct sig_proto_gw_adjust_rte {
    uint8_t rte;
};

struct sig_proto_gw_adjust_standby {
    uint8_t state;
};

struct sig_proto_wm_trans {
    in_addr session_addr;  // network order; its octets travel reversed
    uint32_t ssrc;
};

struct sig_proto_wm_radio_quality {
    float radio_quality;
};

struct sig_proto_wm_chan {
    uint32_t id;
    float freq;
    uint8_t squelsh;
    uint8_t rte;
};

struct sig_proto_wm_sel_call_trans {
    in_addr session_addr;
    uint32_t ssrc;
    uint8_t callerID_length;
    uint8_t callerID[SIG_PROTO_CALLER_ID_SIZE];
};

struct sig_proto_wm_standby {
    uint8_t state;
    uint8_t group;
    uint8_t receiver_state;
};

// The body of the packet's type; all types share the storage.
union sig_proto_body {
    sig_proto_gw_adjust_chan gw_adjust_chan;
    sig_proto_gw_sel_call gw_sel_call;
    sig_proto_select_rc_chan gw_select_rc_chan;
    sig_proto_gw_adjust_squelsh gw_adjust_squelsh;
    sig_proto_gw_adjust_rte gw_adjust_rte;
    sig_proto_gw_adjust_standby gw_adjust_standby;
    sig_proto_wm_trans wm_trans;
    sig_proto_wm_radio_quality wm_radio_quality;
    sig_proto_wm_chan wm_chan;
    sig_proto_wm_sel_call_trans wm_sel_call_trans;
    sig_proto_select_rc_chan wm_select_rc_chan;
    sig_proto_wm_standby wm_standby;
};

// One packet. The source is not carried in the packet: the receiver fills it
// from the header-extension device's receive information.
struct sig_proto {
    uint32_t source_addr;  // IPv4, network order
    uint32_t source_ssrc;
    uint32_t type;
    uint32_t priority;  // 4 bits on the wire
    uint32_t flag_t;    // each flag one bit on the wire
    uint32_t flag_p;    // PTT
    uint32_t flag_r;
    uint32_t flag_s;
    uint32_t flag_b;
    uint32_t flag_rv;
    uint32_t flag_sh;
    uint32_t flag_rs;
    uint32_t flag_pw;
    uint32_t flag_c;  // 2 bits
    uint32_t status;  // 9 bits
    sig_proto_body body;
};

enum { SIG_PROTO_NAME_TABLE_SIZE = 128, SIG_PROTO_QUEUE_SIZE = 32 };

struct s_sig_proto_table_name {
    int id;
    const char* name;
};

// The packet-type names in code order, ended by a row of negative id.
extern s_sig_proto_table_name sig_proto_packet_const_name[SIG_PROTO_NAME_TABLE_SIZE];

typedef int (*sig_proto_printer)(char* buffer, long size, const sig_proto* packet, int flags);

struct s_sig_proto_sprintf_table {
    int type;
    sig_proto_printer printer;
};

enum { SIG_PROTO_PRINTER_COUNT = 21 };
extern const s_sig_proto_sprintf_table sig_proto_sprintf_table[SIG_PROTO_PRINTER_COUNT];

struct sig_proto_queue {
    sig_proto packets[SIG_PROTO_QUEUE_SIZE];
    uint8_t area[128];
};

int sig_proto_init(sig_proto* packet);
// Each argument below zero leaves its field unchanged.
int sig_proto_set_base(sig_proto* packet, int priority, int t, int p, int r, int s, int b, int rv,
                       int sh, int pw, int rs, int c, int status);
int sig_proto_set_ptt(sig_proto* packet, int ptt);
int sig_proto_set_gw_adjust_chan(sig_proto* packet, unsigned id, float freq);
int sig_proto_set_gw_adjust_standby(sig_proto* packet, unsigned char state);
int sig_proto_set_gw_adjust_squelsh(sig_proto* packet, unsigned char squelsh);
int sig_proto_set_gw_adjust_rte(sig_proto* packet, unsigned char rte);
// The caller identity is copied (at most 255 bytes); `length` is stored as
// given, not taken from the text.
int sig_proto_set_gw_selcall(sig_proto* packet, const char* callerID, unsigned char length);
int sig_proto_set_gw_select_rc_chan(sig_proto* packet, unsigned char interface,
                                    unsigned char channel);
int sig_proto_set_wm_radio_quality(sig_proto* packet, float quality);
int sig_proto_set_wm_transmite(sig_proto* packet, in_addr session_addr, unsigned ssrc);
int sig_proto_set_wm_chan(sig_proto* packet, unsigned id, float freq, unsigned char squelsh,
                          unsigned char rte);
int sig_proto_set_wm_selcall_transmite(sig_proto* packet, in_addr session_addr, unsigned ssrc,
                                       const char* callerID, unsigned char length);
int sig_proto_set_wm_select_rc_chan(sig_proto* packet, unsigned char interface,
                                    unsigned char channel);
int sig_proto_set_wm_standby(sig_proto* packet, unsigned char state, unsigned char group,
                             unsigned char receiver_state);

// 1 for the types that carry PTT, else 0.
int sig_proto_is_ptt_command(const sig_proto* packet);

// The packet length, -9 when `size` lacks the room the type asks for (the
// buffer then holds the header and zeros), 0 for a null record or buffer.
int sig_proto_pack(const sig_proto* packet, unsigned char* buffer, int size);
// 0, -7, -8 (only `type` is set) or -9 (the record is left as it was).
int sig_proto_unpack(sig_proto* packet, const unsigned char* buffer, int length);

const char* sig_proto_find_name_by_id(const s_sig_proto_table_name* table, int id);
int sig_proto_find_id_by_name(const s_sig_proto_table_name* table, const char* name);

// Printers: the text length, 0 when nothing is printed. The text is cut at
// the end of the buffer when it does not fit.
int sprintf_sig_proto(char* buffer, long size, const sig_proto* packet, int flags);
int sprintf_sig_proto_header(char* buffer, long size, const sig_proto* packet, int flags);
int sprintf_gw_adjust_chan(char* buffer, long size, const sig_proto* packet, int flags);
int sprintf_gw_selcall(char* buffer, long size, const sig_proto* packet, int flags);
int sprintf_gw_select_rc_chan(char* buffer, long size, const sig_proto* packet, int flags);
int sprintf_gw_adjust_squelsh(char* buffer, long size, const sig_proto* packet, int flags);
int sprintf_gw_adjust_rte(char* buffer, long size, const sig_proto* packet, int flags);
int sprintf_gw_adjust_standby(char* buffer, long size, const sig_proto* packet, int flags);
int sprintf_wm_trans(char* buffer, long size, const sig_proto* packet, int flags);
int sprintf_wm_radio_qulity(char* buffer, long size, const sig_proto* packet, int flags);
int sprintf_wm_chan(char* buffer, long size, const sig_proto* packet, int flags);
int sprintf_wm_selcall(char* buffer, long size, const sig_proto* packet, int flags);
int sprintf_wm_select_rc_chan(char* buffer, long size, const sig_proto* packet, int flags);
int sprintf_wm_standby(char* buffer, long size, const sig_proto* packet, int flags);

// 0 when equal, -1 when either record is null, else non-zero.
// cmp_sig_proto: the whole printed record; cmp_sig_proto_flags: the ten
// flags; cmp_sig_proto_header: type, source SSRC and source address (the
// first difference, second minus first).
int cmp_sig_proto(const sig_proto* a, const sig_proto* b);
int cmp_sig_proto_flags(const sig_proto* a, const sig_proto* b);
int cmp_sig_proto_header(const sig_proto* a, const sig_proto* b);

int init_sig_proto_queue(sig_proto_queue* queue);
int is_little_endian();
