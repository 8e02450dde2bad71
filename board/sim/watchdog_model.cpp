#include "board/sim/watchdog_model.h"

#include <errno.h>

#include "board/drivers/watchdog.h"

namespace board::sim {

ssize_t WatchdogModel::write(Channel&, const void* data, size_t length) {
    std::string word(static_cast<const char*>(data), length);
    if (word == watchdog::kStart)
        armed = true;
    else if (word == watchdog::kStop)
        armed = false;
    else if (word != watchdog::kPing) {
        errno = EINVAL;
        return -1;
    }
    if (journaled) words.push_back(word);
    return static_cast<ssize_t>(length);
}

}  // namespace board::sim
