// The frame printer agrees with tshark: the frames of the expected-text table
// and one frame for every row of the printer's three tables are written to a
// LAPD capture and read back with `tshark -T pdml`; what the printer names
// (frame kind, SAPI and TEI, message type, information elements up to the
// first shift, cause) must be what tshark names, but for the differences
// listed here.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "signalling/frame_printer.h"
#include "tests/signalling/frame_cases.h"

namespace {

// Where the printer's texts are those of the Q.931 tables and tshark 4.0
// words them otherwise: {printer, tshark}.
const std::set<std::pair<std::string, std::string>> known_differences = {
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
    std::string kind;  // I, S or U, UI broadcast, ...
    int sapi = -1;     // -1: not named
    int tei = -1;
    std::string message;  // message type; "Unknown" when not in the table
    std::vector<std::string> elements;  // variable-length elements up to the first shift
    std::string cause;
};

struct Frame {
    std::vector<unsigned char> octets;
    bool network_to_user;
    std::string what;
};

bool starts_with(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

std::string hex_name(int id) {
    char text[16];
    std::snprintf(text, sizeof text, "Unknown (0x%02X)", id);
    return text;
}

bool is_element_name(const std::string& name) {
    for (const ISDN::InfoElementName& e : ISDN::info_elements)
        if (name == e.name) return true;
    return false;
}

// --- the printer's side

Names printer_names(const std::string& text) {
    Names names;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);  // the octets
    if (std::getline(lines, line)) {  // "frame <direction> <kind>"
        int a = -1, b = -1;
        std::string kind = line.substr(line.find(' ', 6) + 1);
        if (std::sscanf(kind.c_str(), "IFrame tei = %d", &b) == 1) {
            names.kind = "I";
        } else if (std::sscanf(kind.c_str(), "SFrame tei = %d", &b) == 1) {
            names.kind = "S or U";
        } else if (std::sscanf(kind.c_str(), "unknown sapi = %d; tei = %d", &a, &b) == 2) {
            names.kind = "unknown sapi";
        } else if (std::sscanf(kind.c_str(), "unknown sapi %d broadcast", &a) == 1) {
            names.kind = "broadcast on another sapi";
        } else {
            names.kind = kind;  // broadcast, no UI broadcast, tei management:
        }
        names.sapi = a;
        names.tei = b;
    }
    bool shifted = false;
    while (std::getline(lines, line)) {
        unsigned id = 0;
        if (starts_with(line, "callref ")) {
            std::size_t type = line.find("message type ");
            names.message = starts_with(line.substr(type - 8), "unknown ")
                                ? "Unknown"
                                : line.substr(type + 13);
        } else if (starts_with(line, "  cause value ")) {
            names.cause = line.substr(line.find(" : ") + 3);
            names.cause.pop_back();  // the blank before the newline
        } else if (starts_with(line, "Unknown cause type ")) {
            names.cause = "Unknown";
        } else if (starts_with(line, "  Shift ")) {
            shifted = true;
        } else if (!shifted && std::sscanf(line.c_str(), "  attribute %x", &id) == 1) {
            names.elements.push_back(hex_name(static_cast<int>(id)));
        } else if (!shifted && starts_with(line, "  ") && is_element_name(line.substr(2))) {
            names.elements.push_back(line.substr(2));
        }
    }
    return names;
}

// --- tshark's side

std::string attribute(const std::string& line, const std::string& name) {
    std::size_t start = line.find(" " + name + "=\"");
    if (start == std::string::npos) return "";
    start += name.size() + 3;
    std::string value = line.substr(start, line.find('"', start) - start);
    static const std::pair<const char*, const char*> entities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#x27;", "'"}, {"&apos;", "'"},
        {"&amp;", "&"}};
    for (const auto& e : entities)
        for (std::size_t at; (at = value.find(e.first)) != std::string::npos;)
            value.replace(at, std::string(e.first).size(), e.second);
    return value;
}

// "Message type: SETUP (0x05)" -> "SETUP"
std::string shown_name(const std::string& showname) {
    std::string name = showname.substr(showname.find(": ") + 2);
    std::size_t value = name.rfind(" (");
    if (value != std::string::npos && !starts_with(name, "Unknown")) name.erase(value);
    return name;
}

