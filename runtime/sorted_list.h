#pragma once
// An intrusive list kept in ascending order by the items' compare(): an item
// goes behind every item that does not come after it, so equal items keep
// the order in which they were inserted. The scan starts at the tail, so
// inserting a new latest item costs nothing.

#include "runtime/dual_list.h"

template <class T>
class F_sorted_list : public F_dual_list<T> {
public:
    // T provides `int compare(const T* other) const`: negative when it comes first.
    void insert(T* item) {
        this->remove(item);
        T* pos = this->tail();
        while (pos && pos->compare(item) > 0) pos = pos->prev_item();
        this->insert_after(pos, item);
    }
};
