#include "runtime/timer.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "runtime/multiplexer.h"
#include "runtime/owed.h"
#include "tests/support/case_name.h"
#include "tests/support/stream_capture.h"
#include "tests/support/virtual_loop.h"

namespace {

// Notes its firings as "name@<ms since the test began>".
struct Alarm {
    Alarm(const std::string& name, std::vector<std::string>& log, test::ManualClock& clock)
        : name(name), log(log), clock(clock), start(clock.now_us()) {}
    void OnTimer() { log.push_back(name + "@" + std::to_string((clock.now_us() - start) / 1000)); }

    std::string name;
    std::vector<std::string>& log;
    test::ManualClock& clock;
    uint64_t start;
    Timer timer;
};

class Timers : public ::testing::Test {
protected:
    test::VirtualLoop loop;
    test::IdleDescriptor idle;

    Alarm& alarm(const std::string& name) {
        alarms.push_back(std::make_unique<Alarm>(name, log, loop.clock()));
        return *alarms.back();
    }
    void arm(Alarm& a, unsigned ms) { a.timer.set(ms, &Alarm::OnTimer, &a); }

    std::vector<std::string> log;
    std::vector<std::unique_ptr<Alarm>> alarms;
};

TEST_F(Timers, EqualDueTimesFireInArmingOrderAndEarlierOnesFirst) {
    Alarm& first = alarm("first");
    Alarm& second = alarm("second");
    Alarm& early = alarm("early");
    arm(first, 100);
    arm(second, 100);
    arm(early, 50);
    loop.advance(200);
    EXPECT_EQ((std::vector<std::string>{"early@50", "first@100", "second@100"}), log);
}

TEST_F(Timers, SettingATimerAgainReplacesItsPendingEvent) {
    Alarm& a = alarm("a");
    arm(a, 100);
    arm(a, 300);
    EXPECT_EQ(1u, multiplexer.timer_count());
    loop.advance(500);
    EXPECT_EQ((std::vector<std::string>{"a@300"}), log);
    EXPECT_FALSE(a.timer.pending());
}

TEST_F(Timers, DestroyingOrResettingATimerCancelsIt) {
    Alarm& a = alarm("a");
    arm(a, 100);
    a.timer.reset();
    {
        Alarm b("b", log, loop.clock());
        arm(b, 100);
    }
    EXPECT_EQ(0u, multiplexer.timer_count());
    arm(alarm("c"), 100);
    loop.advance(200);
    EXPECT_EQ((std::vector<std::string>{"c@100"}), log);
}

// Re-arms its own Timer from the callback it gets.
struct Ticker {
    void OnTick(Timer* t) {
        pendingInside = t->pending();
        if (++ticks == 1 && onFirstTick) onFirstTick();
        if (ticks < limit) t->set(period, &Ticker::OnTick, this);
    }
    unsigned period = 0;
    int ticks = 0;
    int limit = 3;
    bool pendingInside = true;
    std::function<void()> onFirstTick;
    Timer timer;
};

TEST_F(Timers, CallbackGetsItsTimerEmptyAndMayRearmIt) {
    Ticker ticker;
    ticker.period = 1000;
    ticker.timer.set(1000, &Ticker::OnTick, &ticker);
    loop.advance(2500);
    EXPECT_EQ(2, ticker.ticks);
    EXPECT_FALSE(ticker.pendingInside);
    loop.advance(500);
    EXPECT_EQ(3, ticker.ticks);
    EXPECT_FALSE(ticker.timer.pending());
}

TEST_F(Timers, ZeroDelayRearmFiresAgainInTheSameStepWhileTheClockStands) {
    Ticker ticker;  // period 0
    ticker.timer.set(0, &Ticker::OnTick, &ticker);
    multiplexer.timers_schedule();
    EXPECT_EQ(3, ticker.ticks);
}

// A callback may delete the object that owns the Timer.
struct Doomed {
    void OnTimer() { delete this; }
    Timer timer;
};

TEST_F(Timers, CallbackMayDeleteTheTimersOwner) {
    auto* doomed = new Doomed;
    doomed->timer.set(10, &Doomed::OnTimer, doomed);
    arm(alarm("after"), 10);
    loop.advance(20);
    EXPECT_EQ((std::vector<std::string>{"after@10"}), log);
}

TEST_F(Timers, OrderSurvivesTheMillisecondWrap) {
    loop.clock().set_milliseconds(0xFFFFFF00u);  // 256 ms before the wrap
    Alarm& before = alarm("before");
    Alarm& after = alarm("after");
    Alarm& across = alarm("across");
    arm(after, 400);   // due 0x00000090
    arm(before, 200);  // due 0xFFFFFFC8
    arm(across, 256);  // due 0x00000000
    loop.advance(1000);
    EXPECT_EQ((std::vector<std::string>{"before@200", "across@256", "after@400"}), log);
}

TEST_F(Timers, WaitOfMoreThanTwoHoursIsAWaitLikeAnyOther) {
    arm(alarm("a"), 3 * 3600 * 1000);
    test::StreamCapture err(std::cerr);
    EXPECT_EQ(3 * 3600 * 1000, multiplexer.timers_schedule());
    EXPECT_EQ("", err.str());
}

// The date stepped by an operator or a time daemon, before the timers are
// due or by a periodic timer's own callback.
struct DateStep {
    const char* what;
    int64_t ms;
    bool byTheCallback;
};

const DateStep kDateSteps[] = {
    {"back half an hour", -30 * 60 * 1000, false},
    {"forward an hour", 60 * 60 * 1000, false},
    {"back half an hour by the callback", -30 * 60 * 1000, true},
};

class TimersAcrossADateStep : public Timers, public ::testing::WithParamInterface<DateStep> {};

TEST_P(TimersAcrossADateStep, FireOnTime) {
    Ticker ticker;
    ticker.period = 1000;
    auto step = [&] { loop.clock().step_date(GetParam().ms); };
    if (GetParam().byTheCallback) ticker.onFirstTick = step;
    ticker.timer.set(1000, &Ticker::OnTick, &ticker);
    arm(alarm("slow"), 30000);
    if (!GetParam().byTheCallback) step();
    loop.advance(1000);
    EXPECT_EQ(1, ticker.ticks) << "on time, and once in its pass";
    loop.advance(28999);
    EXPECT_EQ(3, ticker.ticks);
    EXPECT_TRUE(log.empty()) << "not early";
    loop.advance(1);
    EXPECT_EQ((std::vector<std::string>{"slow@30000"}), log);
}

INSTANTIATE_TEST_SUITE_P(Timers, TimersAcrossADateStep, ::testing::ValuesIn(kDateSteps),
                         test::CaseName());

TEST_F(Timers, TimerArmedByADeferredCallForNowMakesThePassPollWithoutWaiting) {
    Alarm& a = alarm("a");
    test::Deferred arming([&] {
        arm(a, 0);
        arming.dpc.Deactivate();
    });
    loop.pump();
    EXPECT_EQ(0, loop.clock().last_timeout());
    EXPECT_TRUE(log.empty());
    loop.pump();
    EXPECT_EQ((std::vector<std::string>{"a@0"}), log);
}

TEST_F(Timers, WaitIsRecomputedAfterTheDeferredCallsJustBeforePoll) {
    Alarm& a = alarm("a");
    int runs = 0;
    test::Deferred arming([&] {
        if (++runs == 2) arm(a, 30);  // the run right before the wait
    });
    loop.pump();
    EXPECT_EQ(30, loop.clock().last_timeout()) << "not an endless wait";
}

struct SpecSlot {
    void OnUpdate() { ++updates; }
    void OnSpaced(Timer* t) { spacedOwner = t; }
    static const TimerSpec<SpecSlot>::Spec TUpdatespec;
    static const TimerSpec<SpecSlot>::Spec TSpacedspec;
    TimerSpec<SpecSlot>::SpecTimer<TUpdatespec> updateTimer;
    TimerSpec<SpecSlot>::SpecTimer<TSpacedspec> spacedTimer;
    int updates = 0;
    Timer* spacedOwner = nullptr;
};
const TimerSpec<SpecSlot>::Spec SpecSlot::TUpdatespec = {&SpecSlot::OnUpdate, 0, 3000};
const TimerSpec<SpecSlot>::Spec SpecSlot::TSpacedspec = {0, &SpecSlot::OnSpaced, 500};

TEST_F(Timers, TimerSpecArmsFromAStaticRecord) {
    SpecSlot slot;
    slot.updateTimer.set(&slot);
    slot.spacedTimer.set(&slot);
    loop.advance(2999);
    EXPECT_EQ(&slot.spacedTimer, slot.spacedOwner);
    EXPECT_EQ(0, slot.updates);
    loop.advance(1);
    EXPECT_EQ(1, slot.updates);
}

// ---- deferred calls

struct Counter {
    void Run() { ++runs; }
    int runs = 0;
};

class Dpcs : public ::testing::Test {
protected:
    test::VirtualLoop loop;
    test::IdleDescriptor idle;
};

TEST_F(Dpcs, ActiveCallRunsTwicePerPassOrOnceWhenSoMarkedUntilDeactivated) {
    for (bool oncePerPass : {false, true}) {
        Counter c;
        Dpc dpc;
        dpc.Bind(&c, &Counter::Run);
        if (oncePerPass) dpc.set_once_per_pass();
        dpc.Activate();
        dpc.Activate();
        loop.pump(3);
        const int runs = oncePerPass ? 3 : 6;
        EXPECT_EQ(runs, c.runs) << "activating twice leaves one entry";
        dpc.Deactivate();
        loop.pump();
        EXPECT_EQ(runs, c.runs);
    }
}

TEST_F(Dpcs, ActiveCallsRunInAscendingAddressOrder) {
    std::vector<int> order;
    struct Step {
        std::vector<int>* order;
        int id;
        void Run() { order->push_back(id); }
    } steps[2] = {{&order, 0}, {&order, 1}};
    Dpc dpcs[2];
    dpcs[1].Bind(&steps[1], &Step::Run);
    dpcs[0].Bind(&steps[0], &Step::Run);
    dpcs[1].Activate();
    dpcs[0].Activate();
    multiplexer.execute_dpc();
    EXPECT_EQ((std::vector<int>{0, 1}), order);
}

TEST_F(Dpcs, CallDeactivatedByAnEarlierOneDoesNotRunAndOneActivatedRunsNextTime) {
    Counter later, fresh;
    Dpc dpcs[3];  // ascending addresses: first, later, fresh
    struct First {
        Dpc* later;
        Dpc* fresh;
        void Run() {
            later->Deactivate();
            fresh->Activate();
        }
    } first{&dpcs[1], &dpcs[2]};
    dpcs[0].Bind(&first, &First::Run);
    dpcs[1].Bind(&later, &Counter::Run);
    dpcs[2].Bind(&fresh, &Counter::Run);
    dpcs[0].Activate();
    dpcs[1].Activate();
    multiplexer.execute_dpc();
    EXPECT_EQ(0, later.runs);
    EXPECT_EQ(0, fresh.runs) << "joins from the next run on";
    multiplexer.execute_dpc();
    EXPECT_EQ(1, fresh.runs);
}

TEST_F(Dpcs, CallMayDeleteItself) {
    struct OneShot {
        Dpc* dpc = new Dpc;
        void Run() { delete dpc; }
    } once;
    Counter c;
    Dpc other;
    once.dpc->Bind(&once, &OneShot::Run);
    other.Bind(&c, &Counter::Run);
    once.dpc->Activate();
    other.Activate();
    multiplexer.execute_dpc();
    multiplexer.execute_dpc();
    EXPECT_EQ(2, c.runs);
}

// ---- timer plug-ins

struct Plugin : TimerPoolPlugin {
    int timerPoll() override {
        ++asked;
        if (unhookOther) unhookOther->timerUnhook();
        return wait;
    }
    int wait = -1;
    int asked = 0;
    TimerPoolPlugin* unhookOther = nullptr;
};

TEST_F(Dpcs, LoopWaitsForTheNearestPluginDueTime) {
    Plugin none, far, near;
    far.wait = 700;
    near.wait = 250;
    none.timerHook();
    far.timerHook();
    near.timerHook();
    loop.pump();
    EXPECT_EQ(250, loop.clock().last_timeout());
    near.timerUnhook();
    loop.pump();
    EXPECT_EQ(700, loop.clock().last_timeout());
}

TEST_F(Dpcs, PluginUnhookedDuringThePollIsNotAsked) {
    Plugin first, second, third;
    first.unhookOther = &second;
    third.wait = 40;
    first.timerHook();
    second.timerHook();
    third.timerHook();
    EXPECT_EQ(40, multiplexer.timerPoll_schedule());
    EXPECT_EQ(0, second.asked);
    EXPECT_FALSE(second.hooked());
    first.unhookOther = nullptr;
    multiplexer.timerPoll_schedule();
    EXPECT_EQ(0, second.asked) << "gone from the list too";
    EXPECT_EQ(2, third.asked);
}

// A debt is asked for at once, then every second until the driver takes it
// (`refusals` times refused), or now when paid; what is done is asked no more.
TEST_F(Timers, WhatIsOwedIsAskedAgainEverySecondUntilDone) {
    std::map<int, int> refusals{{1, 2}, {2, 1}, {3, 9}};
    std::vector<int> asked;
    Owed<int> owed([&](int key) {
        asked.push_back(key);
        return refusals[key]-- <= 0;
    });
    EXPECT_FALSE(owed.settle(1));
    EXPECT_FALSE(owed.settle(2));
    owed.owe(3);
    EXPECT_TRUE(owed.settle(4));
    EXPECT_FALSE(owed.pay(3));
    loop.advance(999);
    EXPECT_EQ((std::vector<int>{1, 2, 4, 3}), asked);
    loop.advance(1);
    EXPECT_EQ((std::set<int>{1, 3}), owed.keys());
    EXPECT_TRUE(owed.pay(2)) << "nothing owed";
    loop.advance(1000);
    EXPECT_EQ((std::set<int>{3}), owed.keys());
    owed.clear();
    loop.advance(5000);
    EXPECT_EQ((std::vector<int>{1, 2, 4, 3, 1, 2, 3, 1, 3}), asked);
    EXPECT_EQ(0u, multiplexer.timer_count());
}

}  // namespace
