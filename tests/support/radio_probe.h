#pragma once
// Stands in for a radio slot as its controller's notification target: each
// report is encoded in aligned PER as the `rtpExt` signal the slot would
// send, and kept; reports that do not encode are counted (the controller
// link would lose them), and so are aborts.
//
//   test::RadioProbe probe;
//   controller.SetNotify(&probe);
//   ... EXPECT_EQ(0u, probe.unencodable);

#include <string>
#include <vector>

#include "asn1/per_encoder.h"
#include "messages/lgcp.h"
#include "radio/radio_control.h"

namespace test {

class RadioProbe : public RTPSignalling::IRadioControlNotify {
public:
    void RadioControlNotify(const TERM::RtpRadioRequest& report) override {
        LGCP::Signal signal;
        signal.set_rtpExt(report);
        std::vector<char> octets;
        ASN1::PEREncoder encoder(octets);
        if (!signal.accept(encoder)) ++unencodable;
        reports.push_back(report);
    }
    void RadioControlNotify(int code) override { aborts.push_back(code); }

    void clear() {
        reports.clear();
        aborts.clear();
    }

    std::vector<TERM::RtpRadioRequest> reports;
    std::vector<int> aborts;
    unsigned unencodable = 0;
};

}  // namespace test
