#pragma once
// The hardware watchdog: a write-only device that takes three words. After
// "START" the board resets unless "PING" follows in time; "STOP" disarms it.

namespace board::watchdog {

constexpr const char* kDevice = "/dev/misc/gw-wd";
constexpr const char kStart[] = "START";
constexpr const char kPing[] = "PING";
constexpr const char kStop[] = "STOP";

}  // namespace board::watchdog
