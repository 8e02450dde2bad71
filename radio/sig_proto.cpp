#include "radio/sig_proto.h"

#include <arpa/inet.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "radio/compare_source.h"

namespace {

// ---- bytes on the wire: big-endian, except the reversed session address

void put32(unsigned char* at, uint32_t value) {
    at[0] = static_cast<unsigned char>(value >> 24);
    at[1] = static_cast<unsigned char>(value >> 16);
    at[2] = static_cast<unsigned char>(value >> 8);
    at[3] = static_cast<unsigned char>(value);
}

uint32_t get32(const unsigned char* at) {
    return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3];
}

// A float travels as its IEEE single-precision bits.
void put_float(unsigned char* at, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    put32(at, bits);
}

float get_float(const unsigned char* at) {
    const uint32_t bits = get32(at);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The address a.b.c.d travels as d, c, b, a on every host.
void put_reversed_addr(unsigned char* at, in_addr addr) {
    unsigned char octets[4];
    std::memcpy(octets, &addr.s_addr, sizeof octets);
    for (int i = 0; i < 4; ++i) at[i] = octets[3 - i];
}

in_addr get_reversed_addr(const unsigned char* at) {
    const unsigned char octets[4] = {at[3], at[2], at[1], at[0]};
    in_addr addr;
    std::memcpy(&addr.s_addr, octets, sizeof octets);
    return addr;
}

int round_up_to_word(int length) { return (length + 3) & ~3; }

// ---- the header

void pack_header(const sig_proto& p, unsigned char* at) {
    at[0] = static_cast<unsigned char>(p.type);
    at[1] = static_cast<unsigned char>((p.priority & 0xF) << 4 | (p.flag_t & 1) << 3 |
                                       (p.flag_p & 1) << 2 | (p.flag_r & 1) << 1 | (p.flag_s & 1));
    at[2] = static_cast<unsigned char>((p.flag_b & 1) << 7 | (p.flag_rv & 1) << 6 |
                                       (p.flag_sh & 1) << 5 | (p.flag_pw & 1) << 4 |
                                       ((p.status >> 5) & 0xF));
    at[3] = static_cast<unsigned char>((p.status & 0x1F) << 3 | (p.flag_c & 3) << 1 |
                                       (p.flag_rs & 1));
}

void unpack_header(const unsigned char* at, sig_proto& p) {
    p.type = at[0];
    p.priority = at[1] >> 4;
    p.flag_t = (at[1] >> 3) & 1;
    p.flag_p = (at[1] >> 2) & 1;
    p.flag_r = (at[1] >> 1) & 1;
    p.flag_s = at[1] & 1;
    p.flag_b = (at[2] >> 7) & 1;
    p.flag_rv = (at[2] >> 6) & 1;
    p.flag_sh = (at[2] >> 5) & 1;
    p.flag_pw = (at[2] >> 4) & 1;
    p.status = uint32_t(at[2] & 0xF) << 5 | at[3] >> 3;
    p.flag_c = (at[3] >> 1) & 3;
    p.flag_rs = at[3] & 1;
}

// ---- the bodies

bool is_known_type(unsigned type) {
    return (type >= GW_FLAG && type <= GW_ADJUST_STANDBY) ||
           (type >= WM_FLAG && type <= WM_STANDBY);
}

// The packet length of each type but the two with a caller identity; the
// header alone for a type without a body or unknown.
int fixed_length(unsigned type) {
    switch (type) {
    case GW_ADJUST_CHAN:
    case WM_TRANS:
        return 12;
    case GW_SELECT_RC_CHAN:
    case GW_ADJUST_SQUELSHE:
    case GW_ADJUST_RTE:
    case GW_ADJUST_STANDBY:
    case WM_RADIO_QUALITY:
    case WM_SELECT_RC_CHAN:
    case WM_STANDBY:
        return 8;
    case WM_CHAN:
        return 16;
    default:
        return SIG_PROTO_HEADER_SIZE;
    }
}

// The room pack asks for: a caller identity type wants its length + 12 (or
// + 20), more than its padded size.
int pack_room(const sig_proto& p) {
    switch (p.type) {
    case GW_SEL_CALL:
        return p.body.gw_sel_call.callerID_length + 12;
    case WM_SEL_CALL_TRANS:
        return p.body.wm_sel_call_trans.callerID_length + 20;
    default:
        return fixed_length(p.type);
    }
}

// Writes the body after the header; the buffer is zeroed and has the room.
int pack_body(const sig_proto& p, unsigned char* out) {
    const sig_proto_body& b = p.body;
    switch (p.type) {
    case GW_ADJUST_CHAN:
        put32(out + 4, b.gw_adjust_chan.id);
        put_float(out + 8, b.gw_adjust_chan.freq);
        return 12;
    case GW_SEL_CALL:
        out[4] = b.gw_sel_call.callerID_length;
        std::memcpy(out + 5, b.gw_sel_call.callerID, b.gw_sel_call.callerID_length);
        return round_up_to_word(5 + b.gw_sel_call.callerID_length);
    case GW_SELECT_RC_CHAN:
    case WM_SELECT_RC_CHAN:
        out[4] = b.gw_select_rc_chan.interface;
        out[5] = b.gw_select_rc_chan.channel;
        return 8;
    case GW_ADJUST_SQUELSHE:
        out[4] = b.gw_adjust_squelsh.squelsh;
        return 8;
    case GW_ADJUST_RTE:
        out[4] = b.gw_adjust_rte.rte;
        return 8;
    case GW_ADJUST_STANDBY:
        out[4] = b.gw_adjust_standby.state;
        return 8;
    case WM_TRANS:
        put_reversed_addr(out + 4, b.wm_trans.session_addr);
        put32(out + 8, b.wm_trans.ssrc);
        return 12;
    case WM_RADIO_QUALITY:
        put_float(out + 4, b.wm_radio_quality.radio_quality);
        return 8;
    case WM_CHAN:
        put32(out + 4, b.wm_chan.id);
        put_float(out + 8, b.wm_chan.freq);
        out[12] = b.wm_chan.squelsh;
        out[13] = b.wm_chan.rte;
        return 16;
    case WM_SEL_CALL_TRANS:
        put_reversed_addr(out + 4, b.wm_sel_call_trans.session_addr);
        put32(out + 8, b.wm_sel_call_trans.ssrc);
        out[12] = b.wm_sel_call_trans.callerID_length;
        std::memcpy(out + 13, b.wm_sel_call_trans.callerID, b.wm_sel_call_trans.callerID_length);
        return round_up_to_word(13 + b.wm_sel_call_trans.callerID_length);
    case WM_STANDBY:
        out[4] = b.wm_standby.state;
        out[5] = b.wm_standby.group;
        out[6] = b.wm_standby.receiver_state;
        return 8;
    default:
        return SIG_PROTO_HEADER_SIZE;
    }
}

// The length a received packet of this type needs. A caller identity type
// gives its length in the packet: `in` holds at least the header.
int unpack_need(const unsigned char* in, int length) {
    switch (in[0]) {
    case GW_SEL_CALL:
        return length < 5 ? 5 : 5 + in[4];
    case WM_SEL_CALL_TRANS:
        return length < 13 ? 13 : 13 + in[12];
    default:
        return fixed_length(in[0]);
    }
}

// Reads the body of a packet that holds all of it. Fields the type does not
// carry keep their contents.
void unpack_body(const unsigned char* in, sig_proto_body& b) {
    switch (in[0]) {
    case GW_ADJUST_CHAN:
        b.gw_adjust_chan.id = get32(in + 4);
        b.gw_adjust_chan.freq = get_float(in + 8);
        break;
    case GW_SEL_CALL:
        b.gw_sel_call.callerID_length = in[4];
        std::memcpy(b.gw_sel_call.callerID, in + 5, in[4]);
        break;
    case GW_SELECT_RC_CHAN:
    case WM_SELECT_RC_CHAN:
        b.gw_select_rc_chan.interface = in[4];
        b.gw_select_rc_chan.channel = in[5];
        break;
    case GW_ADJUST_SQUELSHE:
        b.gw_adjust_squelsh.squelsh = in[4];
        break;
    case GW_ADJUST_RTE:
        b.gw_adjust_rte.rte = in[4];
        break;
    case GW_ADJUST_STANDBY:
        b.gw_adjust_standby.state = in[4];
        break;
    case WM_TRANS:
        b.wm_trans.session_addr = get_reversed_addr(in + 4);
        b.wm_trans.ssrc = get32(in + 8);
        break;
    case WM_RADIO_QUALITY:
        b.wm_radio_quality.radio_quality = get_float(in + 4);
        break;
    case WM_CHAN:
        b.wm_chan.id = get32(in + 4);
        b.wm_chan.freq = get_float(in + 8);
        b.wm_chan.squelsh = in[12];
        b.wm_chan.rte = in[13];
        break;
    case WM_SEL_CALL_TRANS:
        b.wm_sel_call_trans.session_addr = get_reversed_addr(in + 4);
        b.wm_sel_call_trans.ssrc = get32(in + 8);
        b.wm_sel_call_trans.callerID_length = in[12];
        std::memcpy(b.wm_sel_call_trans.callerID, in + 13, in[12]);
        break;
    case WM_STANDBY:
        b.wm_standby.state = in[4];
        b.wm_standby.group = in[5];
        b.wm_standby.receiver_state = in[6];
        break;
    default:
        break;
    }
}

// The length is kept as the caller gives it, even when the text is shorter.
void set_caller_id(uint8_t (&stored)[SIG_PROTO_CALLER_ID_SIZE], uint8_t& storedLength,
                   const char* callerID, unsigned char length) {
    if (!callerID) {
        storedLength = 0;
        stored[0] = 0;
        return;
    }
    std::memset(stored, 0, sizeof stored);
    std::strncpy(reinterpret_cast<char*>(stored), callerID, sizeof stored - 1);
    storedLength = length;
}

void set_if_given(uint32_t& field, int value) {
    if (value >= 0) field = static_cast<uint32_t>(value);
}

}  // namespace

