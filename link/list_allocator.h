#pragma once
// A fixed pool of N objects of T in static storage, handed out from a free
// list: taking and returning an object is a constant-time list operation and
// never touches the heap. Objects come back to the tail and leave from the
// head, so they are reused first-in first-out.

#include <cstddef>
#include <mutex>
#include <new>

#include "runtime/dual_list.h"

// The pool's lock when one thread only uses it: it does nothing.
struct Dummy_critical_section {
    void lock() {}
    void unlock() {}
};

template <class T, unsigned N, class Lock>
class List_allocator {
public:
    // The object at the head of the free list, or null when none is free.
    static T* allocate() {
        std::lock_guard<Lock> guard(lock_);
        Block* block = free_list.pop_front();
        return block ? &block->object : nullptr;
    }

    static void deallocate(T* object) {
        std::lock_guard<Lock> guard(lock_);
        free_list.push_back(&block_of(object));
    }

    static size_t free_count() { return free_list.count(); }
    static constexpr unsigned capacity() { return N; }

    // Every source file that uses the pool holds one (through its header), so
    // the pool is ready before any static constructor can need it: the first
    // one to run builds the free list.
    class Initializer {
    public:
        Initializer() {
            if (users_++ == 0) initialize();
        }
    };

private:
    struct Block : F_dual_list_item<Block> {
        T object;
    };

    static Block& block(size_t index) {
        return *std::launder(reinterpret_cast<Block*>(blocks) + index);
    }
    static Block& block_of(T* object) {
        auto offset = reinterpret_cast<unsigned char*>(object) - blocks;
        return block(static_cast<size_t>(offset) / sizeof(Block));
    }

    // Blocks are built here, not by a static constructor of their own: such a
    // constructor could run after another file's initializer had already
    // filled the free list, and would undo it.
    static void initialize() {
        for (size_t i = 0; i < N; ++i) free_list.push_back(new (&block(i)) Block);
    }

    alignas(Block) static inline unsigned char blocks[N * sizeof(Block)];
    // Constant-initialised (empty) before any dynamic initialisation runs.
    static inline F_dual_list<Block> free_list;
    static inline Lock lock_;
    static inline unsigned users_ = 0;
};
