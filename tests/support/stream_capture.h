#pragma once
// Captures what the code writes to a standard stream (std::cout, std::cerr,
// std::clog) while the capture lives.

#include <ostream>
#include <sstream>
#include <string>

namespace test {

class StreamCapture {
public:
    explicit StreamCapture(std::ostream& stream) : stream_(stream) {
        previous_ = stream_.rdbuf(text_.rdbuf());
    }
    ~StreamCapture() { stream_.rdbuf(previous_); }
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;

    std::string str() const { return text_.str(); }
    void clear() { text_.str(std::string()); }

private:
    std::ostream& stream_;
    std::ostringstream text_;
    std::streambuf* previous_;
};

}  // namespace test
