#pragma once
// The opens of the simulated board by descriptor number, so that a request
// finds its open without a system call. The descriptors stay native (close,
// dup and poll are the kernel's), and the kernel hands the number of a
// closed descriptor out again for anything; so this process's close(),
// dup2(), dup3() and close_range() are hooked to forget a number as it is
// closed or replaced. (The C library's own closes, of descriptors it opened
// itself, are not seen; no board descriptor is ever handed to it.) Numbers
// from kDescriptorTableSize up are not kept.

namespace board::sim {

class Channel;

constexpr int kDescriptorTableSize = 4096;

// The open noted for `fd`; null when none is.
Channel* known_open(int fd);
// `fd` is a descriptor of `channel`: its open or a duplicate found by its file.
void note_open(int fd, Channel* channel);
// Forgets every number noted for `channel`, which is going.
void forget_open(const Channel* channel);
void forget_all_opens();

}  // namespace board::sim
