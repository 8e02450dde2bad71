#pragma once
// The board's eight BRI line transceivers, whose registers the "/dev/hal"
// driver reaches over SPI. Creation prepares and enables every line; the bus
// clock makes one line the clock master; while a controller is connected
// every line's state goes out once a second as a `trunkStatus` signal of type
// bri, which the other services hear first. Takes no command. A driver
// without SPI (ENODEV) leaves it inert for good.

#include "link/ctrl_server.h"
#include "runtime/log_throttle.h"
#include "runtime/timer.h"

class spiCtrl : public CtrlSrv::Service {
public:
    static constexpr int kLines = 8;
    static constexpr unsigned kStatusPeriodMs = 1000;

    // Transceiver registers and values.
    enum Register : unsigned { kEnable = 50, kStatus = 51, kClockMaster = 87 };
    static constexpr unsigned kLineEnabled = 0;
    static constexpr unsigned kLineDisabled = 128;
    static constexpr unsigned kMaster = 56;
    static constexpr unsigned kNotMaster = 48;
    // Bits of the status register.
    static constexpr unsigned kCarrier = 0x01;
    static constexpr unsigned kFrameSync = 0x04;
    static constexpr unsigned kSlip = 0x20;
    static constexpr unsigned kFarEnd = 0xC0;
    static constexpr unsigned kFarEndNormal = 0xC0;
    static constexpr unsigned kFarEndRemoteAlarm = 0x80;

    static spiCtrl& instance();
    ~spiCtrl() override;

    void OnConnect() override;
    void OnDisconnect() override { statusTimer_.reset(); }
    bool OnCommand(const LGCP::Command&) override { return false; }

    void write(unsigned channel, unsigned reg, unsigned data);
    // The register's value; 0 on any failure.
    unsigned read(unsigned channel, unsigned reg);
    void init_channel(int line);
    void enable_channel(int line);
    void disable_channel(int line);
    // Makes the line (0 to 7) the clock master; -1 makes none master.
    void clock(int channel);
    // Sends every line's state and polls again in a second.
    void status();
    // Opens the device when it is closed, then prepares and enables the lines.
    void init_device_and_channels();

    bool spi_present() const { return spiPresent_; }
    bool polling() const { return statusTimer_.pending(); }
    // Back to a closed device with SPI taken as present and no poll: for tests.
    void reset_for_test();

private:
    spiCtrl();
    bool IsOpened() const { return fd_ >= 0; }
    // Whether a line may be written: SPI present, a line 0 to 7 (else logged
    // as a bad channel for `use`), the device opened if it was not.
    bool LineReady(int line, const char* use);
    void SwitchLine(int line, bool on);
    // A request failed: ENODEV means the driver has no SPI at all.
    bool NoSpi();
    void SendLineStatus(int line, unsigned value);

    int fd_ = -1;
    Timer statusTimer_;
    bool spiPresent_ = true;
    // Each line's slip indication as the last poll saw it.
    bool slip_[kLines] = {};
    // A failing transceiver fails its line's read at each poll: one
    // throttle per line, so that a line failing beside another is named
    // too, and the last one for a channel that is no line.
    LogThrottle readError_[kLines + 1];
};
