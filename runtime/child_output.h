#pragma once
// Where the programs the server starts write their standard output and
// error while the server's own descriptors 1 and 2 are its logger
// connection: a pipe whose ends the server holds, whose lines the loop
// writes to std::cout. A program given the connection itself would be
// killed (SIGPIPE) by its first write after the logger restarted, as only
// the server's own copies follow the reconnection; the pipe's reader lives
// as long as the server, and its lines reach the logger of the moment.

#include <string>

#include "runtime/fd.h"
#include "runtime/multiplexer.h"

class ChildOutput {
public:
    // The longest line written as one, which a log record holds whole
    // with the longest identity; a longer one is cut into pieces.
    static constexpr size_t kMaxLine = 900;
    // What one readable event reads at most.
    static constexpr size_t kReadSize = 4096;

    static ChildOutput& instance();

    // Makes the pipe and watches it; false, with errno, when it cannot
    // (no descriptor left): the programs then get the server's own.
    bool Open();
    // Forgets the pipe; a line begun is dropped.
    void Close();
    // The descriptor a program gets as its standard output and error; -1
    // when it keeps the server's.
    int descriptor() const { return write_.get(); }

private:
    ChildOutput();

    void OnOutput(int fd, short revents);
    void Take(const char* data, size_t size);

    Fd write_;
    Event output_;
    std::string line_;  // begun, its line end not read yet
};
