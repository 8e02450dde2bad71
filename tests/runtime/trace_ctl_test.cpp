#include "runtime/trace_ctl.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/stream_capture.h"

namespace {

// Reads `text` as a configuration file into `switches` as main does.
void configure(TraceCtl& switches, const std::string& text) {
    std::istringstream in(text);
    IniFile::File file;
    in >> file;
    switches.reset();
    switches.Configure(file["traces"]);
}

TEST(TraceSwitches, AreOffUntilConfiguredAndFollowTheirKeys) {
    TraceCtl switches;
    EXPECT_FALSE(switches.hdlc || switches.varkgw || switches.events || switches.monitoring);

    configure(switches,
              "[traces]\n"
              "signalling.hdlc = yes\n"
              "signalling.varkgw = 1\n"
              "signalling.events = enabled\n"
              "monitoring.internal = true\n");
    EXPECT_TRUE(switches.hdlc && switches.varkgw && switches.events && switches.monitoring);
}

TEST(TraceSwitches, ASecondSectionResetsAllButTheEventsSwitch) {
    TraceCtl switches;
    configure(switches,
              "[traces]\n"
              "signalling.hdlc = yes\n"
              "signalling.varkgw = yes\n"
              "signalling.events = yes\n"
              "monitoring.internal = yes\n"
              "[traces]\n"
              "monitoring.internal = yes\n");
    EXPECT_FALSE(switches.hdlc);
    EXPECT_FALSE(switches.varkgw);
    EXPECT_TRUE(switches.events);
    EXPECT_TRUE(switches.monitoring);

    configure(switches,
              "[traces]\nsignalling.events = yes\n"
              "[traces]\nsignalling.events = no\n");
    EXPECT_FALSE(switches.events);
}

TEST(TraceSwitches, WithoutTheSectionStayOff) {
    TraceCtl switches;
    configure(switches, "[snmpagent]\nhost = 10.0.0.5:7001\nname = zemb\n");
    EXPECT_FALSE(switches.hdlc || switches.varkgw || switches.events || switches.monitoring);
}

TEST(TraceSwitches, ABadValueIsReportedAndIgnored) {
    TraceCtl switches;
    test::StreamCapture errors(std::cerr);
    configure(switches,
              "[traces]\n"
              "signalling.hdlc = on\n"
              "monitoring.internal = yes\n");
    EXPECT_FALSE(switches.hdlc);
    EXPECT_TRUE(switches.monitoring);
    EXPECT_EQ("traces: optional key \"signalling.hdlc\" has invalid value=\"on\", line 2. "
              "Key will be ignored.\n",
              errors.str());
}

}  // namespace
