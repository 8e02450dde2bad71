// Driver records are plain structs in the board's native byte order: the
// driver and the server share their layout, so nothing may convert them.

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <cstring>
#include <memory>

#include "board/devio.h"
#include "board/ioc.h"
#include "board/sim/sim_board.h"
#include "tests/board/byte_view.h"

namespace {

#if defined(__powerpc__)
// The board's build: what this lane exists to exercise.
static_assert(test::kBigEndianHost, "the board is big-endian");
static_assert(CHAR_MIN == 0, "plain char is unsigned on the board");
static_assert(sizeof(long) == 4 && sizeof(void*) == 4, "the board is 32-bit");
#endif

// Laid out as the board's driver headers lay out their records: fixed-width
// fields, each at its natural alignment.
struct SampleRecord {
    uint16_t channel;
    uint8_t state;
    int8_t level;
    uint32_t mask;
    uint64_t stamp;
};
static_assert(sizeof(SampleRecord) == 16);
static_assert(offsetof(SampleRecord, channel) == 0);
static_assert(offsetof(SampleRecord, state) == 2);
static_assert(offsetof(SampleRecord, level) == 3);
static_assert(offsetof(SampleRecord, mask) == 4);
static_assert(offsetof(SampleRecord, stamp) == 8);

// The request carries the record's size, in the board's encoding on every host.
constexpr uint32_t kPutSample =
    board::ppc_ioc(board::ppc_ioc_write, 's', 1, sizeof(SampleRecord));
static_assert(kPutSample == 0x80107301u);

const SampleRecord kSample{0x0102, 0x03, -2, 0x04050607u, 0x08090a0b0c0d0e0full};

const test::Bytes kSampleBigEndian{0x01, 0x02, 0x03, 0xfe, 0x04, 0x05, 0x06, 0x07,
                                   0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
const test::Bytes kSampleLittleEndian{0x02, 0x01, 0x03, 0xfe, 0x07, 0x06, 0x05, 0x04,
                                      0x0f, 0x0e, 0x0d, 0x0c, 0x0b, 0x0a, 0x09, 0x08};

TEST(DriverRecord, BytesFollowTheHostsOwnOrder) {
    EXPECT_EQ(test::kBigEndianHost ? kSampleBigEndian : kSampleLittleEndian,
              test::bytes_of(kSample));
}

// A device that takes a record by ioctl and hands it back as an event.
class EchoDevice : public board::sim::Model {
public:
    int ioctl(board::sim::Channel& channel, uint32_t request, void* arg) override {
        if (request != kPutSample) {
            errno = ENOTTY;
            return -1;
        }
        return channel.deliver(arg, sizeof(SampleRecord)) ? 0 : -1;
    }
};

TEST(DriverRecord, ReachesTheDriverAndComesBackUnconverted) {
    auto& sim = board::sim::Board::instance();
    sim.install("/dev/test-echo", std::make_unique<EchoDevice>());
    sim.reset();
    int fd = board::open("/dev/test-echo", O_RDWR);
    ASSERT_GE(fd, 0);

    SampleRecord sent = kSample;
    ASSERT_EQ(0, board::ioctl(fd, kPutSample, &sent));
    SampleRecord event{};
    ASSERT_EQ(static_cast<ssize_t>(sizeof event), board::read(fd, &event, sizeof event));
    ::close(fd);

    EXPECT_EQ(test::bytes_of(kSample), sim.journal("/dev/test-echo").at(1).data);
    EXPECT_EQ(test::bytes_of(kSample), test::bytes_of(event));
}

}  // namespace