// ---- setters

int sig_proto_init(sig_proto* packet) {
    if (packet) std::memset(packet, 0, sizeof *packet);
    return 0;
}

int sig_proto_set_base(sig_proto* packet, int priority, int t, int p, int r, int s, int b, int rv,
                       int sh, int pw, int rs, int c, int status) {
    if (!packet) return 0;
    set_if_given(packet->priority, priority);
    set_if_given(packet->flag_t, t);
    set_if_given(packet->flag_p, p);
    set_if_given(packet->flag_r, r);
    set_if_given(packet->flag_s, s);
    set_if_given(packet->flag_b, b);
    set_if_given(packet->flag_rv, rv);
    set_if_given(packet->flag_sh, sh);
    set_if_given(packet->flag_pw, pw);
    set_if_given(packet->flag_rs, rs);
    set_if_given(packet->flag_c, c);
    set_if_given(packet->status, status);
    return 0;
}

int sig_proto_set_ptt(sig_proto* packet, int ptt) {
    if (packet) set_if_given(packet->flag_p, ptt);
    return 0;
}

int sig_proto_set_gw_adjust_chan(sig_proto* packet, unsigned id, float freq) {
    if (!packet) return 0;
    packet->body.gw_adjust_chan.id = id;
    packet->body.gw_adjust_chan.freq = freq;
    return 0;
}

