#include "runtime/child_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <iostream>

#include "runtime/descriptor_end.h"
#include "runtime/timer.h"

// One program's pipe: its read end, what was read and not written yet
// (what lies past the second's budget), and the line begun.
class ChildOutput::Pipe {
public:
    Pipe(ChildOutput& owner, Fd read) : owner_(owner), read_(std::move(read)) {
        output_.Bind("ChildOutput::OnOutput", &Pipe::OnOutput, this);
    }
    bool Watch() { return output_.Schedule(read_, POLLIN); }

private:
    void OnOutput(int fd, short revents);
    void OnSecond() {
        lines_ = 0;
        Write();
    }
    void Write();
    void Emit();

    ChildOutput& owner_;
    Fd read_;
    Event output_;
    Timer second_;  // pending while this second's lines are counted
    std::string unread_;
    std::string line_;    // begun, its line end not read yet
    unsigned lines_ = 0;  // written this second
    bool ended_ = false;  // the program and all it started closed their ends
};

// Every writer closing its end is the pipe's end; a read error is said.
void ChildOutput::Pipe::OnOutput(int fd, short revents) {
    if (!CallsForRead(revents)) return;
    char buffer[kReadSize];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        unread_.assign(buffer, static_cast<size_t>(n));
    } else {
        const char* ended = ReadEnd(n, revents);
        if (!ended) return;
        if (n < 0) std::cerr << "child output: read error: " << ended << std::endl;
        output_.Release();
        ended_ = true;
    }
    Write();
}

// The lines read, each as the program wrote it without its line end (a
// zero byte, which would end a record's text, as "\0"), up to the second's
// budget; past it the pipe is not watched until the next second, and the
// program waits on it once it is full. The lines of one read go in one
// flush.
void ChildOutput::Pipe::Write() {
    size_t at = 0;
    for (; at < unread_.size() && lines_ < kLinesPerSecond; ++at) {
        if (unread_[at] == '\n') {
            Emit();
            continue;
        }
        if (unread_[at])
            line_ += unread_[at];
        else
            line_ += "\\0";
        if (line_.size() >= kMaxLine) Emit();
    }
    unread_.erase(0, at);
    if (ended_ && unread_.empty()) Emit();  // the last line, without its end
    std::cout.flush();
    if (!unread_.empty()) return output_.Release();
    if (ended_) return owner_.Forget(this);
    // Watched again after a pause; a watch that fails is tried a second later.
    if (output_.fd() < 0 && !Watch() && !second_) second_.set(1000, &Pipe::OnSecond, this);
}

// An empty line is no record.
void ChildOutput::Pipe::Emit() {
    if (line_.empty()) return;
    std::cout << line_ << '\n';
    line_.clear();
    if (lines_++ == 0) second_.set(1000, &Pipe::OnSecond, this);
}

ChildOutput& ChildOutput::instance() {
    static ChildOutput* output = new ChildOutput;  // lives until exit
    return *output;
}

void ChildOutput::Close() {
    open_ = false;
    pipes_.clear();
}

// The write end blocks: a program whose pipe is full waits, as it would on
// the logger's own socket.
Fd ChildOutput::NewPipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return Fd();
    Fd read(ends[0]);
    Fd write(ends[1]);
    if (!read.NonBlock()) return Fd();
    auto pipe = std::make_unique<Pipe>(*this, std::move(read));
    if (!pipe->Watch()) return Fd();
    pipes_.push_back(std::move(pipe));
    return write;
}

void ChildOutput::Forget(const Pipe* pipe) {
    pipes_.remove_if([pipe](const std::unique_ptr<Pipe>& p) { return p.get() == pipe; });
}
