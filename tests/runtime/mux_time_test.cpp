#include "runtime/mux_time.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/virtual_loop.h"

namespace {

Mux::timeval tv(int32_t sec, int32_t usec) {
    Mux::timeval t;
    t.tv_sec = sec;
    t.tv_usec = usec;
    return t;
}

TEST(MuxClock, MillisecondsAndMicrosecondsWrapAt32Bits) {
    test::VirtualLoop loop;
    loop.clock().set_us(1700000000ull * 1000000 + 123456);
    uint64_t us = 1700000000ull * 1000000 + 123456;
    EXPECT_EQ(static_cast<uint32_t>(us / 1000), Mux::milliseconds());
    EXPECT_EQ(static_cast<uint32_t>(us), Mux::microseconds());
    EXPECT_EQ(1700000000, Mux::seconds());
    loop.clock().set_milliseconds(0xFFFFFFFFu);
    loop.clock().advance(2);
    EXPECT_EQ(1u, Mux::milliseconds());
}

TEST(MuxClock, CachedTimeHoldsUntilCleared) {
    test::VirtualLoop loop;
    Mux::mux_settimeofday();
    uint32_t cached = Mux::milliseconds();
    loop.clock().advance(50);
    EXPECT_EQ(cached, Mux::milliseconds());
    Mux::mux_cleartimeofday();
    EXPECT_EQ(cached + 50, Mux::milliseconds());
}

TEST(MuxTime, DiffIsZeroWhenTheSecondIsEarlierAndTruncatesTowardZero) {
    EXPECT_EQ(0, Mux::timevaldiff(tv(10, 0), tv(9, 999999)));
    EXPECT_EQ(1500, Mux::timevaldiff(tv(10, 0), tv(11, 500000)));
    EXPECT_EQ(1000, Mux::timevaldiff(tv(10, 900000), tv(11, 899999)))
        << "the microsecond difference (-1 us) truncates to 0 on its own";
    EXPECT_EQ(999, Mux::timevaldiff(tv(10, 900000), tv(11, 898999)));
}

TEST(MuxTime, AddCarriesAndSubBorrows) {
    Mux::timeval a = tv(1, 700000);
    Mux::timevaladd(a, tv(0, 600000));
    EXPECT_EQ(2, a.tv_sec);
    EXPECT_EQ(300000, a.tv_usec);
    Mux::timevalsub(a, tv(0, 400000));
    EXPECT_EQ(1, a.tv_sec);
    EXPECT_EQ(900000, a.tv_usec);
    Mux::timeval out;
    Mux::timevalsub2(tv(5, 0), tv(2, 1), out);
    EXPECT_EQ(2, out.tv_sec);
    EXPECT_EQ(999999, out.tv_usec);
}

TEST(MuxTime, ToStringShowsLocalTimeAndSixDigitsOfMicroseconds) {
    const char* tz = std::getenv("TZ");
    std::string saved = tz ? tz : "";
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ("1970-01-01 00:00:00.000005", Mux::timevaltostring(tv(0, 5)));
    EXPECT_EQ("2024-02-15 18:41:00.123456", Mux::timevaltostring(tv(1708022460, 123456)));
    if (tz)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

TEST(MuxTime, PeriodTimerExpiresOnlyBeyondItsPeriod) {
    Mux::timeval_timer timer;
    Mux::timeval_timer_init(timer, tv(100, 0), 1000);
    EXPECT_FALSE(Mux::timeval_timer_is_expired(timer, tv(101, 0)));
    EXPECT_TRUE(Mux::timeval_timer_is_expired(timer, tv(101, 1000)));
    Mux::timeval_timer_inc(timer);
    EXPECT_EQ(101, timer.start.tv_sec);
    timer.period = 0;
    EXPECT_FALSE(Mux::timeval_timer_is_expired(timer, tv(200, 0)));
}

}  // namespace
