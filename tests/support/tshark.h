#pragma once
// Runs tshark, the independent dissector the wire-format tests compare
// with, once over a capture and reads back the fields it dissected.
//
//   if (test::tshark_program().empty()) GTEST_SKIP() << test::tshark_missing;
//   std::string error;
//   auto packets = test::tshark_fields(capture, {"-d", "udp.port==5004,rtp"},
//                                      {"rtp.ext.ed137a.ptt_id"}, &error);
//   EXPECT_EQ("5", packets.at(0)["rtp.ext.ed137a.ptt_id"]);

#include <map>
#include <string>
#include <vector>

#include "tests/support/pcap_writer.h"

namespace test {

constexpr const char* tshark_missing =
    "tshark is not installed (scripts/deps.sh test installs it)";

// The tshark found on PATH, or "" when there is none.
std::string tshark_program();

// One packet's fields by name as tshark prints them: several occurrences
// joined by ",", a field the packet lacks as "".
using TsharkFields = std::map<std::string, std::string>;

// Writes `capture` to a temporary file and runs tshark over it once with
// `options` before the fields. Returns one entry per packet in capture
// order; on failure (tshark missing, failing or printing another number of
// packets) an empty list, with the reason in `error`.
std::vector<TsharkFields> tshark_fields(const PcapWriter& capture,
                                        const std::vector<std::string>& options,
                                        const std::vector<std::string>& fields,
                                        std::string* error);

// The summary lines tshark prints for the packets that match the display
// `filter` ("" when none does, or on failure, with the reason in `error`).
std::string tshark_matching(const PcapWriter& capture, const std::vector<std::string>& options,
                            const std::string& filter, std::string* error);

// tshark's whole dissection of `capture` as PDML (XML: one <packet> each,
// every field with its "showname"), for tests that compare names. "" on
// failure, with the reason in `error`.
std::string tshark_pdml(const PcapWriter& capture, const std::vector<std::string>& options,
                        std::string* error);

}  // namespace test
