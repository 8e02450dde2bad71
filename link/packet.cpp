#include "link/packet.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>

_Packet::_Packet(const _Packet& other)
    : data(buffer + other.headroom()), tail(data + other.length()) {
    std::memcpy(data, other.data, other.length());
}

_Packet* Packet::operator->() {
    if (!get()) SmartPtrAssertion();
    prepare_for_modify();
    return Smart_pointer::get();
}

void Packet::prepare_for_modify() {
    const _Packet* shared = get();
    if (!shared || shared->ref_count <= 1) return;
    _Packet* own = Packet_pool::allocate();
    if (!own) throw std::bad_alloc();
    new (own) _Packet(*shared);
    Smart_pointer::operator=(own);  // lets go of the shared block
}

// A null packet takes a block with an empty window at the buffer start.
void Packet::take_block() {
    _Packet* block = Packet_pool::allocate();
    if (!block) throw std::bad_alloc();
    Smart_pointer::operator=(block);
    passert(get() != nullptr, "allocation fail");
}

// Moves the window over the buffer. A window that holds bytes takes them
// along, so a reservation never changes the data, only the rooms around it.
void Packet::move_window(long offset) {
    _Packet* block = operator->();
    unsigned char* data = block->data + offset;
    if (block->length()) std::memmove(data, block->data, block->length());
    block->tail = data + block->length();
    block->data = data;
}

void Packet::reserve_head(unsigned n) {
    passert(n <= packet_max_size, "length>packet_max_size");
    if (!get()) {
        take_block();
        _Packet* block = operator->();
        block->data = block->tail = block->buffer + n;
        return;
    }
    // The window must stay inside the buffer: its bytes count with the room.
    passert(_headroom() + _length() + n <= packet_max_size, "new_len>packet_max_size");
    move_window(n);
}

void Packet::reserve_tail(unsigned n) {
    passert(n <= packet_max_size, "len>packet_max_size");
    if (!get()) {
        take_block();
        _Packet* block = operator->();
        block->data = block->tail = block->buffer_end() - n;
        return;
    }
    passert(_tailroom() + _length() + n <= packet_max_size, "_tailroom()+len <= packet_max_size");
    move_window(-static_cast<long>(n));
}

void Packet::push(unsigned char byte) {
    passert(get() != nullptr, "null packet");
    passert(_headroom() >= 1, "len<=_headroom()");
    _Packet* block = operator->();
    --block->data;
    check("push");
    *block->data = byte;
}

void Packet::push16_b(unsigned short value) {
    push(static_cast<unsigned char>(value));
    push(static_cast<unsigned char>(value >> 8));
}

void Packet::put(unsigned char byte) {
    passert(get() != nullptr, "null packet");
    passert(_tailroom() >= 1, "len<=_tailroom()");
    _Packet* block = operator->();
    unsigned char* at = block->tail++;
    check("put");
    *at = byte;
}

void Packet::put(const void* bytes, unsigned n) {
    passert(get() != nullptr, "null packet");
    passert(n <= _tailroom(), "len<=_tailroom()");
    _Packet* block = operator->();
    unsigned char* at = block->tail;
    block->tail += n;
    check("put");
    if (n) std::memcpy(at, bytes, n);
}

void Packet::put16_b(unsigned short value) {
    put(static_cast<unsigned char>(value >> 8));
    put(static_cast<unsigned char>(value));
}

void Packet::put16(unsigned short value) {
    put(static_cast<unsigned char>(value));
    put(static_cast<unsigned char>(value >> 8));
}

void Packet::put(const Packet& other) {
    // Counted once: appending a packet to itself doubles it.
    const unsigned n = other.length();
    for (unsigned i = 0; i < n; ++i) put(other[i]);
}

void Packet::put(const std::string& s) {
    put(static_cast<unsigned char>(s.size()));
    for (char c : s) put(static_cast<unsigned char>(c));
}

void Packet::extend(unsigned n) {
    passert(get() != nullptr, "null packet");
    passert(n <= _tailroom(), "len<=_tailroom()");
    operator->()->tail += n;
    check("put");
}

unsigned char Packet::pull() {
    passert(get() != nullptr, "null packet");
    if (length() == 0) return 0;
    passert(_length() >= 1, "len<=_length()");
    return *operator->()->data++;
}

unsigned short Packet::pull16_b() {
    unsigned short high = pull();
    return static_cast<unsigned short>(high << 8 | pull());
}

