#include "slots/dsp_modem_slot.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "board/devio.h"
#include "board/drivers/mctl.h"
#include "board/paths.h"
#include "runtime/mux_time.h"
#include "slots/child_program.h"
#include "slots/modem_factory.h"

namespace {

constexpr const char* kFaxTransfer = "/usr/local/sbin/fax";
constexpr const char* kFaxReceiver = "/usr/local/bin/fax";
constexpr const char* kAnswerOptions = "/usr/local/etc/ppp/aoptions";
constexpr const char* kOriginateOptions = "/usr/local/etc/ppp/coptions";
constexpr const char* kFaxExtension = ".g3";
// The fax transfer program's arguments after "-m <modem>", when given.
constexpr unsigned kMaxFaxArgs = 60;
// A fax program that could not start: no page is counted for it.
constexpr int kExecFailed = 127;

int32_t DdmMask(const ASN1::SEQUENCE_OF<TERM::DigitalDataModeEnum>& modes) {
    int32_t mask = 0;
    for (const TERM::DigitalDataModeEnum& mode : modes) {
        switch (mode.getValue()) {
            case TERM::DigitalDataModeEnum::ddmV110: mask |= board::mctl::kDdmV110; break;
            case TERM::DigitalDataModeEnum::ddm8BIT: mask |= board::mctl::kDdm8Bit; break;
            case TERM::DigitalDataModeEnum::ddm7BIT: mask |= board::mctl::kDdm7Bit; break;
            default: break;
        }
    }
    return mask;
}

// A received fax is named after the loop clock's local time.
std::string FaxFileName() {
    const time_t now = Mux::seconds();
    struct tm local;
    localtime_r(&now, &local);
    char name[64];
    std::strftime(name, sizeof name, "/var/fax-%H-%M-%S.g3", &local);
    return name;
}

}  // namespace

void DspModemSlot::unbind() { ModemFactory::instance().ReleaseModemSlot(this); }

int DspModemSlot::LogFailure(const char* what) {
    const int error = errno;
    PutHeader(std::cerr) << what << std::strerror(error) << std::endl;
    return error;
}

void DspModemSlot::Abort(const char* what) {
    OnAbort(LogFailure(what));
}

// ---- Set-up

void DspModemSlot::InitModem() {
    if (modem_ >= 0) return;
    Fd fd(board::open(board::mctl::kDevice, O_RDONLY | O_CLOEXEC));
    if (!fd) return Abort("fail to open device: ");
    const int modem = board::ioctl_value(fd.get(), board::mctl::kAllocate, 0);
    if (modem < 0) return Abort("insufficient resources : ");
    const int channel = board::ioctl_value(fd.get(), board::mctl::kGetChannel, 0);
    if (channel < 0) return Abort("get timeslot fail : ");
    if (const auto* ddm = params().get_ddm()) {
        int32_t words[2] = {modem, DdmMask(*ddm)};
        if (board::ioctl(fd.get(), board::mctl::kSetDdm, words) < 0)
            return Abort("set DDM failed : ");
    }
    if (!SetParameters(fd, modem)) return;
    channel_ = channel;
    modem_ = modem;
    fd_ = std::move(fd);
    HoldChannel(channel);
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
    StartCall();
}

// A call must not start on a modem whose parameters are not those asked
// for: a refused reset or parameter aborts the set-up as a refused mode does.
bool DspModemSlot::SetParameters(const Fd& fd, int modem) {
    int32_t reset[2] = {modem, -1};
    if (board::ioctl(fd.get(), board::mctl::kResetParams, reset) < 0) {
        Abort("reset dmp parameters failed : ");
        return false;
    }
    const auto* dmp = params().get_dmp();
    if (!dmp) return true;
    for (const TERM::DDModemParam& param : *dmp) {
        int32_t words[3] = {modem, param.get_offset().getValue(), param.get_value().getValue()};
        if (board::ioctl(fd.get(), board::mctl::kSetParam, words) >= 0) continue;
        const std::string what = "set dmp parameter index=" +
                                 std::to_string(param.get_offset().getUnsignedValue()) +
                                 " value=" + std::to_string(param.get_value().getUnsignedValue()) +
                                 " failed : ";
        Abort(what.c_str());
        return false;
    }
    return true;
}

