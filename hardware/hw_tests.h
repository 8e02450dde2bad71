#pragma once
// The controller's test of the shared TDM bus (`testBpc`): over a range of
// bus channels it drives a pseudo-random byte sequence and reads it back
// (write), checks that the channels carry the sequence of a seed that
// something else on the bus drives (read), or switches them off
// (disconnect). The sequence is the C library's random() after srandom(seed),
// so every party with the same seed expects the same bytes.

#include <cstdint>
#include <iosfwd>

#include "link/ctrl_server.h"

class HwTests : public CtrlSrv::Service {
public:
    static HwTests& instance();
    ~HwTests() override = default;

    void OnConnect() override {}
    void OnDisconnect() override {}
    // Takes `testBpc`.
    bool OnCommand(const LGCP::Command& command) override;

    void OnTestBpc(const LGCP::BpcTestParams& params);
    void TestRead();
    void TestWrite();
    void TestDisconnect();

    void PutHeader(std::ostream& os) const;

private:
    HwTests() = default;
    // Reads the range back against the seed's sequence and answers: busError
    // at the first mismatch, logged in the given words.
    void Verify(const char* failure, const char* wanted, const char* got);

    uint32_t bus_ = 0;
    uint32_t first_ = 0;
    uint32_t end_ = 0;
    uint32_t seed_ = 0;
};
