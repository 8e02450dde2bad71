#pragma once
// Where the programs the server starts write their standard output and
// error while the server's own descriptors 1 and 2 are its logger
// connection: a pipe per program, whose read end the server holds and
// whose lines the loop writes to std::cout. A program given the connection
// itself would be killed (SIGPIPE) by its first write after the logger
// restarted, as only the server's own copies follow the reconnection; the
// pipe's reader lives as long as the program writes, and its lines reach
// the logger of the moment. A pipe of its own keeps each program's lines
// apart from the others'.

#include <list>
#include <memory>
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
    // The lines a program's pipe gives the logger in a second at most:
    // past them the program waits on its full pipe until the next second,
    // so that one that writes without end costs the server little.
    static constexpr unsigned kLinesPerSecond = 100;

    static ChildOutput& instance();

    // From now on each program started gets a pipe of its own.
    void Open() { open_ = true; }
    // Forgets every pipe; a line begun is dropped.
    void Close();
    bool open() const { return open_; }
    // The write end of a new pipe, watched, for one program's standard
    // output and error; none, with errno, when no descriptor is left for it.
    Fd NewPipe();

private:
    class Pipe;

    ChildOutput() = default;
    void Forget(const Pipe* pipe);

    bool open_ = false;
    std::list<std::unique_ptr<Pipe>> pipes_;
};