bool DspModemSlot::CallRequest(uint32_t request, const char* failure) {
    int32_t words[2] = {modem_, -1};
    if (board::ioctl(fd_.get(), request, words) >= 0) return true;
    Abort(failure);
    return false;
}

void DspModemSlot::StartCall() {
    const bool originate = params().has_originate();
    if (!params().has_fax()) {
        char tty[32];
        std::snprintf(tty, sizeof tty, board::mctl::kTtyFormat, modem_);
        if (originate) {
            if (CallRequest(board::mctl::kOriginate, "originate failed : "))
                pppd_exec(tty, kOriginateOptions);
        } else if (CallRequest(board::mctl::kAnswer, "answer failed : ")) {
            pppd_exec(tty, kAnswerOptions);
        }
    } else if (params().has_execargs()) {
        RunFaxTransfer();
    } else if (originate) {
        CallRequest(board::mctl::kOriginateFax, "originate failed : ");
    } else {
        RunFaxReceiver();
    }
}

// ---- The fax programs

void DspModemSlot::RunFaxTransfer() {
    ChildProgram fax;
    const ASN1::IA5String* execfile = params().get_execfile();
    fax.argv = {board::path(execfile ? std::string(*execfile) : kFaxTransfer), "-m",
                std::to_string(modem_)};
    const auto& args = *params().get_execargs();
    for (unsigned i = 0; i < std::min(args.size(), kMaxFaxArgs); ++i) fax.argv.push_back(args[i]);
    fax.banner = "executing fax transfer";
    StartFax(fax, "fax transfer executed");
}

void DspModemSlot::RunFaxReceiver() {
    ChildProgram fax;
    faxFile_ = FreeFaxFile();
    fax.argv = {board::path(kFaxReceiver), "-m", std::to_string(modem_), "receive", faxFile_};
    fax.pauseSeconds = 1;
    fax.banner = "executing";
    StartFax(fax, "fax receiver executed");
}

// Two calls answered in one second, or a fax of the same time on another
// day not collected yet, must not share a file.
std::string DspModemSlot::FreeFaxFile() {
    std::string name = board::path(FaxFileName());
    const std::string stem = name.substr(0, name.size() - std::strlen(kFaxExtension));
    for (unsigned n = 1; FaxFileTaken(name); ++n)
        name = stem + "." + std::to_string(n) + kFaxExtension;
    return name;
}

bool DspModemSlot::FaxFileTaken(const std::string& name) {
    struct stat status;
    if (::lstat(name.c_str(), &status) == 0) return true;
    for (const DspModemSlot* slot : ModemFactory::instance().dspSlots())
        if (slot->faxRuns() && slot->faxFile_ == name) return true;
    return false;
}

// The slot's descriptor keeps the modem allocated while the program uses
// it: closed, it would free the modem for the next call.
void DspModemSlot::StartFax(ChildProgram& fax, const char* started) {
    fax.failure = "fail to exec!";
    fax.failStatus = kExecFailed;
    const pid_t pid = StartChild(fax);
    if (pid < 0) return LetGoOfHardware(Loss::abort, LogFailure("vfork fail: "));
    child_.Watch(pid, &DspModemSlot::on_fax_terminate, this);
    PutHeader(std::clog) << started << " modem=" << modem_ << " ts=" << channel_ << std::endl;
}

// The status is the raw wait status; a program's exit code is its page count.
void DspModemSlot::on_fax_terminate(int status) {
    PutHeader(std::clog) << "fax terminated with code " << status << std::endl;
    child_.Ended();
    const bool exited = (status & 0xFF) == 0;
    const int code = (status >> 8) & 0xFF;
    const bool notStarted = exited && code == kExecFailed;
    if (!exited || notStarted) PutHeader(std::cerr) << "fax transfer failed" << std::endl;
    const int pages = notStarted ? 0 : code;
    PutHeader(std::cerr) << "pages received: " << pages << std::endl;
    TERM::ModemProceeding proceeding;
    TERM::MdmAccounting& accounting = proceeding.select_acct();
    accounting.get_octetsIn().set_low(pages);
    OnModem(proceeding);
    if (destroying()) return Finished();
    LetGoOfHardware(Loss::abort, status);
}

void DspModemSlot::IReleaseHardware() {
    fd_.close();
    channel_ = -1;
}
