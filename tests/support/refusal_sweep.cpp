#include "tests/support/refusal_sweep.h"

#include <cstring>
#include <sstream>

namespace test {

using board::sim::Board;
using board::sim::Op;

RefusalSweep::RefusalSweep(RequestFilter pick, int error) : pick_(std::move(pick)), error_(error) {}

RefusalSweep::~RefusalSweep() { disarm(); }

void RefusalSweep::arm() {
    seen_ = 0;
    refusedCall_.clear();
    Board::instance().refuse = [this](Op op, const std::string& path, uint32_t request,
                                      const void* arg) {
        if (!pick_(op, path, request, arg)) return 0;
        if (seen_++ != toRefuse_) return 0;
        std::ostringstream call;
        call << board::sim::to_string(op) << ' ' << path;
        if (request != 0) call << " 0x" << std::hex << request;
        refusedCall_ = call.str();
        return error_;
    };
}

void RefusalSweep::disarm() { Board::instance().refuse = nullptr; }

size_t RefusalSweep::run(const std::function<void()>& scenario) {
    toRefuse_ = kNone;
    scenario();
    disarm();
    const size_t requests = seen_;
    for (toRefuse_ = 0; toRefuse_ < requests; ++toRefuse_) {
        scenario();
        disarm();
    }
    toRefuse_ = kNone;
    return requests;
}

std::string RefusalSweep::describe() const {
    if (toRefuse_ == kNone) return "no refusal";
    std::ostringstream os;
    os << "refused #" << toRefuse_ << ": "
       << (refusedCall_.empty() ? "not reached" : refusedCall_) << " (" << std::strerror(error_)
       << ")";
    return os.str();
}

}  // namespace test
