// What the monitoring checks parse from the board: a framer's status file
// (its bytes as one read gives them) and the names of the configuration
// files. The first byte picks the parser.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "monitoring/data_sources.h"
#include "monitoring/monitoring_ctl.h"

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

void parse_framer_status(const uint8_t* data, size_t size) {
    std::vector<unsigned char> bytes(data, data + size);
    FramerDataHolder framer(1, "/proc/driver/hdlc/peb22554/0");
    bool changed = framer.setFramerStatus(bytes);
    // Only a marker changes anything; a framer without carrier is not connected.
    check(changed || framer.statusText == "absent");
    check(!framer.connected || framer.statusText != "No Carrier");
    check(framer.statusText == "absent" || framer.statusText.size() < size);
}

void parse_config_name(const uint8_t* data, size_t size) {
    std::string name(reinterpret_cast<const char*>(data), size);
    auto version = MonitoringCtl::ParseConfigName(name);
    check(!version || name.compare(0, 7, "config.") == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    if (data[0] & 1)
        parse_config_name(data + 1, size - 1);
    else
        parse_framer_status(data + 1, size - 1);
    return 0;
}
