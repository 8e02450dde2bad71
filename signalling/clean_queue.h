#pragma once
// A fixed-capacity ring of packets for the signalling links. A slot that no
// longer holds a queued element is always left empty, so a packet that has
// left the queue is never kept alive by it and its block goes back to the
// pool as soon as nobody else holds it. Nothing allocates.

template <class T, unsigned N>
class CleanQueue {
public:
    CleanQueue() = default;
    CleanQueue(const CleanQueue&) = delete;
    CleanQueue& operator=(const CleanQueue&) = delete;
    ~CleanQueue() {
        for (unsigned i = N; i-- > 0;) slots_[i] = T();
    }

    unsigned count() const { return count_; }
    // The capacity.
    unsigned size() const { return N; }
    bool empty() const { return count_ == 0; }
    bool full() const { return count_ == N; }

    // Adds the newest element; false (and nothing changes) when full.
    bool put(const T& element) {
        if (full()) return false;
        slots_[write_] = element;
        write_ = next(write_);
        ++count_;
        return true;
    }
    // Adds an element in front of the oldest, so that it is taken out first
    // (a frame put back for retransmission); false when full.
    bool append(const T& element) {
        if (full()) return false;
        read_ = previous(read_);
        slots_[read_] = element;
        ++count_;
        return true;
    }
    // Takes out the oldest element (into *element unless null).
    bool get(T* element) {
        if (empty()) return false;
        if (element) *element = slots_[read_];
        slots_[read_] = T();
        read_ = next(read_);
        --count_;
        return true;
    }
    bool get(T& element) { return get(&element); }
    // Takes out the newest element.
    bool get_last(T* element) {
        if (empty()) return false;
        write_ = previous(write_);
        if (element) *element = slots_[write_];
        slots_[write_] = T();
        --count_;
        return true;
    }
    // A copy of the oldest element, left queued; with null only whether
    // there is one.
    bool preview(T* element) const {
        if (empty()) return false;
        if (element) *element = slots_[read_];
        return true;
    }
    void clear() {
        while (get(nullptr)) {
        }
        read_ = write_ = 0;
    }

private:
    static unsigned next(unsigned i) { return i == N - 1 ? 0 : i + 1; }
    static unsigned previous(unsigned i) { return i == 0 ? N - 1 : i - 1; }

    T slots_[N];
    unsigned read_ = 0;
    unsigned write_ = 0;
    unsigned count_ = 0;
};