// tshark opens each element with an unnamed field and names the element in
// its first line; identifiers quoted later inside an element (a cause's
// diagnostics) do not count.
bool opens_element(const std::string& line) {
    return line.find_first_not_of(' ') == 4 && line.find("<field name=\"\" ") == 4;
}

void name_link_layer(Names& names, std::map<std::string, std::string>& lapd) {
    names.sapi = std::stoi(lapd["lapd.sapi"]);
    names.tei = std::stoi(lapd["lapd.tei"]);
    // A control field cut short leaves the kind unnamed.
    if (!lapd.count("lapd.control.ftype")) return;
    unsigned ftype = std::stoul(lapd["lapd.control.ftype"], nullptr, 16);
    bool ui = ftype == 3 && lapd["lapd.control.u_modifier_cmd"] == "0x00";
    if (names.tei == 127 && names.sapi == 63)
        names.kind = lapd.count("tei.msg") ? "tei management:" : "management, not TEI";
    else if (names.tei == 127 && names.sapi != 0)
        names.kind = "broadcast on another sapi";
    else if (names.tei == 127)
        names.kind = ui ? "broadcast" : "no UI broadcast";
    else if (names.sapi != 0)
        names.kind = "unknown sapi";
    else
        names.kind = (ftype & 1) ? "S or U" : "I";
}

std::vector<Names> tshark_names(const std::string& pdml) {
    std::vector<Names> packets;
    std::istringstream lines(pdml);
    std::string line;
    std::map<std::string, std::string> lapd;
    bool shifted = false;
    bool previous_opens_element = false;
    while (std::getline(lines, line)) {
        if (line.find("<packet>") != std::string::npos) {
            packets.emplace_back();
            lapd.clear();
            shifted = false;
            continue;
        }
        if (packets.empty()) continue;
        Names& names = packets.back();
        std::string field = attribute(line, "name");
        std::string show = attribute(line, "show");
        std::string showname = attribute(line, "showname");
        bool element_opened = previous_opens_element;
        previous_opens_element = opens_element(line);
        if (starts_with(field, "lapd.") || starts_with(field, "tei.")) lapd[field] = show;
        if (field == "q931.message_type") {
            names.message = shown_name(showname);
            if (starts_with(names.message, "Unknown")) names.message = "Unknown";
        } else if (field == "q931.locking_codeset") {
            shifted = true;
        } else if (!shifted && element_opened &&
                   (field == "q931.information_element" || field == "q932.ie.type")) {
            names.elements.push_back(shown_name(showname));
        } else if (field == "q931.cause_value") {
            names.cause = shown_name(showname);
            if (starts_with(names.cause, "Unknown")) names.cause = "Unknown";
        }
        bool link_layer_done = line.find("</packet>") != std::string::npos ||
                               line.find("proto name=\"q931\"") != std::string::npos;
        if (link_layer_done && names.sapi < 0 && lapd.count("lapd.tei"))
            name_link_layer(names, lapd);
    }
    return packets;
}

// --- the capture

// A LAPD capture (pcap, link type 177): each frame after the 16-octet Linux
// LAPD header, written as received on the side the frame goes to.
void write_capture(const std::string& path, const std::vector<Frame>& frames) {
    std::ofstream file(path, std::ios::binary);
    auto le32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) file.put(static_cast<char>(v >> (8 * i)));
    };
    auto be16 = [&](unsigned v) {
        file.put(static_cast<char>(v >> 8));
        file.put(static_cast<char>(v));
    };
    le32(0xA1B2C3D4);
    be16(0x0200);  // version 2.4, little-endian
    be16(0x0400);
    le32(0);
    le32(0);
    le32(65535);
    le32(177);
    uint32_t second = 0;
    for (const Frame& f : frames) {
        uint32_t length = static_cast<uint32_t>(16 + f.octets.size());
        le32(++second);
        le32(0);
        le32(length);
        le32(length);
        be16(0);       // received
        be16(0x20FD);  // ARPHRD_LAPD
        be16(1);
        file.put(f.network_to_user ? 0 : 1);  // received on the network side
        for (int i = 0; i < 7; ++i) file.put(0);
        be16(0x0030);  // ETH_P_LAPD
        file.write(reinterpret_cast<const char*>(f.octets.data()),
                   static_cast<std::streamsize>(f.octets.size()));
    }
}

