#pragma once
// Builders of the values a controller tells the monitoring service.

#include <optional>
#include <string>
#include <vector>

#include "messages/hsp.h"
#include "messages/lgcp.h"
#include "messages/mon.h"

namespace test {

inline std::vector<char> octets(const std::string& text) {
    return std::vector<char>(text.begin(), text.end());
}

inline LGCP::BoardInfo board_status(int position, LGCP::ExtBoardStatus::NamedNumber status,
                                    const std::string& version,
                                    LGCP::ExtBoardType::NamedNumber type) {
    LGCP::BoardInfo info;
    LGCP::BoardStatusParams& p = info.select_boardStatus();
    p.set_position(position);
    p.set_status(status);
    p.set_version(octets(version));
    p.set_type(type);
    return info;
}

inline LGCP::EmPhoneInfo phone_status(int id, const std::string& panel, const std::string& ctrl,
                                      const std::string& fpga) {
    LGCP::EmPhoneInfo info;
    LGCP::EmPhoneStatusParams& p = info.select_phoneStatus();
    p.set_id(id);
    p.set_panelSV(octets(panel));
    p.set_ctrlSV(octets(ctrl));
    p.set_fpgaSV(octets(fpga));
    p.set_status(LGCP::EmPhoneStatus::ready);
    p.set_powerStatus(LGCP::POWERStatus::main);
    p.set_mode(LGCP::EmPhoneMode::active);
    p.set_hookStatus(LGCP::EmPhoneConnectionStatus::connected);
    p.set_baseStatus(LGCP::EmPhoneConnectionStatus::disconnected);
    return info;
}

inline LGCP::ControllerInfo controller(const std::string& iaddr, unsigned port,
                                       HSP::ControllerStatus::NamedNumber status) {
    LGCP::ControllerInfo info;
    info.get_host().set_iaddr(iaddr);
    info.get_host().set_port(port);
    info.set_status(status);
    return info;
}

inline LGCP::TermCounter counter(LGCP::TermCounterOwner::NamedNumber owner,
                                 std::optional<int> ownerId, int cnt) {
    LGCP::TermCounter c;
    c.set_owner(owner);
    if (ownerId) c.set_ownerId(*ownerId);
    c.set_cnt(cnt);
    return c;
}

inline MON::SnmpSetCommand set_by_oid(int uniq, const std::string& oid, const std::string& value) {
    MON::SnmpSetCommand c;
    c.set_uniq(uniq);
    c.get_id().select_oid() = oid;
    c.set_value(value);
    return c;
}

inline MON::SnmpSetCommand set_by_name(int uniq, const std::string& section,
                                       const std::string& name, int index,
                                       const std::string& value) {
    MON::SnmpSetCommand c;
    c.set_uniq(uniq);
    MON::IniName& id = c.get_id().select_name();
    id.set_section(section);
    id.set_name(name);
    id.set_index(index);
    c.set_value(value);
    return c;
}

inline MON::SnmpSetCommands set_commands(const std::vector<MON::SnmpSetCommand>& commands) {
    MON::SnmpSetCommands list;
    for (const MON::SnmpSetCommand& c : commands) list.get_commands().push_back(c);
    return list;
}

}  // namespace test