// Standby state, squelch and RTE share the first body byte.
int sig_proto_set_gw_adjust_standby(sig_proto* packet, unsigned char state) {
    if (packet) packet->body.gw_adjust_standby.state = state;
    return 0;
}

int sig_proto_set_gw_adjust_squelsh(sig_proto* packet, unsigned char squelsh) {
    if (packet) packet->body.gw_adjust_squelsh.squelsh = squelsh;
    return 0;
}

int sig_proto_set_gw_adjust_rte(sig_proto* packet, unsigned char rte) {
    if (packet) packet->body.gw_adjust_rte.rte = rte;
    return 0;
}

int sig_proto_set_gw_selcall(sig_proto* packet, const char* callerID, unsigned char length) {
    if (!packet) return 0;
    sig_proto_gw_sel_call& body = packet->body.gw_sel_call;
    set_caller_id(body.callerID, body.callerID_length, callerID, length);
    return 0;
}

int sig_proto_set_gw_select_rc_chan(sig_proto* packet, unsigned char interface,
                                    unsigned char channel) {
    if (!packet) return 0;
    packet->body.gw_select_rc_chan.interface = interface;
    packet->body.gw_select_rc_chan.channel = channel;
    return 0;
}

int sig_proto_set_wm_radio_quality(sig_proto* packet, float quality) {
    if (packet) packet->body.wm_radio_quality.radio_quality = quality;
    return 0;
}

