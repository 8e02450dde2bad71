#pragma once
// A real shortage of descriptors, for the code that must live through one:
// the descriptor limit is lowered and every number left is taken, so only
// a forked child of the test process (tests/support/forked_child.h) should
// have one. UndefinedBehaviorSanitizer's vptr check needs two descriptors (a pipe)
// the first time a call reaches an object of a class through a base: one
// that finds none reports a false "invalid vptr". So a scenario runs the
// code it runs short of descriptors once before, with descriptors to spare.

#include <cstdint>
#include <functional>
#include <vector>

namespace test {

class DescriptorShortage {
public:
    // Takes every descriptor the process may still open but `spare`.
    explicit DescriptorShortage(unsigned spare = 0);
    ~DescriptorShortage() { end(); }
    DescriptorShortage(const DescriptorShortage&) = delete;
    DescriptorShortage& operator=(const DescriptorShortage&) = delete;

    // Takes the descriptors freed since (by the code under test).
    void take_freed();
    // Frees every descriptor it took and lifts the limit.
    void end();

private:
    std::vector<int> taken_;
    unsigned long limit_ = 0;  // the soft limit before
};

// Rests a listener once and watches it again, with descriptors to spare:
// the rehearsal of a listener's rest. `advance` moves the loop's clock.
void rehearse_listen_rest(const std::function<void(uint64_t ms)>& advance);

// A listener with a connection waiting, out of descriptors, the loop driven
// by `pump` and `advance`: its accept fails and it rests, the descriptor its
// watch let go of is taken, the rest ends with none free, then all are
// freed and the next rest ends.
void rest_out_of_descriptors(const std::function<void()>& pump,
                             const std::function<void(uint64_t ms)>& advance);

}  // namespace test
