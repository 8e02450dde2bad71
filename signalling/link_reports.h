#pragma once
// The link statistics the signalling slots send the controller as `ioctl`
// signals: one builder per kind of report.

#include "messages/lgcp.h"

class HDLC;
namespace ISDN {
class LAPD;
}
namespace SS7 {
class SLC;
}

// `hdlcLinkInfo`: the channel's five counters.
LGCP::IoctlResponse HdlcLinkReport(const HDLC& channel);
// `isdnLinkInfo`; false (and `report` unusable) when the link's statistics
// are those it reported last.
bool IsdnLinkReport(const ISDN::LAPD& link, LGCP::IoctlResponse& report);
// `ss7LinkInfo`: the link's counters and state; no speeds are measured.
LGCP::IoctlResponse SS7LinkReport(const SS7::SLC& link);
// `isdnLinkStatus`: congested or normal, as the link's flow status says.
LGCP::IoctlResponse IsdnFlowReport(const ISDN::LAPD& link);
