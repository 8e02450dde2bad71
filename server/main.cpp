// The server: reads its configuration, installs its signal handlers, parses
// its command line, creates the process-wide objects, binds the services that
// serve the controller and runs the event loop until SIGTERM or SIGINT.

#include <getopt.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>

#include "board/paths.h"
#include "hardware/bus_ctl.h"
#include "hardware/hw_mux.h"
#include "link/control_links.h"
#include "link/ctrl_server.h"
#include "monitoring/monitoring_ctl.h"
#include "runtime/child_wait.h"
#include "runtime/daemon.h"
#include "runtime/fd.h"
#include "runtime/ini_file.h"
#include "runtime/multiplexer.h"
#include "runtime/process.h"
#include "runtime/timer.h"
#include "runtime/trace_ctl.h"
#include "runtime/version.h"
#include "server/services.h"
#include "server/signals.h"
#include "server/slot_factories.h"

namespace {

const char configFile[] = "/usr/local/etc/server.conf";

const char sUsageText[] =
    "Usage:\n"
    " trunkerd -Dh\n"
    "  -D --daemon                      run as daemon\n"
    "  -p --port                        use this port\n"
    "     --disable-clock               disable clock control\n"
    "     --version                     print version\n"
    "  -h --help                        display this information\n";

enum { optDisableClock = 10 };

int print_version = 0;

const option long_options[] = {
    {"daemon", no_argument, nullptr, 'D'},
    {"disable-clock", no_argument, nullptr, optDisableClock},
    {"port", required_argument, nullptr, 'p'},
    {"version", no_argument, &print_version, 1},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

struct Options {
    bool daemon = false;
    int port = 20001;
};

[[noreturn]] void Usage(int status) {
    std::cout << sUsageText << std::endl;
    std::exit(status);
}

// A TCP port: the whole text a decimal number in 1..65535.
bool ParsePort(const char* text, int& port) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 65535) return false;
    port = static_cast<int>(value);
    return true;
}

Options ParseCommandLine(int argc, char** argv) {
    Options options;
    for (;;) {
        int c = getopt_long(argc, argv, "Dh", long_options, nullptr);
        if (c == -1) break;
        switch (c) {
            case 'h': Usage(0);
            case 'p':
                if (!ParsePort(optarg, options.port)) Usage(2);
                break;
            case 'D': options.daemon = true; break;
            case optDisableClock: BusCtl::instance().DisableControl(); break;
            case '?': Usage(2);
            default: break;
        }
    }
    return options;
}

// The order of binding is the order in which every command is offered.
void BindServices() {
    for (CtrlSrv::Service* service : ControllerServices()) CtrlSrv::ctrlServer.Bind(service);
}

// Detaches and sends the three output streams to syslog as "vbx-<tag>".
void RunDaemon() {
    std::ostringstream identity;
    identity << "vbx-";
    Version::current.put(identity);
    Daemon::Params params;
    params.mode = Daemon::toSyslog;
    params.keepDirectory = false;
    params.name = identity.str();
    Daemon::Init(params);
}

}  // namespace

int main(int argc, char** argv) {
    OccupyStandardDescriptors();
    opterr = 1;

    auto file = std::make_unique<IniFile::File>();
    if (file->Open(board::path(configFile))) {
        traces.reset();
        traces.Configure((*file)["traces"]);
    }

    InstallSignalHandlers();

    Options options = ParseCommandLine(argc, argv);
    if (print_version) {
        std::cout << "server version: " << Version::current << std::endl;
        std::exit(2);
    }

    CreateSlotFactories();
    HwMux::instance();
    MonitoringCtl::instance().Configure(*file);

    if (options.daemon) RunDaemon();
    auto pidFile = std::make_unique<Linux::Run>("server");

    std::cout << "Starting server [" << Version::current << "], port=" << options.port
              << std::endl;

    BindServices();
    ChildWait::Activate();

    Dpc signalCheck;
    signalCheck.Bind(new DpcHandler1(CheckSignals));
    signalCheck.Activate();

    CtrlSrv::ctrlServer.Activate(new Control::AcceptorNetCheckConnection(options.port));

    multiplexer.run(true, true);

    CtrlSrv::ctrlServer.Deactivate();
    signalCheck.Deactivate();
    signalCheck.Bind(nullptr);
    pidFile.reset();
    file.reset();
    return 0;
}
