#include "hardware/receiver_support.h"

#include <errno.h>

#include <cstring>
#include <iostream>

namespace Hardware {

bool NotOpened(const char* failure, unsigned ts) {
    std::cerr << failure << " timeslot=" << ts << std::endl;
    return false;
}

void ShortRecord(const char* name, ssize_t n) {
    std::cerr << "fail to read from " << name << ": short record of " << n << " bytes" << std::endl;
}

}  // namespace Hardware
