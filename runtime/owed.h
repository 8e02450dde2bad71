#pragma once
// What a device is owed: the requests its driver refused that the server
// still wants done, by key, until done. The owner's `settle(key)` asks the
// driver for what is wanted of the key NOW (so an older debt never undoes
// a newer request) and answers whether the device has it; one timer asks
// again every second for all that is owed.
//
//   Owed<int32_t> removals_{[this](int32_t index) { return Remove(index); }};
//   removals_.settle(index);  // asked now, owed while refused
//   removals_.pay(index);     // before the index is given again
//
// A single value (a filter, an input, a clock) is kept as what is wanted
// beside what the device has, and `Owed<>`'s settle is the pass that
// writes the difference.

#include <functional>
#include <set>
#include <utility>
#include <variant>

#include "runtime/timer.h"

template <class Key = std::monostate>
class Owed {
public:
    static constexpr unsigned kRetryMs = 1000;
    using Settle = std::function<bool(const Key&)>;

    explicit Owed(Settle settle) : settle_(std::move(settle)) {}
    Owed(const Owed&) = delete;
    Owed& operator=(const Owed&) = delete;

    // Asks for `key` now: true when done, else owed.
    bool settle(const Key& key = Key()) {
        if (!settle_(key)) {
            owe(key);
            return false;
        }
        forgive(key);
        return true;
    }
    // Owed, first asked for a second from now.
    void owe(const Key& key = Key()) {
        keys_.insert(key);
        if (!timer_) timer_.set(kRetryMs, &Owed::pay_all, this);
    }
    // Asks now for `key` when it is owed: true when nothing is owed of it.
    bool pay(const Key& key = Key()) { return !owes(key) || settle(key); }
    void pay_all() {
        const std::set<Key> owed = keys_;  // settling changes it
        for (const Key& key : owed) pay(key);
    }
    bool owes(const Key& key = Key()) const { return keys_.count(key) != 0; }
    const std::set<Key>& keys() const { return keys_; }
    // Nothing is owed of `key` any more: done otherwise, or gone with the device.
    void forgive(const Key& key = Key()) {
        keys_.erase(key);
        if (keys_.empty()) timer_.reset();
    }
    void clear() {
        keys_.clear();
        timer_.reset();
    }

private:
    Settle settle_;
    std::set<Key> keys_;
    Timer timer_;
};
