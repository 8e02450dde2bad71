#pragma once
// Builders of the controller's commands for the signalling slots (PSTN,
// ISDN, QSIG, QSIG B channel, HDLC), for the slot suites, the end-to-end
// tests and the fuzz targets.

#include <string>
#include <vector>

#include "messages/lgcp.h"

namespace test {

enum class Side { user, network };

inline void set_side(LGCP::IsdnSide& side, Side which) {
    if (which == Side::network)
        side.select_network();
    else
        side.select_user();
}

inline void fill_isdn(LGCP::IsdnParams& params, LGCP::IsdnType::NamedNumber type, int trunk,
                      Side side, int log) {
    params.set_type(type);
    params.set_trunk(trunk);
    params.set_log(log);
    set_side(params.get_side(), side);
}

inline LGCP::Command create_pstn_isdn(LGCP::IsdnType::NamedNumber type, int trunk, Side side,
                                      int log = 0) {
    LGCP::Command command;
    fill_isdn(command.select_create().select_pstn().select_isdn(), type, trunk, side, log);
    return command;
}

inline LGCP::Command create_pstn_ss7(int trunk, int slc, bool emergency = true) {
    LGCP::Command command;
    LGCP::SS7Params& params = command.select_create().select_pstn().select_ss7();
    params.set_trunk(trunk);
    params.set_slc(slc);
    params.set_dpc(100 + slc);
    params.set_opc(200 + slc);
    params.set_emergency(emergency);
    return command;
}

inline LGCP::Command create_pstn_cas(int trunk) {
    LGCP::Command command;
    command.select_create().select_pstn().select_cas().set_trunk(trunk);
    return command;
}

inline LGCP::Command create_isdn(LGCP::IsdnType::NamedNumber type, int trunk, Side side,
                                 int log = 0) {
    LGCP::Command command;
    fill_isdn(command.select_create().select_isdn(), type, trunk, side, log);
    return command;
}

inline LGCP::Command create_qsig(Side side) {
    LGCP::Command command;
    set_side(command.select_create().select_ats_qsig().get_side(), side);
    return command;
}

inline LGCP::Command create_qsig_b(unsigned slot, unsigned subslot) {
    LGCP::Command command;
    LGCP::AtsQsigBParams& params = command.select_create().select_ats_qsig_b();
    params.set_slot(slot);
    params.set_subslot(subslot);
    return command;
}

inline LGCP::Command create_hdlc(int trunk, int address, int log = 0) {
    LGCP::Command command;
    LGCP::HdlcParams& params = command.select_create().select_hdlcParams();
    params.set_trunk(trunk);
    params.set_log(log);
    params.set_address(address);
    return command;
}

inline LGCP::Command hdlc_packages(const std::vector<std::string>& bodies) {
    LGCP::Command command;
    auto& packages = command.select_ioctl().select_hdlcPackages();
    for (const std::string& body : bodies)
        packages.append().set_body(std::vector<char>(body.begin(), body.end()));
    return command;
}

inline LGCP::Command ss7_bsn_request() {
    LGCP::Command command;
    command.select_ioctl().select_ss7RqBSN();
    return command;
}

inline LGCP::Command ss7_log(bool on) {
    LGCP::Command command;
    LGCP::SS7L2Log& log = command.select_ioctl().select_ss7Log();
    for (auto* flag : {&log.get_state(), &log.get_raw_receive(), &log.get_raw_transmit(),
                       &log.get_mtp_transmit(), &log.get_mtp_receive(), &log.get_mtp_activate(),
                       &log.get_timers(), &log.get_msu_processing()})
        flag->setValue(on);
    return command;
}

inline LGCP::Command deactivate() {
    LGCP::Command command;
    command.select_deactivate();
    return command;
}

}  // namespace test
