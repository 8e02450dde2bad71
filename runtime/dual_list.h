#pragma once
// Intrusive doubly linked list: items derive from F_dual_list_item<T> and
// carry their own links, so linking and unlinking allocate nothing. An item
// is in at most one list at a time.

#include <cstddef>

template <class T>
class F_dual_list;

template <class T>
class F_dual_list_item {
public:
    F_dual_list_item() = default;
    // Links are never copied: a copy starts unlinked.
    F_dual_list_item(const F_dual_list_item&) {}
    F_dual_list_item& operator=(const F_dual_list_item&) { return *this; }
    ~F_dual_list_item() {
        if (list_) list_->remove(static_cast<T*>(this));
    }

    T* next_item() const { return next_; }
    T* prev_item() const { return prev_; }
    F_dual_list<T>* owner_list() const { return list_; }
    bool linked() const { return list_ != nullptr; }

private:
    friend class F_dual_list<T>;
    T* next_ = nullptr;
    T* prev_ = nullptr;
    F_dual_list<T>* list_ = nullptr;
};

template <class T>
class F_dual_list {
public:
    F_dual_list() = default;
    F_dual_list(const F_dual_list&) = delete;
    F_dual_list& operator=(const F_dual_list&) = delete;
    // Unlinks what is left; the items belong to their owners.
    ~F_dual_list() { clear(); }

    T* head() const { return head_; }
    T* tail() const { return tail_; }
    size_t count() const { return count_; }
    bool empty() const { return count_ == 0; }
    bool contains(const T* item) const { return link(item).list_ == this; }

    void push_back(T* item) { insert_after(tail_, item); }
    void push_front(T* item) { insert_before(head_, item); }

    // Inserts `item` after `pos` (at the head when `pos` is null).
    void insert_after(T* pos, T* item) {
        detach_from_other(item);
        auto& l = link(item);
        l.prev_ = pos;
        l.next_ = pos ? link(pos).next_ : head_;
        if (l.prev_) link(l.prev_).next_ = item; else head_ = item;
        if (l.next_) link(l.next_).prev_ = item; else tail_ = item;
        l.list_ = this;
        ++count_;
    }

    // Inserts `item` before `pos` (at the tail when `pos` is null).
    void insert_before(T* pos, T* item) { insert_after(pos ? link(pos).prev_ : tail_, item); }

    // Unlinks `item` when it is in this list; returns whether it was.
    bool remove(T* item) {
        auto& l = link(item);
        if (l.list_ != this) return false;
        if (l.prev_) link(l.prev_).next_ = l.next_; else head_ = l.next_;
        if (l.next_) link(l.next_).prev_ = l.prev_; else tail_ = l.prev_;
        l.next_ = l.prev_ = nullptr;
        l.list_ = nullptr;
        --count_;
        return true;
    }

    T* pop_front() {
        T* item = head_;
        if (item) remove(item);
        return item;
    }

    void clear() {
        while (head_) remove(head_);
    }

    // Moves every item of `other`, in order, to the tail of this list.
    void splice_back(F_dual_list& other) {
        while (T* item = other.pop_front()) push_back(item);
    }

private:
    static F_dual_list_item<T>& link(T* item) { return *item; }
    static const F_dual_list_item<T>& link(const T* item) { return *item; }
    void detach_from_other(T* item) {
        if (auto* other = link(item).list_) other->remove(item);
    }

    T* head_ = nullptr;
    T* tail_ = nullptr;
    size_t count_ = 0;
};
