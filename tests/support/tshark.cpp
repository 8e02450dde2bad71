#include "tests/support/tshark.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "tests/support/server_process.h"

namespace test {

namespace {

std::string temporary_capture_path() {
    static int serial = 0;
    const char* base = std::getenv("BOARD_TEST_TMP");
    return std::string(base && *base ? base : "/tmp") + "/capture-" + std::to_string(getpid()) +
           "-" + std::to_string(++serial) + ".pcap";
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.emplace_back();
    return parts;
}

// The fields of each packet, one line per packet.
std::vector<std::string> field_output(const std::vector<std::string>& fields) {
    std::vector<std::string> args = {"-T", "fields", "-E", "separator=/t", "-E", "occurrence=a",
                                     "-E", "aggregator=,"};
    for (const std::string& field : fields) {
        args.emplace_back("-e");
        args.push_back(field);
    }
    return args;
}

// tshark's standard output in the format `output` asks for; warnings on its
// standard error (it warns when run as root) are not read.
bool run_tshark(const std::string& pcap, const std::vector<std::string>& options,
                const std::vector<std::string>& output, std::string& out, std::string& error) {
    std::vector<std::string> args = {"-n", "-r", pcap};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), output.begin(), output.end());
    ServerProcess tshark(tshark_program(), args);
    const int status = tshark.wait_exit(60000);
    out = tshark.out();
    if (status != 0) error = "tshark failed with status " + std::to_string(status) + ":\n" +
                             tshark.err();
    return status == 0;
}

// Writes `capture` to a temporary file and runs tshark over it once.
bool read_capture(const PcapWriter& capture, const std::vector<std::string>& options,
                  const std::vector<std::string>& output, std::string& out, std::string& error) {
    const std::string pcap = temporary_capture_path();
    bool done = false;
    if (tshark_program().empty())
        error = tshark_missing;
    else if (!capture.write(pcap))
        error = "cannot write " + pcap;
    else
        done = run_tshark(pcap, options, output, out, error);
    ::unlink(pcap.c_str());
    return done;
}

}  // namespace

std::string tshark_program() { return find_program("tshark"); }

std::vector<TsharkFields> tshark_fields(const PcapWriter& capture,
                                        const std::vector<std::string>& options,
                                        const std::vector<std::string>& fields,
                                        std::string* error) {
    std::string reason;
    std::string out;
    std::vector<TsharkFields> packets;
    if (read_capture(capture, options, field_output(fields), out, reason)) {
        for (const std::string& line : split(out, '\n')) {
            if (line.empty()) continue;
            const std::vector<std::string> values = split(line, '\t');
            TsharkFields packet;
            for (size_t i = 0; i < fields.size(); ++i)
                packet[fields[i]] = i < values.size() ? values[i] : "";
            packets.push_back(packet);
        }
        if (packets.size() != capture.packets()) {
            reason = "tshark printed " + std::to_string(packets.size()) + " packets of " +
                     std::to_string(capture.packets()) + ":\n" + out;
            packets.clear();
        }
    }
    if (error) *error = reason;
    return packets;
}

std::string tshark_matching(const PcapWriter& capture, const std::vector<std::string>& options,
                            const std::string& filter, std::string* error) {
    std::string reason;
    std::string out;
    if (!read_capture(capture, options, {"-Y", filter}, out, reason)) out.clear();
    if (error) *error = reason;
    return out;
}

std::string tshark_pdml(const PcapWriter& capture, const std::vector<std::string>& options,
                        std::string* error) {
    std::string reason;
    std::string out;
    if (!read_capture(capture, options, {"-T", "pdml"}, out, reason)) out.clear();
    if (error) *error = reason;
    return out;
}

}  // namespace test
