#pragma once
// Sequence numbers that count modulo Max + 1 (LAPD and SS7 count modulo 128).
//
//   Cyclic<unsigned int, 127u> va, nr, vs;
//   if ((va <= nr) <= vs) ...   // nr lies on the cyclic way from va to vs

template <class T, T Max>
class Cyclic {
public:
    static constexpr T modulus = Max + 1;

    // Two numbers a and b; compared with c it tells whether b lies on the
    // cyclic way from a to c, both ends included.
    struct LessEqPair {
        T a, b;
        bool operator<=(Cyclic c) const { return distance(a, c) >= distance(a, b); }
    };

    Cyclic() = default;
    explicit Cyclic(T value) : value_(value % modulus) {}

    operator T() const { return value_; }

    Cyclic& operator++() {
        value_ = value_ == Max ? 0 : value_ + 1;
        return *this;
    }
    Cyclic operator++(int) {
        Cyclic old = *this;
        ++*this;
        return old;
    }
    Cyclic& operator--() {
        value_ = value_ == 0 ? Max : value_ - 1;
        return *this;
    }

    friend Cyclic operator+(Cyclic a, Cyclic b) { return Cyclic(a.value_ + b.value_); }
    friend LessEqPair operator<=(Cyclic a, Cyclic b) { return LessEqPair{a.value_, b.value_}; }

    // Steps forward from `from` to `to`: (to - from) mod modulus.
    static T distance(T from, T to) { return to >= from ? to - from : modulus - from + to; }

private:
    T value_ = 0;
};
