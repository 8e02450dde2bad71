#pragma once
// What every hardware suite starts from: a fresh simulated board whose
// journal holds only the test's own calls, the loop in virtual time, the
// hardware singletons closed, and the service logs captured.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iostream>
#include <vector>

#include "board/sim/sim_board.h"
#include "tests/support/board_root.h"
#include "tests/support/hardware_reset.h"
#include "tests/support/stream_capture.h"
#include "tests/support/virtual_loop.h"

namespace test {

class HardwareTest : public ::testing::Test {
protected:
    HardwareTest() {
        sim().clear_journal();
        progress.clear();
        errors.clear();
    }

    static board::sim::Board& sim() { return board::sim::Board::instance(); }
    template <class Model>
    static Model& model(const char* device) {
        return *sim().model_as<Model>(device);
    }

    // The records of the journaled ioctls `request` on `device`, in order.
    template <class Record>
    static std::vector<Record> requests(const char* device, uint32_t request) {
        std::vector<Record> out;
        for (const board::sim::Call& call : sim().journal(device)) {
            if (call.op != board::sim::Op::Ioctl || call.request != request) continue;
            Record record{};
            std::memcpy(&record, call.data.data(), std::min(sizeof record, call.data.size()));
            out.push_back(record);
        }
        return out;
    }

    BoardRoot board;
    VirtualLoop loop;
    IdleDescriptor idle;  // a pass with nothing to wait for would stop as a hang
    StreamCapture progress{std::clog};
    StreamCapture errors{std::cerr};
    HardwareReset hardware;
};

}  // namespace test