int sig_proto_set_wm_transmite(sig_proto* packet, in_addr session_addr, unsigned ssrc) {
    if (!packet) return 0;
    packet->body.wm_trans.session_addr = session_addr;
    packet->body.wm_trans.ssrc = ssrc;
    return 0;
}

int sig_proto_set_wm_chan(sig_proto* packet, unsigned id, float freq, unsigned char squelsh,
                          unsigned char rte) {
    if (!packet) return 0;
    sig_proto_wm_chan& body = packet->body.wm_chan;
    body.id = id;
    body.freq = freq;
    body.squelsh = squelsh;
    body.rte = rte;
    return 0;
}

int sig_proto_set_wm_selcall_transmite(sig_proto* packet, in_addr session_addr, unsigned ssrc,
                                       const char* callerID, unsigned char length) {
    if (!packet) return 0;
    sig_proto_wm_sel_call_trans& body = packet->body.wm_sel_call_trans;
    body.session_addr = session_addr;
    body.ssrc = ssrc;
    set_caller_id(body.callerID, body.callerID_length, callerID, length);
    return 0;
}

int sig_proto_set_wm_select_rc_chan(sig_proto* packet, unsigned char interface,
                                    unsigned char channel) {
    if (!packet) return 0;
    packet->body.wm_select_rc_chan.interface = interface;
    packet->body.wm_select_rc_chan.channel = channel;
    return 0;
}

int sig_proto_set_wm_standby(sig_proto* packet, unsigned char state, unsigned char group,
                             unsigned char receiver_state) {
    if (!packet) return 0;
    sig_proto_wm_standby& body = packet->body.wm_standby;
    body.state = state;
    body.group = group;
    body.receiver_state = receiver_state;
    return 0;
}

int sig_proto_is_ptt_command(const sig_proto* packet) {
    if (!packet) return 0;
    switch (packet->type) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_SEL_CALL:
    case WM_FLAG:
    case WM_TRANS:
    case WM_SEL_CALL_TRANS:
        return 1;
    default:
        return 0;
    }
}

// ---- pack and unpack

int sig_proto_pack(const sig_proto* packet, unsigned char* buffer, int size) {
    if (!packet || !buffer) return 0;
    if (size < SIG_PROTO_HEADER_SIZE) return -9;
    std::memset(buffer, 0, static_cast<size_t>(size));
    pack_header(*packet, buffer);
    if (size < pack_room(*packet)) return -9;
    return pack_body(*packet, buffer);
}

