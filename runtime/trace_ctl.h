#pragma once
// The trace switches of the configuration section "traces". The code that
// traces reads them directly: `if (traces.hdlc) ...`.
//
//   [traces]
//   signalling.hdlc = yes        the HDLC channel and HDLC slot traces
//   signalling.varkgw = no       read by nothing
//   signalling.events = no       the voice-processing receivers
//   monitoring.internal = no     the monitoring controller's periodic checks

#include "runtime/ini_file.h"

class TraceCtl {
public:
    TraceCtl() = default;

    // Every subsection of the section, in file order.
    void Configure(IniFile::Section& section);
    // Switches hdlc, varkgw and monitoring off (events keeps its value), then
    // sets those the subsection names; bad keys are reported on std::cerr.
    void Configure(IniFile::SubSection& section);
    void reset() { hdlc = varkgw = events = monitoring = false; }

    bool hdlc = false;        // "signalling.hdlc"
    bool varkgw = false;      // "signalling.varkgw"
    bool events = false;      // "signalling.events"
    bool monitoring = false;  // "monitoring.internal"
};

extern TraceCtl traces;
