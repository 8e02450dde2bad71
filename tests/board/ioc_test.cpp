#include "board/ioc.h"

#include <gtest/gtest.h>

namespace {

// Known numbers of the board's encoding: _IOW('W', 2, int) and _IOR('W', 1, int)
// and _IO('T', 0x54) as the board's headers lay them out.
static_assert(board::ppc_ioc(board::ppc_ioc_write, 'W', 2, 4) == 0x80045702u);
static_assert(board::ppc_ioc(board::ppc_ioc_read, 'W', 1, 4) == 0x40045701u);
static_assert(board::ppc_ioc(board::ppc_ioc_none, 'T', 0x54, 0) == 0x20005454u);
static_assert(board::ppc_ioc(board::ppc_ioc_read | board::ppc_ioc_write, 'x', 3, 8) ==
              0xc0087803u);

TEST(Ioc, FieldsReadBack) {
    constexpr uint32_t r = board::ppc_ioc(board::ppc_ioc_write, 'h', 17, 12);
    EXPECT_EQ(board::ppc_ioc_write, board::ppc_ioc_dir(r));
    EXPECT_EQ(12u, board::ppc_ioc_size(r));
    EXPECT_EQ(static_cast<uint32_t>('h'), board::ppc_ioc_type(r));
    EXPECT_EQ(17u, board::ppc_ioc_nr(r));
}

}  // namespace
