// The frame printer in the LAPD links' traces and against tshark. A user and
// a network link back to back at log level 3 exchange SETUP, CONNECT and
// RELEASE COMPLETE: every frame each sends and receives is traced with the
// printer's text and its true direction. The exchange seen from the user
// side, the frames of the expected-text table and one frame for every row of
// the printer's three tables go into one LAPD capture that tshark reads:
// what the printer names (frame kind, SAPI and TEI, message type,
// information elements up to the first shift, cause) must be what tshark
// names, but for the differences listed here.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "signalling/frame_printer.h"
#include "tests/link/packet_pool_check.h"
#include "tests/signalling/frame_cases.h"
#include "tests/support/lapd_capture.h"
#include "tests/support/lapd_rig.h"
#include "tests/support/stream_capture.h"
#include "tests/support/tshark.h"
#include "tests/support/virtual_loop.h"

namespace {

using Difference = std::pair<std::string, std::string>;

// Where the printer keeps the Q.931 wording and tshark 4.0 words it otherwise:
// {printer, tshark}.
const std::set<Difference> known_differences = {
    {"HOLD ACKNOWLEDGE", "HOLD_ACKNOWLEDGE"},
    {"HOLD REJECT", "HOLD_REJECT"},
    {"Network-specific facilities", "Network specific facilities"},
    {"End-to-end delay", "End-to-end transit delay"},
    {"Reverse charge indication", "Reverse charging indication"},
    {"Low layer compatibility", "Low-layer compatibility"},
    {"High layer compatibility", "High-layer compatibility"},
    {"Escape for extension", "Escape"},
    {"Normal, unspecified", "Normal unspecified"},
    {"Interworking, unspecified", "Internetworking, unspecified"},
    {"Inconsistency in designated outgoing access information and subscriber class ",
     "Inconsistency in designated outgoing access information and subscriber class"},
    {"Message not compatible with call state or message type non-existent or not implemented ",
     "Message not compatible with call state or message type non-existent or not implemented"},
};

// What one frame is named as, by the printer or by tshark.
struct Names {
    std::string kind;  // empty: not named
    int sapi = -1;     // -1: not named
    int tei = -1;
    std::string message;                // "Unknown" when not in the table
    std::vector<std::string> elements;  // variable-length ones, up to the first shift
    std::string cause;                  // "Unknown" when not in the table
};

bool starts_with(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool is_element_name(const std::string& name) {
    return std::any_of(std::begin(ISDN::info_elements), std::end(ISDN::info_elements),
                       [&](const ISDN::InfoElementName& e) { return name == e.name; });
}

// The direction line's rest: "IFrame tei = 0", "broadcast", ...
void name_printed_kind(Names& names, const std::string& kind) {
    const char* s = kind.c_str();
    if (std::sscanf(s, "IFrame tei = %d", &names.tei) == 1)
        names.kind = "I";
    else if (std::sscanf(s, "SFrame tei = %d", &names.tei) == 1)
        names.kind = "S or U";
    else if (std::sscanf(s, "unknown sapi = %d; tei = %d", &names.sapi, &names.tei) == 2)
        names.kind = "unknown sapi";
    else if (std::sscanf(s, "unknown sapi %d broadcast", &names.sapi) == 1)
        names.kind = "broadcast on another sapi";
    else
        names.kind = kind;  // "broadcast", "no UI broadcast", "tei management:"
}

Names printed_names(const std::string& text) {
    Names names;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);  // the octets
    if (std::getline(lines, line)) name_printed_kind(names, line.substr(line.find(' ', 6) + 1));
    bool shifted = false;
    unsigned id;
    while (std::getline(lines, line)) {
        if (starts_with(line, "callref ")) {
            std::size_t type = line.find("message type ");
            bool unknown = line.compare(type - 8, 8, "unknown ") == 0;
            names.message = unknown ? "Unknown" : line.substr(type + 13);
        } else if (starts_with(line, "  cause value ")) {
            names.cause = line.substr(line.find(" : ") + 3);
            names.cause.pop_back();  // the blank before the newline
        } else if (starts_with(line, "Unknown cause type ")) {
            names.cause = "Unknown";
        } else if (starts_with(line, "  Shift ")) {
            shifted = true;
        } else if (shifted) {
        } else if (std::sscanf(line.c_str(), "  attribute %x", &id) == 1) {
            char unknown[24];
            std::snprintf(unknown, sizeof unknown, "Unknown (0x%02X)", id);
            names.elements.push_back(unknown);
        } else if (starts_with(line, "  ") && is_element_name(line.substr(2))) {
            names.elements.push_back(line.substr(2));
        }
    }
    return names;
}

// One field line of the PDML output.
struct Field {
    std::size_t depth;  // indentation
    std::string name, show, showname;
};

std::string attribute(const std::string& line, const std::string& name) {
    std::size_t start = line.find(" " + name + "=\"");
    if (start == std::string::npos) return "";
    start += name.size() + 3;
    std::string value = line.substr(start, line.find('"', start) - start);
    for (auto e : {std::make_pair("&lt;", "<"), {"&gt;", ">"}, {"&quot;", "\""}, {"&#x27;", "'"},
                   {"&amp;", "&"}})
        for (std::size_t at; (at = value.find(e.first)) != std::string::npos;)
            value.replace(at, std::strlen(e.first), e.second);
    return value;
}

std::vector<std::vector<Field>> pdml_packets(const std::string& pdml) {
    std::vector<std::vector<Field>> packets;
    std::istringstream lines(pdml);
    for (std::string line; std::getline(lines, line);) {
        if (line == "<packet>") packets.emplace_back();
        if (packets.empty() || line.find("<field ") == std::string::npos) continue;
        packets.back().push_back({line.find('<'), attribute(line, "name"), attribute(line, "show"),
                                  attribute(line, "showname")});
    }
    return packets;
}

// "Message type: SETUP (0x05)" -> "SETUP"; "...: Unknown (0x0A)" is kept whole.
std::string shown_name(const std::string& showname) {
    std::string name = showname.substr(showname.find(": ") + 2);
    std::size_t value = name.rfind(" (");
    if (value != std::string::npos && !starts_with(name, "Unknown")) name.erase(value);
    return name;
}

void name_link_layer(Names& names, const std::map<std::string, std::string>& show) {
    auto at = [&](const char* field) {
        auto it = show.find(field);
        return it == show.end() ? std::string() : it->second;
    };
    if (at("lapd.tei").empty()) return;
    names.sapi = std::stoi(at("lapd.sapi"));
    names.tei = std::stoi(at("lapd.tei"));
    if (at("lapd.control.ftype").empty()) return;  // a control field cut short
    unsigned ftype = std::stoul(at("lapd.control.ftype"), nullptr, 16);
    bool ui = ftype == 3 && at("lapd.control.u_modifier_cmd") == "0x00";
    if (names.tei == 127 && names.sapi == 63)
        names.kind = at("tei.msg").empty() ? "management, not TEI" : "tei management:";
    else if (names.tei == 127)
        names.kind = names.sapi != 0 ? "broadcast on another sapi"
                                     : (ui ? "broadcast" : "no UI broadcast");
    else
        names.kind = names.sapi != 0 ? "unknown sapi" : (ftype & 1) ? "S or U" : "I";
}

Names tshark_names(const std::vector<Field>& fields) {
    Names names;
    std::map<std::string, std::string> show;
    bool shifted = false;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const Field& f = fields[i];
        show.emplace(f.name, f.show);
        // Each element opens with an unnamed field whose first child names it;
        // identifiers quoted inside an element (a cause's diagnostics) do not count.
        bool opens_element = i > 0 && fields[i - 1].name.empty() && fields[i - 1].depth < f.depth;
        if (f.name == "q931.message_type") {
            names.message = shown_name(f.showname);
        } else if (f.name == "q931.cause_value") {
            names.cause = shown_name(f.showname);
        } else if (f.name == "q931.locking_codeset") {
            shifted = true;
        } else if (!shifted && opens_element &&
                   (f.name == "q931.information_element" || f.name == "q932.ie.type")) {
            names.elements.push_back(shown_name(f.showname));
        }
    }
    for (std::string* name : {&names.message, &names.cause})
        if (starts_with(*name, "Unknown")) *name = "Unknown";
    name_link_layer(names, show);
    return names;
}

