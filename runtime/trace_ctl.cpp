#include "runtime/trace_ctl.h"

#include <iostream>

#include "runtime/ini_reader.h"

TraceCtl traces;

void TraceCtl::Configure(IniFile::Section& section) {
    for (IniFile::SubSection& sub : section) Configure(sub);
}

void TraceCtl::Configure(IniFile::SubSection& section) {
    IniFile::Reader reader("traces: ", std::cerr);
    hdlc = varkgw = monitoring = false;
    reader.optional.add(&hdlc, "signalling.hdlc");
    reader.optional.add(&varkgw, "signalling.varkgw");
    reader.optional.add(&events, "signalling.events");
    reader.optional.add(&monitoring, "monitoring.internal");
    reader.parse(section);
}
