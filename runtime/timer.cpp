#include "runtime/timer.h"

#include "runtime/multiplexer.h"

TimerEvent::~TimerEvent() { reset(); }

void TimerEvent::schedule(unsigned int ms) {
    due_ = Mux::milliseconds() + ms;
    Multiplexer::instance().set(this);
}

void TimerEvent::reset() { Multiplexer::instance().reset(this); }

void SimpleTimerEvent1::fire() {
    owner_->release();
    auto function = function_;
    delete this;
    function();
}

void TimerPoolPlugin::timerHook() {
    if (hooked_) return;
    Multiplexer::instance().hook(this);
    hooked_ = true;
}

void TimerPoolPlugin::timerUnhook() {
    if (!hooked_) return;
    Multiplexer::instance().unhook(this);
    hooked_ = false;
}

Dpc::~Dpc() {
    Deactivate();
    delete handler_;
}

void Dpc::Bind(DpcHandler* handler) {
    delete handler_;
    handler_ = handler;
}

void Dpc::Activate() {
    if (!active_) Multiplexer::instance().attach(this);
    active_ = true;
}

void Dpc::Deactivate() {
    if (active_) Multiplexer::instance().dettach(this);
    active_ = false;
}
