#include "server/signals.h"

#include <cerrno>
#include <fstream>
#include <iostream>

#include "board/paths.h"
#include "runtime/ipc_signal.h"
#include "runtime/multiplexer.h"
#include "runtime/version.h"
#include "slots/slots.h"

volatile sig_atomic_t doDumpStatus = 0;
volatile sig_atomic_t updateResources = 0;

void SigPipeHandler(int, siginfo_t*, void*) {}

void SigTermHandler(int, siginfo_t*, void*) { multiplexer.terminate(); }

void SigUsr2Handler(int, siginfo_t*, void*) {
    int savedErrno = errno;
    doDumpStatus = 1;
    errno = savedErrno;
}

void SigHupHandler(int, siginfo_t*, void*) {
    int savedErrno = errno;
    updateResources = 1;
    errno = savedErrno;
}

// SIGTERM and SIGINT without SA_RESTART, so that a poll() under way ends.
void InstallSignalHandlers() {
    IPC::Signal::handle(SIGPIPE, SigPipeHandler, SA_RESTART);
    IPC::Signal::handle(SIGTERM, SigTermHandler, 0);
    IPC::Signal::handle(SIGINT, SigTermHandler, 0);
    IPC::Signal::handle(SIGUSR2, SigUsr2Handler, SA_RESTART);
    IPC::Signal::handle(SIGHUP, SigHupHandler, SA_RESTART);
}

void CheckSignals() {
    CheckDumpStatus();
    CheckUpdateResources();
}

void CheckDumpStatus() {
    if (!doDumpStatus) return;
    doDumpStatus = 0;
    std::ofstream file(board::path("/var/log/server-status"), std::ios::out | std::ios::trunc);
    if (!file) {
        std::cerr << "dump status error" << std::endl;
        return;
    }
    file << "server status" << std::endl;
    file << "version : " << Version::current << std::endl;
    multiplexer.dump(file);
}

void CheckUpdateResources() {
    if (!updateResources) return;
    updateResources = 0;
    std::clog << "update hardware resources" << std::endl;
    Slots::instance()->UpdateHardwareResources();
}
