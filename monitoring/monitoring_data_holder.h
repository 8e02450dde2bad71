#pragma once
// The memory of the monitoring service: the last known value of everything
// the board reports, and the status files under "/var/monitoring/" that
// other programs on the board read. Each scalar set* returns true exactly
// when the held value changed (and writes its file then); the tables the
// controller tells in `display` commands are merged by key.
//
// The held values are public for the monitoring controller and its
// publishers to read; they change only through the set* operations.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "messages/hsp.h"
#include "messages/lgcp.h"
#include "messages/mon.h"
#include "monitoring/data_sources.h"
#include "runtime/inet4_addr.h"

class MonitoringDataHolder {
public:
    // Empties what an earlier run left, finds the board's own address, the
    // framers and the network interfaces, and makes the status folders.
    MonitoringDataHolder();
    // Empties "/var/monitoring/" again.
    ~MonitoringDataHolder();
    MonitoringDataHolder(const MonitoringDataHolder&) = delete;
    MonitoringDataHolder& operator=(const MonitoringDataHolder&) = delete;

    // ---- Values read by the checks; true when the held value changed.
    bool setDipValue(int v);
    bool setPowerStatus(const LGCP::POWERStatus& v);
    bool setConfigVersion(uint32_t first, uint64_t second);
    bool setTemperature(std::string v);
    bool setBuildVersion(std::string v);
    bool setFPGAVersion(std::string v);
    bool setBootVersion(std::string v);
    bool setBoardVersion(std::string v);

    // ---- Values told by the controller.
    void setDisplayStatus(const LGCP::DisplayParams& p);
    void setBoardStatus(const LGCP::BoardInfo& info);
    void setEmPhoneInfo(const LGCP::EmPhoneInfo& info);
    void setTermCounter(const LGCP::TermCounter& counter);
    // True when the status of the controller at the board's own address
    // changed.
    bool setControllerStatus(const LGCP::ControllerInfo& info);
    void setSnmpTrapReceivers(const ASN1::SEQUENCE_OF<ASN1::IA5String>& receivers);
    void setSnmpCommands(const MON::SnmpSetCommands& commands);

    // ---- Status files.
    using Writer = std::function<void(std::ostream&)>;
    // Writes the whole file at the board path `path`: into the hidden file
    // `writeName` of the same folder first, then renamed over it, so that a
    // reader never sees it half written. A file that cannot be made gets a
    // log line and is kept to be written by SaveUnwrittenFiles.
    void SaveStatusToFile(const std::string& path, const Writer& writer);
    // Removes, silently, the files that could not be removed (an earlier
    // run's, and the board files of a controller gone), reading the folder
    // again when the earlier run's files could not be listed; then writes
    // again every file whose last write failed, making the missing folders
    // it lies in first.
    void SaveUnwrittenFiles();
    // One for every file of a folder, as they are written one at a time,
    // and short, as the file's own name may take all 255 characters a name
    // has. No set-command may take it as its section or name.
    static constexpr char writeName[] = ".monitoring.new";
    // Removes every file and empty folder directly under "/var/monitoring/".
    // A file that cannot be removed now, as on a read-only disk, or all of
    // them when the folder cannot be read, is removed at a later check; a
    // file this run has written since stays.
    void ClearMonitorFiles();
    // The controller went: removes the board files ("board" and the
    // position) and forgets the boards.
    void ClearControllerFiles();
    // Makes the folder at the board path `path` unless it exists.
    void CheckForMonDir(const std::string& path);
    // Makes the folder of a controller address; the own address's folder is
    // what "controller/self" links to.
    void CheckForMonControllerDir(const INet4::Addr& address);

    void DipStatusSaver(std::ostream& os) const;
    void PowerStatusSaver(std::ostream& os) const;
    void ConfigVersionSaver(std::ostream& os) const;
    static void BoardStatusSaver(std::ostream& os, const LGCP::BoardStatusParams& board);
    static void PhoneStatusSaver(std::ostream& os, const LGCP::EmPhoneStatusParams& phone);
    static void TermCounterSaver(std::ostream& os, int cnt);
    static void ControllerStatusSaver(std::ostream& os, const HSP::ControllerStatus& status);
    static void StringParamSaver(std::ostream& os, const std::string& value);
    // An address as a folder name: the dotted quad without the port.
    static std::string Dotted(const INet4::Addr& address);
    // The board path of a controller's status file.
    static std::string ControllerStatusPath(const INet4::Addr& address);

    // ---- The held values.
    INet4::Addr ownAddress;  // the board's own address, port 0
    HSP::ControllerStatus ownStatus{HSP::ControllerStatus::unknown};
    int controllerPid = -1;  // where the look-up for "controller" starts
    std::vector<LGCP::ControllerInfo> controllers;
    LGCP::POWERStatus powerStatus{LGCP::POWERStatus::unknown};
    std::vector<LGCP::BoardStatusParams> boards;
    std::vector<LGCP::EmPhoneStatusParams> phones;
    std::vector<LGCP::TermCounter> termCounters;
    std::vector<std::string> trapReceivers;
    int dip = -1;  // no switch byte equals it
    uint64_t configVersion64 = ~uint64_t(0);
    uint32_t configVersion32 = ~uint32_t(0);
    std::string temperature;
    std::string buildVersion;
    std::string fpgaVersion;
    std::string bootVersion;
    std::string boardVersion;
    MON::SnmpSetCommands snmpCommands;
    std::string lastSetValue;
    std::vector<FramerDataHolder> framers;
    std::vector<NetIfDataHolder> netIfs;

private:
    void FindOwnAddress();
    void FindFramers();
    void FindNetIfs();
    void MergeSnmpCommand(const MON::SnmpSetCommand& command);
    void SaveSnmpCommand(const MON::SnmpSetCommand& command);
    void RemoveUnremovedFiles();

    // What each file whose last write failed is to hold, by board path.
    std::map<std::string, std::string> unwritten_;
    // The files of an earlier run and the board files of a controller gone
    // that are still to remove, by board path.
    std::set<std::string> unremoved_;
    // The folder could not be read to list the earlier run's files: each
    // check reads it again until it can, or finds no folder there.
    bool earlierUnlisted_ = false;
    // The board paths this run has written meanwhile: not the earlier run's.
    std::set<std::string> writtenUnlisted_;
};