using test::LapdRig;

// A frame to print and compare.
struct Frame {
    test::Bytes octets;
    bool network_to_user;
    std::string what;
};

// The table's frames and one frame for every row of the printer's tables.
std::vector<Frame> table_frames() {
    std::vector<Frame> frames;
    for (const test::FrameCase& c : test::frame_cases)
        frames.push_back({test::octets(c.hex), c.network_to_user, c.what});
    char hex[64];
    auto add = [&](const char* format, unsigned code, bool network_to_user, std::string what) {
        std::snprintf(hex, sizeof hex, format, code);
        frames.push_back({test::octets(hex), network_to_user, what});
    };
    for (const ISDN::MessageTypeName& m : ISDN::message_types)
        add("00 01 00 00 08 01 05 %02X", m.code, false, m.name);
    for (const ISDN::InfoElementName& e : ISDN::info_elements)
        add("00 01 00 00 08 01 05 05 %02X 03 80 90 A2", e.id, false, e.name);
    for (const ISDN::CauseText& c : ISDN::cause_texts)
        add("02 01 00 00 08 01 85 5A 08 02 80 %02X", 0x80 | c.value, true, c.text);
    return frames;
}

// Compares frame by frame and keeps the known differences it met.
class Agreement {
public:
    void expect(const Names& p, const Names& t, bool cut) {
        if (p.kind.empty()) return;  // the text was cut inside the octets
        // Each side names what it can: tshark no kind for a control field cut
        // short, the printer a SAPI only when it is not 0.
        if (!t.kind.empty()) {
            EXPECT_EQ(p.kind, t.kind);
        }
        if (p.sapi >= 0) {
            EXPECT_EQ(p.sapi, t.sapi);
        }
        if (p.tei >= 0) {
            EXPECT_EQ(p.tei, t.tei);
        }
        if (!p.message.empty()) expect_same(p.message, t.message);
        if (!p.cause.empty()) expect_same(p.cause, t.cause);
        // Where the frame ends inside an element, either side may leave it unnamed.
        std::size_t count = cut ? std::min(p.elements.size(), t.elements.size())
                                : p.elements.size();
        if (!cut) {
            EXPECT_EQ(t.elements.size(), count);
        }
        for (std::size_t i = 0; i < count && i < t.elements.size(); ++i)
            expect_same(p.elements[i], t.elements[i]);
    }
    const std::set<Difference>& met() const { return met_; }

private:
    void expect_same(const std::string& printer, const std::string& tshark) {
        if (printer == tshark) return;
        EXPECT_TRUE(known_differences.count({printer, tshark}))
            << "printer \"" << printer << "\", tshark \"" << tshark << '"';
        met_.insert({printer, tshark});
    }
    std::set<Difference> met_;
};

