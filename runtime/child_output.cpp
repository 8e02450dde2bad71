#include "runtime/child_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <iostream>

#include "runtime/descriptor_end.h"

ChildOutput& ChildOutput::instance() {
    static ChildOutput* output = new ChildOutput;  // lives until exit
    return *output;
}

ChildOutput::ChildOutput() {
    output_.Bind("ChildOutput::OnOutput", &ChildOutput::OnOutput, this);
}

// The write end blocks: a program that writes faster than the logger takes
// waits, as it would on the logger's own socket.
bool ChildOutput::Open() {
    Close();
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    const Fd read(ends[0]);
    Fd write(ends[1]);
    if (!read.NonBlock() || !output_.Schedule(read, POLLIN)) return false;
    write_ = std::move(write);
    return true;
}

void ChildOutput::Close() {
    output_.Release();
    write_.close();
    line_.clear();
}

// The server holds the write end, so the pipe does not end while it runs;
// one that fails all the same is made anew.
void ChildOutput::OnOutput(int fd, short revents) {
    if (!CallsForRead(revents)) return;
    char buffer[kReadSize];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) return Take(buffer, static_cast<size_t>(n));
    const char* ended = ReadEnd(n, revents);
    if (!ended) return;
    EndWatch(output_, "child output: read error: ", ended);
    if (!Open()) std::cerr << "child output: the programs write to the logger itself" << std::endl;
}

// Each line as the programs wrote it, without its line end; the lines of
// one read go in one flush.
void ChildOutput::Take(const char* data, size_t size) {
    for (size_t at = 0; at < size; ++at) {
        if (data[at] != '\n') line_ += data[at];
        if (data[at] != '\n' && line_.size() < kMaxLine) continue;
        if (!line_.empty()) std::cout << line_ << '\n';
        line_.clear();
    }
    std::cout.flush();
}
