// The authentication link's records, cut from a byte stream however it
// arrives.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "slots/auth_link.h"
#include "tests/slots/modem_fixture.h"

namespace {

using Step = Auth::Reader::Step;
using test::auth_record;
using test::word;

// Feeds `stream` arriving in pieces of `piece` bytes, reading as the
// connection does: never past the missing bytes. Records give their session,
// a bad length "bad <length>" (and ends the stream).
std::vector<std::string> feed(const std::string& stream, size_t piece) {
    Auth::Reader reader;
    std::vector<std::string> out;
    for (size_t at = 0; at < stream.size();) {
        const size_t arrived = std::min(piece, stream.size() - at);
        for (size_t left = arrived; left > 0;) {
            const size_t n = std::min(left, reader.missing());
            std::memcpy(reader.space(), stream.data() + at, n);
            at += n;
            left -= n;
            const Step step = reader.filled(n);
            if (step == Step::Bad) {
                out.push_back("bad " + std::to_string(reader.bad_length()));
                return out;
            }
            if (step == Step::Record) out.push_back(std::to_string(reader.record().header().session));
        }
    }
    return out;
}

TEST(AuthReader, CutsRecordsHoweverTheyArrive) {
    const std::string two = auth_record(16, 2, 7) + auth_record(140, 1, 9);
    struct Case {
        std::string stream;
        size_t piece;
        std::vector<std::string> expected;
    } cases[] = {
        {auth_record(140, 1, 5), 1, {"5"}},        // a record in single bytes
        {two, two.size(), {"7", "9"}},             // two in one read
        {two, 13, {"7", "9"}},
        {auth_record(512, 4, 3), 100, {"3"}},      // the largest
        {auth_record(12, 9, 4), 12, {"4"}},        // a header alone
        {word(3) + "xxxxxxxx", 12, {"bad 3"}},
        {auth_record(513, 1, 1), 600, {"bad 513"}},
        {auth_record(16, 2, 7) + word(0), 64, {"7", "bad 0"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, feed(c.stream, c.piece)) << "piece " << c.piece;
    for (uint32_t length = 4; length < Auth::kHeaderSize; ++length)
        EXPECT_EQ(std::vector<std::string>{"bad " + std::to_string(length)},
                  feed(word(length) + std::string(20, '\0'), 1));
}

}  // namespace
