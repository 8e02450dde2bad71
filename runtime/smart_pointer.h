#pragma once
// Intrusive reference-counted pointer. The pointee carries an unsigned
// `ref_count`; when the last handle goes, `smart_pointer_release(p)` runs
// (found by argument-dependent lookup; by default it deletes the object).

void SmartPtrAssertion();
void SharedPtrAssertion();

template <class T>
void smart_pointer_release(T* p) {
    delete p;
}

template <class T>
class Smart_pointer {
public:
    Smart_pointer() = default;
    Smart_pointer(T* p) : p_(p) { add_ref(); }  // NOLINT: implicit by design
    Smart_pointer(const Smart_pointer& other) : p_(other.p_) { add_ref(); }
    template <class U>
    Smart_pointer(const Smart_pointer<U>& other) : p_(other.get()) {
        add_ref();
    }
    Smart_pointer(Smart_pointer&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ~Smart_pointer() { release(); }

    Smart_pointer& operator=(const Smart_pointer& other) { return *this = other.p_; }
    Smart_pointer& operator=(Smart_pointer&& other) noexcept {
        if (this != &other) {
            release();
            p_ = other.p_;
            other.p_ = nullptr;
        }
        return *this;
    }
    Smart_pointer& operator=(T* p) {
        if (p != p_) {
            if (p) ++p->ref_count;  // before the release: p may be held only through us
            release();
            p_ = p;
        }
        return *this;
    }

    T* operator->() const {
        if (!p_) SmartPtrAssertion();
        return p_;
    }
    T& operator*() const {
        if (!p_) SmartPtrAssertion();
        return *p_;
    }
    T* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    bool operator==(const Smart_pointer& other) const { return p_ == other.p_; }
    bool operator!=(const Smart_pointer& other) const { return p_ != other.p_; }

private:
    void add_ref() {
        if (p_) ++p_->ref_count;
    }
    void release() {
        T* p = p_;
        p_ = nullptr;
        if (p && p->ref_count > 0 && --p->ref_count == 0) smart_pointer_release(p);
    }

    T* p_ = nullptr;
};