int sig_proto_unpack(sig_proto* packet, const unsigned char* buffer, int length) {
    if (!packet || !buffer) return -7;
    if (length < SIG_PROTO_HEADER_SIZE) return -9;
    if (!is_known_type(buffer[0])) {
        packet->type = buffer[0];
        return -8;
    }
    if (length < unpack_need(buffer, length)) return -9;
    sig_proto_body body = packet->body;
    unpack_body(buffer, body);
    unpack_header(buffer, *packet);
    packet->body = body;
    return 0;
}

// ---- names

s_sig_proto_table_name sig_proto_packet_const_name[SIG_PROTO_NAME_TABLE_SIZE] = {
    {GW_FLAG, "GW_FLAG"},
    {GW_ADJUST_CHAN, "GW_ADJUST_CHAN"},
    {GW_FLAG_PTT, "GW_FLAG_PTT"},
    {GW_FLAG_BSS, "GW_FLAG_BSS"},
    {GW_FLAG_RV, "GW_FLAG_RV"},
    {GW_FLAG_SH, "GW_FLAG_SH"},
    {GW_FLAG_PW, "GW_FLAG_PW"},
    {GW_FLAG_RS, "GW_FLAG_RS"},
    {GW_SEL_CALL, "GW_SEL_CALL"},
    {GW_SELECT_RC_CHAN, "GW_SELECT_RC_CHAN"},
    {GW_ADJUST_SQUELSHE, "GW_ADJUST_SQUELSHE"},
    {GW_ADJUST_RTE, "GW_ADJUST_RTE"},
    {GW_ADJUST_STANDBY, "GW_ADJUST_STANDBY"},
    {WM_FLAG, "WM_FLAG"},
    {WM_TRANS, "WM_TRANS"},
    {WM_RADIO_QUALITY, "WM_RADIO_QUALITY"},
    {WM_CHAN, "WM_CHAN"},
    {WM_SEL_CALL_TRANS, "WM_SEL_CALL_TRANS"},
    {WM_SELECT_RC_CHAN, "WM_SELECT_RC_CHAN"},
    {WM_STANDBY, "WM_STANDBY"},
    {-1, ""},
    // The remaining rows are zero: id 0, no name.
};

const char* sig_proto_find_name_by_id(const s_sig_proto_table_name* table, int id) {
    if (!table) return nullptr;
    for (int i = 0; i < SIG_PROTO_NAME_TABLE_SIZE && table[i].id >= 0; ++i)
        if (table[i].id == id) return table[i].name;
    return nullptr;
}

int sig_proto_find_id_by_name(const s_sig_proto_table_name* table, const char* name) {
    if (!table || !name) return -1;
    for (int i = 0; i < SIG_PROTO_NAME_TABLE_SIZE && table[i].id >= 0; ++i)
        if (table[i].name && std::strcmp(table[i].name, name) == 0) return table[i].id;
    return -1;
}

// ---- printers

namespace {

// Appends formatted text to a cleared buffer and cuts it at the buffer's end.
class TextOut {
public:
    TextOut(char* buffer, long size) : buffer_(buffer), size_(size) {
        std::memset(buffer_, 0, static_cast<size_t>(size_));
    }

    __attribute__((format(printf, 2, 3))) void add(const char* format, ...) {
        if (used_ >= size_ - 1) return;
        va_list args;
        va_start(args, format);
        const int n =
            std::vsnprintf(buffer_ + used_, static_cast<size_t>(size_ - used_), format, args);
        va_end(args);
        if (n > 0) used_ = n < size_ - used_ ? used_ + n : size_ - 1;
    }

