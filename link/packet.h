#pragma once
// Packets: every frame and byte stream that passes through a protocol layer.
// A `Packet` is a copy-on-write handle on one 64 KiB block of a static pool;
// the block holds a window (the data) with head room in front, where lower
// layers push their headers, and tail room behind, where payload is appended.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "link/list_allocator.h"
#include "runtime/smart_pointer.h"

constexpr unsigned packet_max_size = 65536;

// One pool block. Invariant: buffer <= data <= tail <= buffer end.
struct _Packet {
    // A free block: an empty window at the buffer end.
    _Packet() : data(buffer_end()), tail(buffer_end()) {}
    // The same head room and window bytes; the count is the caller's to set.
    _Packet(const _Packet& other);
    _Packet& operator=(const _Packet&) = delete;

    unsigned char* buffer_end() { return buffer + packet_max_size; }
    const unsigned char* buffer_end() const { return buffer + packet_max_size; }
    unsigned headroom() const { return static_cast<unsigned>(data - buffer); }
    unsigned length() const { return static_cast<unsigned>(tail - data); }
    unsigned tailroom() const { return static_cast<unsigned>(buffer_end() - tail); }
    bool pointers_valid() const {
        return buffer <= data && data <= tail && tail <= buffer_end();
    }

    uint32_t ref_count = 0;  // handles holding the block; 0 while it is free
    unsigned char* data;     // first byte of the window
    unsigned char* tail;     // one past the last byte of the window
    unsigned char buffer[packet_max_size];
};

using Packet_pool = List_allocator<_Packet, 1024, Dummy_critical_section>;
static Packet_pool::Initializer packet_pool_initializer;

// The last handle on a block gives it back to the pool.
inline void smart_pointer_release(_Packet* block) {
    Packet_pool::deallocate(block);
}

class Packet;

// A snapshot of a packet for the fatal-assertion report.
class PacketInfo {
public:
    explicit PacketInfo(const Packet& packet);
    void put(std::ostream& os) const;

private:
    bool null_ = true;
    bool pointers_valid_ = false;
    unsigned headroom_ = 0, length_ = 0, tailroom_ = 0;
    std::vector<unsigned char> window_;
};

// Copying a Packet shares its block; any operation that changes the block
// first gives this handle a private copy, so the other holders never see it.
// Running out of pool blocks throws std::bad_alloc, the one exception of the
// system; a broken precondition is fatal ("PACKET ASSERTION FAILED!").
class Packet : private Smart_pointer<_Packet> {
public:
    Packet() = default;

    explicit operator bool() const { return get() != nullptr; }
    // Read access, never copies the block.
    const _Packet* get() const { return Smart_pointer::get(); }
    // Write access: an unshared block (copied first when shared).
    _Packet* operator->();
    // Makes the block this handle's own: a shared block is copied into a new
    // one from the pool (std::bad_alloc when none is left).
    void prepare_for_modify();

    unsigned length() const { return get() ? get()->length() : 0; }
    unsigned _headroom() const { return get() ? get()->headroom() : 0; }
    unsigned _tailroom() const { return get() ? get()->tailroom() : 0; }
    unsigned _length() const { return length(); }
    // The window's first byte, null for a null packet.
    const unsigned char* data() const { return get() ? get()->data : nullptr; }

    // On a null packet these take a block with n bytes of head (tail) room
    // and an empty window; on a held one they move the window n bytes
    // towards the end (start).
    void reserve_head(unsigned n);
    void reserve_tail(unsigned n);

    void push(unsigned char byte);
    void push16_b(unsigned short value);  // the packet then begins big-endian

    void put(unsigned char byte);
    void put(const void* bytes, unsigned n);
    void put16_b(unsigned short value);  // high byte first
    void put16(unsigned short value);    // low byte first
    void put(const Packet& other);
    void put(const std::string& s);  // a length byte, then the characters
    // Takes n bytes already written at the start of the tail room (a read
    // straight into `operator->()->tail`) into the window.
    void extend(unsigned n);

    // A byte that is not there reads as 0.
    unsigned char pull();
    unsigned short pull16_b();
    unsigned short pull16_l();
    std::string pull_string();
    void skip(unsigned n);
    void trim(unsigned n);

    unsigned char operator[](unsigned index) const;
    // A new packet holding len bytes from start, in a block of its own.
    Packet sub(unsigned len, unsigned start) const;

    std::string text() const;  // "01 AB"; "(null)"; "(bad)"
    bool dump(std::ostream& os) const;
    bool dump_context(std::ostream& os) const;

    void check(const char* step);
    [[noreturn]] static void check_fail(const char* format, ...)
        __attribute__((format(printf, 1, 2)));

    void passert(bool condition, const char* text) const {
        if (!condition) assertion_failed(text);
    }
    void passert(bool condition, const std::string& text) const {
        if (!condition) assertion_failed(text.c_str());
    }

private:
    [[noreturn]] void assertion_failed(const char* text) const;
    void take_block();
    void move_window(long offset);
};
