#pragma once
// A layer-3 message from the controller that its link cannot carry in one
// frame is refused before anything is queued: the far end would never take
// the frame, and a link that repeats it until acknowledged would carry
// nothing after it.

#include <cstddef>
#include <iostream>

#include "runtime/log_throttle.h"
#include "slots/slot.h"

// False, with a line naming the slot (`said` keeps it to one a second), when
// `size` octets exceed `largest`.
inline bool message_fits(const Slot& slot, size_t size, size_t largest, LogThrottle& said) {
    if (size <= largest) return true;
    if (said.admit())
        std::cerr << slot << ": user data of " << size
                  << " octets refused: the link carries at most " << largest << said << std::endl;
    return false;
}