    int length() const { return static_cast<int>(used_); }

private:
    char* buffer_;
    long size_;
    long used_ = 0;
};

unsigned long ul(uint32_t value) { return value; }

// The type line and the flag lines; then, unless only the flags are asked
// for, priority and status. False when the body lines must not follow.
bool print_header(TextOut& out, const sig_proto& p, int flags) {
    const char* name = sig_proto_find_name_by_id(sig_proto_packet_const_name, int(p.type));
    if ((flags & SIG_PROTO_PRINT_TYPE_NAME) && name)
        out.add("type      : %s,\n", name);
    else if (flags & (SIG_PROTO_PRINT_TYPE_NAME | SIG_PROTO_PRINT_TYPE_HEX))
        out.add("type      : 0x%08lX,\n", ul(p.type));
    out.add("flag_t   : %lu,\n", ul(p.flag_t));
    out.add("flag_p   : %lu,\n", ul(p.flag_p));
    out.add("flag_r   : %lu,\n", ul(p.flag_r));
    out.add("flag_s   : %lu,\n", ul(p.flag_s));
    out.add("flag_b   : %lu,\n", ul(p.flag_b));
    out.add("flag_rv  : %lu,\n", ul(p.flag_rv));
    out.add("flag_sh  : %lu,\n", ul(p.flag_sh));
    out.add("flag_rs  : %lu,\n", ul(p.flag_rs));
    out.add("flag_pw  : %lu,\n", ul(p.flag_pw));
    out.add("flag_c   : %lu,\n", ul(p.flag_c));
    if (flags & SIG_PROTO_PRINT_FLAGS_ONLY) return false;
    out.add("priority : %lu,\n", ul(p.priority));
    out.add("status   : %lu,\n", ul(p.status));
    return true;
}

void print_caller_id(TextOut& out, const uint8_t* callerID, int length) {
    for (int i = 0; i < length; ++i) out.add("[%d] : 0x%02X,\n", i, callerID[i]);
}

void print_addr(TextOut& out, const char* format, in_addr addr) {
    char text[INET_ADDRSTRLEN];
    out.add(format, inet_ntop(AF_INET, &addr, text, sizeof text));
}

// Runs one printer: clears the buffer, prints the header lines and, when
// they may follow, the body lines of `body(out, packet)`.
template <class Body>
int print(char* buffer, long size, const sig_proto* packet, int flags, Body body) {
    if (!buffer || !packet || size < 1) return 0;
    TextOut out(buffer, size);
    if (print_header(out, *packet, flags)) body(out, packet->body);
    return out.length();
}

}  // namespace

int sprintf_sig_proto_header(char* buffer, long size, const sig_proto* packet, int flags) {
    return print(buffer, size, packet, flags, [](TextOut&, const sig_proto_body&) {});
}

int sprintf_gw_adjust_chan(char* buffer, long size, const sig_proto* packet, int flags) {
    return print(buffer, size, packet, flags, [](TextOut& out, const sig_proto_body& b) {
        out.add("gw_adjust_chan.id   : %lu,\n", ul(b.gw_adjust_chan.id));
        out.add("gw_adjust_chan.freq : %4.4f,\n", double(b.gw_adjust_chan.freq));
    });
}

int sprintf_gw_selcall(char* buffer, long size, const sig_proto* packet, int flags) {
    return print(buffer, size, packet, flags, [](TextOut& out, const sig_proto_body& b) {
        out.add("gw_sel_call.callerID_length: %d,\n", b.gw_sel_call.callerID_length);
        out.add("gw_sel_call.callerID : \n");
        print_caller_id(out, b.gw_sel_call.callerID, b.gw_sel_call.callerID_length);
    });
}

int sprintf_gw_select_rc_chan(char* buffer, long size, const sig_proto* packet, int flags) {
    return print(buffer, size, packet, flags, [](TextOut& out, const sig_proto_body& b) {
        out.add("gw_select_rc_chan.interface : %d,\n", b.gw_select_rc_chan.interface);
        out.add("gw_select_rc_chan.channel   : %d,\n", b.gw_select_rc_chan.channel);
    });
}

int sprintf_gw_adjust_squelsh(char* buffer, long size, const sig_proto* packet, int flags) {
    return print(buffer, size, packet, flags, [](TextOut& out, const sig_proto_body& b) {
        out.add("gw_adjust_squelsh.squelsh   : %d,\n", b.gw_adjust_squelsh.squelsh);
    });
}