std::string message(const char* hex) {
    test::Bytes octets = test::hex_bytes(hex);
    return std::string(octets.begin(), octets.end());
}

// One frame on the line as one end saw it.
struct LineEvent {
    bool atNetwork;
    bool sent;
    test::Bytes octets;

    // A frame the user sends or the network receives goes user to network.
    bool network_to_user() const { return atNetwork == sent; }
};

class FrameTraceTest : public PacketPoolCheck {
protected:
    void SetUp() override {
        rig->user->set_trunk(1);
        rig->network->set_trunk(2);
        for (test::HdlcEnd* end : {&rig->line.a, &rig->line.b}) {
            bool atNetwork = end == &rig->line.b;
            end->add_tap([this, atNetwork](const Packet& frame, bool sent) {
                events.push_back({atNetwork, sent, {frame.data(), frame.data() + frame.length()}});
            });
        }
    }
    void TearDown() override {
        rig.reset();
        PacketPoolCheck::TearDown();
    }

    void exchange() {
        rig->establish();
        loop.advance(10);
        LapdRig::send(*rig->user, message("08 01 01 05 04 03 80 90 A2 18 01 89 "
                                                    "6C 04 21 83 31 32 70 03 81 33 34 A1"));
        loop.advance(10);
        LapdRig::send(*rig->network, message("08 01 81 07 18 01 89"));
        loop.advance(10);
        LapdRig::send(*rig->user, message("08 01 01 5A 08 02 80 90"));
        loop.advance(10);
        ASSERT_EQ(3u, rig->networkOwner->messages.size() + rig->userOwner->messages.size());
    }

    test::VirtualLoop loop;
    test::IdleDescriptor idle;
    std::unique_ptr<LapdRig> rig{new LapdRig};
    std::vector<LineEvent> events;
};

TEST_F(FrameTraceTest, LogLevelThreeTracesEveryFrameWithItsDirection) {
    for (ISDN::LAPD* link : {rig->user, rig->network}) link->set_log_level(3);
    test::StreamCapture log(std::clog);
    exchange();
    const std::string text = log.str();
    std::size_t at = 0;
    for (const LineEvent& e : events) {
        const std::string entry = std::string(e.sent ? "): tx: " : "): rx:") +
                                  test::printed(e.octets, e.network_to_user()) + "\n";
        at = text.find(entry, at);
        ASSERT_NE(std::string::npos, at) << "not traced:\n" << entry << "in:\n" << text;
        const std::string header = std::string("LAPD[") + (e.atNetwork ? "2" : "1") + "] (";
        EXPECT_EQ(0, text.compare(text.rfind('\n', at) + 1, header.size(), header));
        at += entry.size();
    }
    EXPECT_LE(8u, events.size());
}

TEST_F(FrameTraceTest, TsharkNamesWhatThePrinterNames) {
    if (test::tshark_program().empty()) GTEST_SKIP() << test::tshark_missing;
    test::PcapWriter pcap(test::PcapWriter::linux_lapd);
    {
        test::LapdCapture capture(pcap, rig->line.a, /*networkSide=*/false);
        exchange();
    }
    std::vector<Frame> frames;
    for (const LineEvent& e : events)
        if (!e.atNetwork) frames.push_back({e.octets, e.network_to_user(), "exchanged"});
    for (Frame& f : table_frames()) {
        test::add_lapd_frame(pcap, f.octets.data(), f.octets.size(), false, !f.network_to_user);
        frames.push_back(std::move(f));
    }
    std::string error;
    std::vector<std::vector<Field>> packets = pdml_packets(test::tshark_pdml(pcap, {}, &error));
    ASSERT_EQ("", error);
    ASSERT_EQ(frames.size(), packets.size());
    Agreement agreement;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        std::string text = test::printed(frames[i].octets, frames[i].network_to_user);
        SCOPED_TRACE(frames[i].what + "\n" + text);
        bool cut = text.find(ISDN::FrameText::marker) != std::string::npos;
        agreement.expect(printed_names(text), tshark_names(packets[i]), cut);
    }
    EXPECT_EQ(known_differences, agreement.met());
}

}  // namespace
