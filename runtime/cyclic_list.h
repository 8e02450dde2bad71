#pragma once
// Intrusive circular doubly linked ring. An object joins a ring through a
// CyclicList member; the ring head is a bare node. A node alone links to
// itself, so unlinking never needs to know the head.
//
//   Containers::CyclicList ring;                       // the head
//   ring.AddTail(item->node);
//   for (auto it = ring.begin(); it != ring.end(); ++it)
//       Item& item = Containers::offset<Item>(*it, &Item::node);

#include <cstddef>
#include <cstring>

namespace Containers {

class CyclicList {
public:
    // constexpr, so that a ring head at namespace scope is linked before
    // any constructor runs.
    constexpr CyclicList() noexcept : next(this), prev(this) {}
    // A node belongs to one ring: copies start alone.
    CyclicList(const CyclicList&) { InternalInit(); }
    CyclicList& operator=(const CyclicList&) = delete;
    // Leaves the ring it is in. A head going first leaves its nodes linked
    // to each other, so they can still leave later.
    ~CyclicList() { Del(); }

    // The self-link of a node alone.
    void InternalInit() { next = prev = this; }
    // Joins `before` and `after`, which had one node between them.
    static void InternalDel(CyclicList* before, CyclicList* after) {
        after->prev = before;
        before->next = after;
    }

    // Links `node` in front of this node: at the tail when this is a head.
    void AddTail(CyclicList& node) {
        node.Del();
        node.prev = prev;
        node.next = this;
        prev->next = &node;
        prev = &node;
    }
    // Leaves the ring and stands alone.
    void Del() {
        InternalDel(prev, next);
        InternalInit();
    }
    bool alone() const { return next == this; }

    // Walks the ring by `next`, from the node after the head back to it.
    class TIterator {
    public:
        TIterator() = default;
        explicit TIterator(CyclicList* node) : node_(node) {}
        TIterator& operator=(CyclicList* node) {
            node_ = node;
            return *this;
        }
        bool operator==(const TIterator& other) const { return node_ == other.node_; }
        bool operator!=(const TIterator& other) const { return node_ != other.node_; }
        CyclicList& operator*() const { return *node_; }
        TIterator& operator++() {
            node_ = node_->next;
            return *this;
        }

    private:
        CyclicList* node_ = nullptr;
    };
    TIterator begin() { return TIterator(next); }
    TIterator end() { return TIterator(this); }

    CyclicList* next;
    CyclicList* prev;
};

// The object that holds `node` as its member `member`: the node's address
// minus the member's offset. Under the Itanium C++ ABI (GCC and clang, on
// the build host and on the board) a pointer to data member holds exactly
// that offset, which works for classes with virtual functions too, where
// offsetof is not allowed.
template <class T>
T& offset(CyclicList& node, CyclicList T::*member) {
    static_assert(sizeof member == sizeof(std::ptrdiff_t),
                  "a pointer to data member is its byte offset");
    std::ptrdiff_t bytes;
    std::memcpy(&bytes, &member, sizeof bytes);
    return *reinterpret_cast<T*>(reinterpret_cast<char*>(&node) - bytes);
}

}  // namespace Containers