int sprintf_gw_adjust_rte(char* buffer, long size, const sig_proto* packet, int flags) {
    return print(buffer, size, packet, flags, [](TextOut& out, const sig_proto_body& b) {
        out.add("gw_adjust_rte.rte   : %d,\n", b.gw_adjust_rte.rte);
    });
}

int sprintf_gw_adjust_standby(char* buffer, long size, const sig_proto* packet, int flags) {
    return print(buffer, size, packet, flags, [](TextOut& out, const sig_proto_body& b) {
        out.add("gw_adjust_standby.state   : %d,\n", b.gw_adjust_standby.state);
    });
}

int sprintf_wm_trans(char* buffer, long size, const sig_proto* packet, int flags) {
    return print(buffer, size, packet, flags, [](TextOut& out, const sig_proto_body& b) {
        print_addr(out, "wm_trans.session_addr : %s,\n", b.wm_trans.session_addr);
        out.add("wm_trans.ssrc         : 0x%08lX,\n", ul(b.wm_trans.ssrc));
    });
}

int sprintf_wm_radio_qulity(char* buffer, long size, const sig_proto* packet, int flags) {
    return print(buffer, size, packet, flags, [](TextOut& out, const sig_proto_body& b) {
        out.add("wm_radio_quality.radio_quality : %4.5f,\n",
                double(b.wm_radio_quality.radio_quality));
    });
}

int sprintf_wm_chan(char* buffer, long size, const sig_proto* packet, int flags) {
    return print(buffer, size, packet, flags, [](TextOut& out, const sig_proto_body& b) {
        out.add("wm_chan.id   : %lu,\n", ul(b.wm_chan.id));
        out.add("wm_chan.freq : %4.4f,\n", double(b.wm_chan.freq));
        out.add("wm_chan.squelsh : %d,\n", b.wm_chan.squelsh);
        out.add("wm_chan.rte     : %d,\n", b.wm_chan.rte);
    });
}

int sprintf_wm_selcall(char* buffer, long size, const sig_proto* packet, int flags) {
    return print(buffer, size, packet, flags, [](TextOut& out, const sig_proto_body& b) {
        const sig_proto_wm_sel_call_trans& call = b.wm_sel_call_trans;
        print_addr(out, "wm_sel_call_trans.session_addr : %s,\n", call.session_addr);
        out.add("wm_sel_call_trans.ssrc         : 0x%08lX,\n", ul(call.ssrc));
        out.add("wm_sel_call_trans.callerID_length: %d,\n", call.callerID_length);
        out.add("wm_sel_call_trans.callerID : \n");
        print_caller_id(out, call.callerID, call.callerID_length);
    });
}

int sprintf_wm_select_rc_chan(char* buffer, long size, const sig_proto* packet, int flags) {
    return print(buffer, size, packet, flags, [](TextOut& out, const sig_proto_body& b) {
        out.add("wm_select_rc_chan.interface : %d,\n", b.wm_select_rc_chan.interface);
        out.add("wm_select_rc_chan.channel   : %d,\n", b.wm_select_rc_chan.channel);
    });
}

int sprintf_wm_standby(char* buffer, long size, const sig_proto* packet, int flags) {
    return print(buffer, size, packet, flags, [](TextOut& out, const sig_proto_body& b) {
        out.add("wm_standby.state           : %d,\n", b.wm_standby.state);
        out.add("wm_standby.group           : %d,\n", b.wm_standby.group);
        out.add("wm_standby.receiver_state  : %d,\n", b.wm_standby.receiver_state);
    });
}

