#include "signalling/link_reports.h"

#include "signalling/hdlc.h"
#include "signalling/lapd.h"
#include "signalling/mtp2.h"

LGCP::IoctlResponse HdlcLinkReport(const HDLC& channel) {
    LGCP::IoctlResponse report;
    LGCP::HdlcLinkInfo& info = report.select_hdlcLinkInfo();
    info.set_txSU(static_cast<int>(channel.txSU));
    info.set_txDiscard(static_cast<int>(channel.txDiscard));
    info.set_txError(static_cast<int>(channel.txError));
    info.set_txOverflow(static_cast<int>(channel.txOverflow));
    info.set_rxSU(static_cast<int>(channel.rxSU));
    return report;
}

bool IsdnLinkReport(const ISDN::LAPD& link, LGCP::IoctlResponse& report) {
    ACP::IsdnLinkInfo& info = report.select_isdnLinkInfo();
    info.set_side(link.side() == ISDN::Side::network ? ACP::IsdnSide::network
                                                      : ACP::IsdnSide::user);
    return link.GetInfo(info);
}

LGCP::IoctlResponse SS7LinkReport(const SS7::SLC& link) {
    const SS7::SLC::Statistics counters = link.statistics();
    LGCP::IoctlResponse report;
    ACP::SS7LinkInfo& info = report.select_ss7LinkInfo();
    info.set_msuTxCount(static_cast<int>(counters.msuTxCount));
    info.set_msuRxCount(static_cast<int>(counters.msuRxCount));
    info.set_octetsTx(static_cast<int>(counters.octetsTx));
    info.set_octetsRx(static_cast<int>(counters.octetsRx));
    info.set_speedRx(0);
    info.set_speedTx(0);
    info.set_overflowCntr(static_cast<int>(counters.overflowCntr));
    info.set_rtbSize(static_cast<int>(counters.rtbSize));
    info.set_repeatCntr(static_cast<int>(counters.repeatCntr));
    info.set_badSeqCntr(static_cast<int>(counters.badSeqCntr));
    info.set_ss7state(static_cast<ACP::SS7State::NamedNumber>(link.state_id()));
    return report;
}

LGCP::IoctlResponse IsdnFlowReport(const ISDN::LAPD& link) {
    LGCP::IoctlResponse report;
    report.set_isdnLinkStatus(link.flow_status() == ISDN::LAPD::FlowStatus::congested
                                  ? LGCP::IsdnLinkStatus::congested
                                  : LGCP::IsdnLinkStatus::normal);
    return report;
}