unsigned short Packet::pull16_l() {
    unsigned short low = pull();
    return static_cast<unsigned short>(pull() << 8 | low);
}

std::string Packet::pull_string() {
    passert(get() != nullptr, "null packet");
    unsigned n = pull();
    std::string s;
    s.reserve(n);
    while (n--) s += static_cast<char>(pull());
    return s;
}

void Packet::skip(unsigned n) {
    passert(get() != nullptr, "null packet");
    passert(n <= _length(), "len<=_length()");
    operator->()->data += n;
}

void Packet::trim(unsigned n) {
    passert(get() != nullptr, "null packet");
    passert(n <= _length(), "len<=_length()");
    operator->()->tail -= n;
    check("trim");
}

unsigned char Packet::operator[](unsigned index) const {
    passert(get() != nullptr, "null packet");
    passert(index < _length(), "index out of range");
    return get()->data[index];
}

Packet Packet::sub(unsigned len, unsigned start) const {
    passert(get() != nullptr, "null packet");
    passert(start <= _length(), "start<=_length()");
    passert(len <= _length() - start, "start+len<=_length()");
    Packet result(*this);
    _Packet* block = result.operator->();  // copies: the block is shared
    block->data += start;
    block->tail = block->data + len;
    return result;
}

std::string Packet::text() const {
    const _Packet* block = get();
    if (!block) return "(null)";
    if (!block->pointers_valid()) return "(bad)";
    std::string out;
    out.reserve(block->length() * 3);
    char hex[4];
    for (const unsigned char* b = block->data; b != block->tail; ++b) {
        std::snprintf(hex, sizeof hex, b == block->data ? "%02X" : " %02X", *b);
        out += hex;
    }
    return out;
}

static void put_rooms(std::ostream& os, unsigned head, unsigned length, unsigned tail) {
    os << "head=" << head << ", data=" << length << ", tail=" << tail;
}

static void put_bytes(std::ostream& os, const unsigned char* begin, const unsigned char* end) {
    auto flags = os.flags();
    os << std::hex;
    for (const unsigned char* b = begin; b != end; ++b) os << ' ' << unsigned{*b};
    os.flags(flags);
}

bool Packet::dump(std::ostream& os) const {
    if (!get()) return false;
    put_rooms(os, _headroom(), _length(), _tailroom());
    return true;
}

bool Packet::dump_context(std::ostream& os) const {
    const _Packet* block = get();
    if (!block || !block->pointers_valid()) return false;
    if (block->length() == 0) return true;
    os << "dump:";
    put_bytes(os, block->data, block->tail);
    return true;
}

void Packet::check(const char* step) {
    const _Packet* block = get();
    if (!block) check_fail("after \"%s\" packet is null", step);
    if (block->data < block->buffer || block->data > block->buffer_end())
        check_fail("after \"%s\" fdata invalid", step);
    if (block->tail < block->buffer || block->tail > block->buffer_end())
        check_fail("after \"%s\" ftail invalid", step);
    if (block->data > block->tail) check_fail("after \"%s\" fdata>ftail", step);
}

void Packet::check_fail(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::clog << "packet check fail" << std::endl << text << std::endl << "terminate." << std::endl;
    std::terminate();
}

void Packet::assertion_failed(const char* text) const {
    std::clog << "PACKET ASSERTION FAILED!" << std::endl;
    PacketInfo info(*this);
    std::clog << text << std::endl;
    info.put(std::clog);
    std::clog << std::endl;
    std::terminate();
}

PacketInfo::PacketInfo(const Packet& packet) {
    const _Packet* block = packet.get();
    if (!block) return;
    null_ = false;
    headroom_ = block->headroom();
    length_ = block->length();
    tailroom_ = block->tailroom();
    pointers_valid_ = block->pointers_valid();
    if (pointers_valid_) window_.assign(block->data, block->tail);
}

void PacketInfo::put(std::ostream& os) const {
    if (null_) {
        os << "(null)" << std::endl;
        return;
    }
    put_rooms(os, headroom_, length_, tailroom_);
    os << std::endl;
    if (!pointers_valid_) {
        os << "can't dump packet: wrong pointers" << std::endl;
        return;
    }
    if (window_.empty()) return;
    os << "dump:" << std::endl;
    put_bytes(os, window_.data(), window_.data() + window_.size());
    os << std::endl;
}