const s_sig_proto_sprintf_table sig_proto_sprintf_table[SIG_PROTO_PRINTER_COUNT] = {
    {0, sprintf_sig_proto_header},
    {GW_FLAG, sprintf_sig_proto_header},
    {GW_FLAG_PTT, sprintf_sig_proto_header},
    {GW_FLAG_BSS, sprintf_sig_proto_header},
    {GW_FLAG_RV, sprintf_sig_proto_header},
    {GW_FLAG_SH, sprintf_sig_proto_header},
    {GW_FLAG_PW, sprintf_sig_proto_header},
    {GW_FLAG_RS, sprintf_sig_proto_header},
    {WM_FLAG, sprintf_sig_proto_header},
    {GW_ADJUST_CHAN, sprintf_gw_adjust_chan},
    {GW_SEL_CALL, sprintf_gw_selcall},
    {GW_SELECT_RC_CHAN, sprintf_gw_select_rc_chan},
    {GW_ADJUST_SQUELSHE, sprintf_gw_adjust_squelsh},
    {GW_ADJUST_RTE, sprintf_gw_adjust_rte},
    {GW_ADJUST_STANDBY, sprintf_gw_adjust_standby},
    {WM_TRANS, sprintf_wm_trans},
    {WM_RADIO_QUALITY, sprintf_wm_radio_qulity},
    {WM_CHAN, sprintf_wm_chan},
    {WM_SEL_CALL_TRANS, sprintf_wm_selcall},
    {WM_SELECT_RC_CHAN, sprintf_wm_select_rc_chan},
    {WM_STANDBY, sprintf_wm_standby},
};

int sprintf_sig_proto(char* buffer, long size, const sig_proto* packet, int flags) {
    if (!buffer || !packet || size < 1) return 0;
    std::memset(buffer, 0, static_cast<size_t>(size));
    for (const s_sig_proto_sprintf_table& row : sig_proto_sprintf_table)
        if (uint32_t(row.type) == packet->type) return row.printer(buffer, size, packet, flags);
    return 0;
}

// ---- comparisons

namespace {

// Compares the two records' texts as printed with `flags`: the length
// difference first, then the bytes.
int compare_printed(const sig_proto* a, const sig_proto* b, int flags) {
    if (!a || !b) return -1;
    enum { text_size = 8192 };
    char textA[text_size];
    char textB[text_size];
    const int lengthA = sprintf_sig_proto(textA, text_size, a, flags);
    const int lengthB = sprintf_sig_proto(textB, text_size, b, flags);
    if (lengthA != lengthB) return lengthB - lengthA;
    return std::memcmp(textA, textB, static_cast<size_t>(lengthA));
}

}  // namespace

int cmp_sig_proto(const sig_proto* a, const sig_proto* b) {
    return compare_printed(a, b, SIG_PROTO_PRINT_TYPE_HEX);
}

int cmp_sig_proto_flags(const sig_proto* a, const sig_proto* b) {
    return compare_printed(a, b, SIG_PROTO_PRINT_FLAGS_ONLY);
}

int cmp_sig_proto_header(const sig_proto* a, const sig_proto* b) {
    return compare_type_and_source(a, b);
}

// ---- the queue

int init_sig_proto_queue(sig_proto_queue* queue) {
    static const uint32_t init_sig_proto_type[] = {
        GW_FLAG,     GW_FLAG_PTT,    GW_FLAG_BSS, GW_FLAG_RV,       GW_FLAG_SH,    GW_FLAG_PW,
        GW_FLAG_RS,  GW_ADJUST_CHAN, GW_SEL_CALL, GW_SELECT_RC_CHAN, GW_ADJUST_STANDBY,
        WM_FLAG,     WM_TRANS,       WM_CHAN,     WM_RADIO_QUALITY,  WM_SEL_CALL_TRANS,
        WM_STANDBY,
    };
    enum { preset = sizeof init_sig_proto_type / sizeof init_sig_proto_type[0] };
    static_assert(preset == 17, "17 preset types");
    if (!queue) return 0;
    std::memset(queue, 0, sizeof *queue);
    for (int i = 0; i < SIG_PROTO_QUEUE_SIZE; ++i)
        queue->packets[i].type = i < preset ? init_sig_proto_type[i] : ~uint32_t{0};
    return 0;
}

int is_little_endian() { return __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__; }
