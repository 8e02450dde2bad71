#pragma once
// The opens of the simulated board by descriptor number, so that a request
// finds its open without a system call. The descriptors stay native (close,
// dup and poll are the kernel's), and the kernel hands the number of a
// closed descriptor out again for anything. So this process's close(),
// dup2(), dup3(), close_range() and closefrom() are hooked to forget a
// number as it is closed or replaced. Some closes are not seen: the C
// library's own (fclose(), daemon()'s dup2() onto 0 to 2) and a raw close
// system call. A number one of them freed would still name its old open;
// so socket(), socketpair(), accept(), accept4(), pipe(), pipe2(), open(),
// openat(), dup() and fcntl()'s F_DUPFD and F_DUPFD_CLOEXEC are hooked too,
// to forget the number they hand out: a socket, pipe or file that takes it
// is not answered by the board. (What the C library opens itself, as
// daemon()'s /dev/null, is not seen either.)
// Numbers from kDescriptorTableSize up are not kept.

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
