#pragma once
// The board's monitoring service. It polls the board's state on three
// timers (versions, configuration, framers and temperature every minute;
// power, DIP switch and network interfaces every 2 s, with the status files
// a write missed and the framer LEDs the driver refused; the local
// controller every 5 s), keeps every value in its
// data holder, which writes the status files, and publishes each change to
// the SNMP agents of the "snmpagent" sections. Towards the controller it
// takes the `display` command, drives the framer LEDs and tells the board's
// power state.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "link/ctrl_server.h"
#include "monitoring/monitoring_data_holder.h"
#include "monitoring/snmp_agent.h"
#include "runtime/ini_file.h"
#include "runtime/owed.h"
#include "runtime/timer.h"

class MonitoringCtl : public CtrlSrv::Service, public ISnmpAgentNotify {
public:
    static constexpr unsigned bkgFirstMs = 1000;
    static constexpr unsigned bkgPeriodMs = 60000;
    static constexpr unsigned powerPeriodMs = 2000;
    static constexpr unsigned controllerPeriodMs = 5000;

    // The server's one monitoring service.
    static MonitoringCtl& instance();

    // Tests build their own on a board of their own; the server uses
    // instance().
    MonitoringCtl();
    // Turns the framer LEDs off and empties "/var/monitoring/".
    ~MonitoringCtl() override;
    MonitoringCtl(const MonitoringCtl&) = delete;
    MonitoringCtl& operator=(const MonitoringCtl&) = delete;

    // Creates one agent link per "snmpagent" section; called once at start-up.
    void Configure(IniFile::File& file);

    // Tells the controller the power state (twice when it has just changed).
    void OnConnect() override;
    void OnDisconnect() override;
    // Takes `display` only and answers it with success, or `invalidParams`
    // for a value that could be neither held nor published.
    bool OnCommand(const LGCP::Command& command) override;
    // An agent link came up: everything held is sent again shortly.
    void OnSnmpAgentConnect(const std::string&) override { resendDpc_.Activate(); }

    void OnDisplayCMD(const LGCP::DisplayParams& p);
    // Lights the LEDs of one framer; the device's answer, 0 without device.
    // LEDs not written are owed, and written again every second.
    int setFramerLed(const LGCP::FramerInfo& info);
    // Opens "/dev/hal" unless it is open; true when it is.
    bool IsOpen();
    // Sends the held power state as a `power` signal.
    void sendPowerStatus();
    void PutHeader(std::ostream& os) const;

    void onBkgCheckTimer(Timer*);
    void onPowerCheckTimer(Timer*);
    void onControllerCheckTimer(Timer*);
    void doVersionsCheck();
    void doConfigCheck();
    void doFramerCheck();
    void doTemperatureCheck();
    void doPowerCheck();
    void doDipCheck();
    void doNetIfCheck();
    void doControllerCheck();

    // The power state the device's byte stands for.
    static LGCP::POWERStatus::NamedNumber PowerStatusOf(uint8_t byte);

    // The version a file name of "/usr/local/etc/" carries:
    // "config.<8 hex digits>-<16 hex digits>"; none for other names.
    struct ConfigVersion {
        uint32_t first = 0;
        uint64_t second = 0;
        bool operator<(const ConfigVersion& other) const;
    };
    static std::optional<ConfigVersion> ParseConfigName(const std::string& name);

    const SnmpAgentCtrl& snmp() const { return snmp_; }
    const MonitoringDataHolder& data() const { return data_; }
    // The LEDs as the displays set them, and whether the driver has them yet.
    uint8_t framerLeds() const { return framerLeds_; }
    bool leds_owed() const { return leds_.owes(); }

    // ---- Publishing to the SNMP agents. The checks publish a value when it
    // has changed, the display command what it was told; an agent that
    // connects gets everything held, from the deferred re-send. Values go
    // into the feed's batches, except trap receivers and set-commands, which
    // leave at once.
    void sendSnmpDriverBuild();
    void sendSnmpSoftwareBuild();
    void sendSnmpPowerStatus();
    void sendSnmpControllerStatus();
    void sendSnmpGatewayDip();
    void sendSnmpGatewayConfigVersion();
    void sendSnmpTemperature();
    void sendSnmpStatusBuildVersion();
    void sendSnmpStatusFPGAVersion();
    void sendSnmpStatusBootVersion();
    void sendSnmpStatusBoardVersion();
    void sendSnmpBoardStatus(const LGCP::BoardStatusParams& p);
    void sendSnmpBoardStatuses();
    void sendSnmpEmPhoneStatus(const LGCP::EmPhoneStatusParams& p);
    void sendSnmpEmPhoneStatuses();
    void sendSnmpRouterTermCnt();
    void sendSnmpControllerTermCnt();
    void sendSnmpServerTermCnt();
    void sendSnmpBoardTermCnt();
    void sendSnmpFramerStatus(const FramerDataHolder& f);
    void sendSnmpFramerStatus();
    void sendSnmpNetIfStatus(const NetIfDataHolder& n);
    void sendSnmpNetIfStatus();
    void sendSnmpTrapReceivers();
    void sendSnmpCommands();
    void sendSnmpCommands(const MON::SnmpSetCommands& c);
    // The full re-send, run by the deferred call an agent's connection
    // activates: however many agents connect before it runs, it runs once
    // and reaches every connected agent.
    void OnDpcSend();

private:
    void SendTermCounts(LGCP::TermCounterOwner::NamedNumber owner,
                        SnmpAgentCtrl::MonitoringItemType item);

    // Reads one byte with a request of "/dev/hal"; false when it cannot.
    bool ReadHalByte(uint32_t request, uint8_t& byte);
    // True when the driver took them.
    bool WriteFramerLeds();
    bool OpenHal();

    int halFd_ = -1;
    MonitoringDataHolder data_;
    SnmpAgentCtrl snmp_;
    Timer bkgTimer_;
    Timer powerTimer_;
    Timer controllerTimer_;
    // Two bits per framer e: the link bit 2e and the line bit 2e+1; owed
    // while the driver has not taken them.
    uint8_t framerLeds_ = 0;
    Owed<> leds_{[this](auto) { return (halFd_ >= 0 || OpenHal()) && WriteFramerLeds(); }};
    Dpc resendDpc_;
};
