#pragma once
// What every hardware suite starts from: a fresh simulated board whose
// journal holds only the test's own calls, the loop in virtual time, the
// hardware singletons closed, and the service logs captured. Services under
// test can be bound to the controller server (without a controller link)
// beside a recorder that hears every signal they send.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>
#include <vector>

#include "board/sim/sim_board.h"
#include "link/ctrl_server.h"
#include "tests/support/board_root.h"
#include "tests/support/hardware_reset.h"
#include "tests/support/stream_capture.h"
#include "tests/support/virtual_loop.h"

namespace test {

// Hears the signals that the other bound services send.
class SignalRecorder : public CtrlSrv::Service {
public:
    void OnConnect() override {}
    void OnDisconnect() override {}
    bool OnCommand(const LGCP::Command&) override { return false; }
    void OnSignal(const LGCP::Signal& signal) override { signals.push_back(signal); }

    std::vector<const ACP::TrunkStatus*> trunk_states(ACP::TrunkType::NamedNumber type) const {
        std::vector<const ACP::TrunkStatus*> out;
        for (const LGCP::Signal& signal : signals)
            if (const ACP::TrunkStatus* state = signal.get_trunkStatus())
                if (state->get_type().getValue() == type) out.push_back(state);
        return out;
    }

    std::vector<LGCP::Signal> signals;
};

// The services bound to the controller server, in order, for one test.
class BoundServices {
public:
    explicit BoundServices(const std::vector<CtrlSrv::Service*>& services) {
        CtrlSrv::ctrlServer.reset_for_test();
        for (CtrlSrv::Service* service : services) CtrlSrv::ctrlServer.Bind(service);
    }
    ~BoundServices() { CtrlSrv::ctrlServer.reset_for_test(); }
    BoundServices(const BoundServices&) = delete;
    BoundServices& operator=(const BoundServices&) = delete;
};

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

    // True when the process holds the device open, each descriptor of it
    // close-on-exec (so that no child program inherits it).
    static bool held_close_on_exec(const char* device) {
        bool held = false, cloexec = true;
        DIR* dir = ::opendir("/proc/self/fd");
        while (dirent* entry = dir ? ::readdir(dir) : nullptr) {
            int fd = std::atoi(entry->d_name);
            const board::sim::Channel* open = entry->d_name[0] == '.' ? nullptr : sim().channel(fd);
            if (!open || open->path() != device) continue;
            held = true;
            cloexec = cloexec && (::fcntl(fd, F_GETFD) & FD_CLOEXEC);
        }
        if (dir) ::closedir(dir);
        return held && cloexec;
    }

    BoardRoot board;
    VirtualLoop loop;
    IdleDescriptor idle;  // a pass with nothing to wait for would stop as a hang
    StreamCapture notices{std::cout};
    StreamCapture progress{std::clog};
    StreamCapture errors{std::cerr};
    HardwareReset hardware;
    SignalRecorder recorder;
};

}  // namespace test
