#pragma once
// The slot suite with the signalling factories (PSTN, ISDN, HDLC) beside the
// media ones, on the simulated board's frames, in virtual time. What the
// controller hears reads as one line per message, the signalling signals
// too: "20 activated", "20 hdlcLinkInfo 3 0 0 0 2", "21 isdnLinkStatus
// congested", "40 hdlcPackages 0a0b 0c". Trunk state signals are left out.

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "board/sim/dsp_data_model.h"
#include "signalling/hdlc_slot_factory.h"
#include "signalling/isdn_factory.h"
#include "signalling/pstn_factory.h"
#include "tests/slots/media_fixture.h"
#include "tests/support/signalling_commands.h"

namespace test {

inline std::string compact_hex(const std::vector<char>& bytes) {
    std::ostringstream text;
    for (char byte : bytes)
        text << std::hex << std::setw(2) << std::setfill('0') << (static_cast<unsigned>(byte) & 0xFF);
    return text.str();
}

inline std::string describe(const LGCP::IoctlResponse& report) {
    std::ostringstream text;
    if (const LGCP::HdlcLinkInfo* info = report.get_hdlcLinkInfo()) {
        text << "hdlcLinkInfo " << info->get_txSU().getValue() << ' '
             << info->get_txDiscard().getValue() << ' ' << info->get_txError().getValue() << ' '
             << info->get_txOverflow().getValue() << ' ' << info->get_rxSU().getValue();
    } else if (const ACP::SS7LinkInfo* info = report.get_ss7LinkInfo()) {
        text << "ss7LinkInfo " << info->get_ss7state().getName() << " speeds "
             << info->get_speedRx().getValue() << '/' << info->get_speedTx().getValue();
    } else if (const ACP::IsdnLinkInfo* info = report.get_isdnLinkInfo()) {
        text << "isdnLinkInfo " << info->get_lapdState().getName();
    } else if (const LGCP::IsdnLinkStatus* status = report.get_isdnLinkStatus()) {
        text << "isdnLinkStatus " << status->getName();
    } else if (const ASN1::INTEGER* bsn = report.get_ss7BSN()) {
        text << "ss7BSN " << bsn->getValue();
    } else if (const auto* packages = report.get_hdlcPackages()) {
        text << "hdlcPackages";
        for (const LGCP::HdlcPackage& package : *packages)
            text << ' ' << compact_hex(package.get_body());
    } else {
        text << "ioctl " << static_cast<int>(report.selection());
    }
    return text.str();
}

class SignallingSlotTest : public MediaSlotTest {
protected:
    using MediaSlotTest::MediaSlotTest;
    SignallingSlotTest() = default;

    static void SetUpTestSuite() {
        MediaSlotTest::SetUpTestSuite();
        PstnFactory::instance();
        IsdnFactory::instance();
        HdlcSlotFactory::instance();
    }

    std::string line(const LGCP::Message& message) override {
        const LGCP::Signal* signal = message.get_pdu().get_signal();
        if (!signal || !is_signal(message)) return describe(message);
        const std::string slot = slot_of(message) ? std::to_string(*slot_of(message)) + " " : "";
        if (signal->is_activated()) return slot + "activated";
        if (signal->is_deactivated()) return slot + "deactivated";
        if (const LGCP::IoctlResponse* report = signal->get_ioctl())
            return slot + describe(*report);
        if (signal->is_trunkStatus()) return "";
        return describe(message);
    }
    // The lines heard, without those of trunk state.
    std::vector<std::string> heard_lines(std::vector<std::string> lines) {
        lines.erase(std::remove(lines.begin(), lines.end(), ""), lines.end());
        return lines;
    }
    std::vector<std::string> told(const LGCP::Command& command, unsigned slot) {
        return heard_lines(heard(command, slot));
    }
    // Signals heard so far (those that came with the answers of wire()
    // too), each heard once.
    std::vector<std::string> signalled() {
        std::vector<std::string> lines = std::move(backlog);
        backlog.clear();
        for (std::string& l : heard_lines(signals())) lines.push_back(std::move(l));
        return lines;
    }
    // The lines signalled that contain `text`.
    std::vector<std::string> signalled(const std::string& text) {
        std::vector<std::string> out;
        for (const std::string& l : signalled())
            if (l.find(text) != std::string::npos) out.push_back(l);
        return out;
    }

    // Virtual time, the frames on the board arriving before the clock moves.
    void run(unsigned ms) { server.loop().advance_settled(ms); }

    void destroy(unsigned slot) {
        ASSERT_EQ(std::nullopt, outcome(command(Alternative::destroy), slot)) << "destroy " << slot;
    }
    // Connects the two slots both ways; the signals that come meanwhile
    // are kept for signalled().
    void wire(unsigned a, unsigned b) {
        join(a, b);
        join(b, a);
    }
    void join(unsigned source, unsigned destination) {
        succeed(connect_command(destination), source);
    }
    // A command that must succeed; the signals that come with its answer
    // are kept for signalled().
    void succeed(const LGCP::Command& command, unsigned slot) {
        const std::string answer = std::to_string(slot) + " success";
        bool answered = false;
        for (std::string& l : told(command, slot)) {
            if (l == answer && !answered)
                answered = true;
            else
                backlog.push_back(std::move(l));
        }
        EXPECT_TRUE(answered) << "slot " << slot << ", command " << static_cast<int>(command.selection());
    }

    static board::sim::TdmFabric& frames() { return fabric().frames; }
    static board::sim::DspDataModel& qsig() {
        return *sim().model_as<board::sim::DspDataModel>(board::dsp_data::kDevice);
    }

    std::vector<std::string> backlog;
};

}  // namespace test
