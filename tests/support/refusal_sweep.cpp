#include "tests/support/refusal_sweep.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>

namespace test {

using board::sim::Board;
using board::sim::Op;

const char* error_name(int error) {
    switch (error) {
        case EIO:
            return "EIO";
        case EAGAIN:
            return "EAGAIN";
        case EINTR:
            return "EINTR";
        case ENOENT:
            return "ENOENT";
        case ENODEV:
            return "ENODEV";
        case EBUSY:
            return "EBUSY";
        default:
            return std::strerror(error);
    }
}

std::string Refusal::describe() const {
    if (first == kNone) return "no refusal";
    std::ostringstream os;
    os << '#' << first;
    if (second != kNone) os << " and #" << second;
    if (lasting) os << " on";
    os << " (" << error_name(error) << ")";
    return os.str();
}

std::vector<size_t> Sampling::points(size_t count) const {
    std::set<size_t> at;
    for (size_t k = 0; k < count; k += std::max<size_t>(stride, 1)) at.insert(k);
    for (long offset : offsets) {
        const long k = offset < 0 ? static_cast<long>(count) + offset : offset;
        if (k >= 0 && k < static_cast<long>(count)) at.insert(static_cast<size_t>(k));
    }
    return {at.begin(), at.end()};
}

Plan refuse_each(Sampling sampling, Shape shape, int error) {
    return [=](size_t count) {
        std::vector<Refusal> runs;
        size_t turn = 0;
        for (size_t k : sampling.points(count)) {
            if (shape == Shape::pairs) {
                for (size_t apart = 1; apart <= 3; ++apart)
                    if ((sampling.everyApart || apart == 1 + turn % 3) && k + apart < count)
                        runs.push_back({k, k + apart, false, error});
                ++turn;
            } else {
                runs.push_back({k, Refusal::kNone, shape == Shape::lasting, error});
            }
        }
        return runs;
    };
}

RefusalSweep::RefusalSweep(RequestFilter pick, Plan plan)
    : pick_(std::move(pick)), plan_(std::move(plan)) {}

RefusalSweep::~RefusalSweep() {
    disarm();
}

void RefusalSweep::arm() {
    seen_ = 0;
    made_ = 0;
    armed_ = true;
    refusedCall_.clear();
    Board::instance().refuse = [this](Op op, const std::string& path, uint32_t request,
                                      const void* arg) {
        if (!pick_(op, path, request, arg)) return 0;
        if (!now_.covers(seen_++)) return 0;
        if (made_++ == 0) {
            std::ostringstream call;
            call << board::sim::to_string(op) << ' ' << path;
            if (request != 0) call << " 0x" << std::hex << request;
            refusedCall_ = call.str();
        }
        return now_.error;
    };
}

void RefusalSweep::disarm() {
    if (armed_ && now_.first == Refusal::kNone) requests_ = seen_;
    armed_ = false;
    Board::instance().refuse = nullptr;
}

size_t RefusalSweep::run(const std::function<void()>& scenario) {
    now_ = Refusal{};
    scenario();
    disarm();
    const std::vector<Refusal> runs = plan_(requests_);
    for (const Refusal& refusal : runs) {
        now_ = refusal;
        scenario();
        disarm();
    }
    now_ = Refusal{};
    return runs.size();
}

std::string RefusalSweep::describe() const {
    std::string text = now_.first == Refusal::kNone ? "no refusal" : "refused " + now_.describe();
    if (now_.first != Refusal::kNone)
        text +=
            ": " + (refusedCall_.empty() ? std::string("not reached") : "first " + refusedCall_);
    return text;
}

}  // namespace test