std::string run_tshark(const std::string& capture) {
    std::string command = "tshark -r " + capture + " -T pdml 2>/dev/null";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[65536];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
            output.append(chunk, n);
        pclose(pipe);
    }
    return output;
}

bool tshark_present() { return std::system("command -v tshark >/dev/null 2>&1") == 0; }

// --- the frames

Frame setup_with(const std::string& element_hex, const std::string& what) {
    return {test::octets("00 01 00 00 08 01 05 05 " + element_hex), false, what};
}

std::vector<Frame> frames_to_compare() {
    std::vector<Frame> frames;
    for (const test::FrameCase& c : test::frame_cases)
        frames.push_back({test::octets(c.hex), c.network_to_user, c.what});
    char hex[32];
    for (const ISDN::MessageTypeName& m : ISDN::message_types) {
        std::snprintf(hex, sizeof hex, "%02X", m.code);
        frames.push_back({test::octets(std::string("00 01 00 00 08 01 05 ") + hex), false,
                          std::string("message type ") + m.name});
    }
    for (const ISDN::InfoElementName& e : ISDN::info_elements) {
        std::snprintf(hex, sizeof hex, "%02X 03 80 90 A2", e.id);
        frames.push_back(setup_with(hex, std::string("element ") + e.name));
    }
    for (const ISDN::CauseText& c : ISDN::cause_texts) {
        std::snprintf(hex, sizeof hex, "%02X", 0x80 | c.value);
        frames.push_back({test::octets(std::string("02 01 00 00 08 01 85 5A 08 02 80 ") + hex),
                          true, std::string("cause ") + c.text});
    }
    return frames;
}

// Compares frame by frame and keeps which known differences it met.
class Agreement {
public:
    void expect(const std::string& what, const Names& p, const Names& t, bool cut) {
        SCOPED_TRACE(what);
        if (p.kind.empty()) return;  // the text was cut inside the octets
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
        // Where the frame ends inside an element, either side may leave it unnamed.
        std::size_t count = p.elements.size();
        if (cut) count = std::min(count, t.elements.size());
        ASSERT_GE(t.elements.size(), count);
        if (!cut) {
            EXPECT_EQ(t.elements.size(), count);
        }
        for (std::size_t i = 0; i < count; ++i) expect_same(p.elements[i], t.elements[i]);
        if (!p.cause.empty()) expect_same(p.cause, t.cause);
    }

    const std::set<std::pair<std::string, std::string>>& differences_met() const { return met_; }

private:
    void expect_same(const std::string& printer, const std::string& tshark) {
        if (printer == tshark) return;
        EXPECT_TRUE(known_differences.count({printer, tshark}))
            << "printer \"" << printer << "\", tshark \"" << tshark << '"';
        met_.insert({printer, tshark});
    }

    std::set<std::pair<std::string, std::string>> met_;
};

TEST(FramePrinterTshark, NamesWhatTsharkNames) {
    if (!tshark_present()) GTEST_SKIP() << "tshark is not installed (scripts/deps.sh test)";
    std::vector<Frame> frames = frames_to_compare();
    std::string capture = std::string(std::getenv("BOARD_TEST_TMP") ? std::getenv("BOARD_TEST_TMP")
                                                                    : "/tmp") +
                          "/frame_printer_" + std::to_string(getpid()) + ".pcap";
    write_capture(capture, frames);
    std::vector<Names> tshark = tshark_names(run_tshark(capture));
    std::remove(capture.c_str());
    ASSERT_EQ(tshark.size(), frames.size());
    Agreement agreement;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        std::string text = test::printed(frames[i].octets, frames[i].network_to_user);
        bool cut = text.find(ISDN::FrameText::marker) != std::string::npos;
        agreement.expect(frames[i].what + "\n" + text, printer_names(text), tshark[i], cut);
    }
    EXPECT_EQ(agreement.differences_met(), known_differences);
}

}  // namespace
