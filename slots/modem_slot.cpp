#include "slots/modem_slot.h"

#include <arpa/inet.h>
#include <errno.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <iostream>

#include "board/paths.h"
#include "slots/child_program.h"
#include "slots/modem_factory.h"

namespace {

constexpr const char* kPppd = "/usr/local/sbin/pppd";
// pppd's arguments after its program, when the controller gives them.
constexpr unsigned kMaxPppdArgs = 62;

// The controller's texts are IA5: a byte above 0x7F would fail the signal.
bool IsIA5(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) <= 0x7F; });
}

void SetWords(BASE::INTEGER64Bits& counter, uint64_t value) {
    counter.get_low().setValue(static_cast<unsigned>(value & 0xFFFFFFFFu));
    counter.get_high().setValue(static_cast<unsigned>(value >> 32));
}

}  // namespace

ModemSlot::ModemSlot(const TERM::ModemParams& params) : params_(params) {}

std::ostream& ModemSlot::PutHeader(std::ostream& os) const { return os << *this << ": "; }

// ---- pppd

void ModemSlot::pppd_exec(const char* tty, const char* optionsFile) {
    if (child_.running()) return;
    const std::string& cid = params_.get_cid();
    ChildProgram pppd;
    const ASN1::IA5String* execfile = params_.get_execfile();
    pppd.argv.push_back(board::path(execfile ? std::string(*execfile) : kPppd));
    if (const auto* args = params_.get_execargs()) {
        for (unsigned i = 0; i < std::min(args->size(), kMaxPppdArgs); ++i)
            pppd.argv.push_back((*args)[i]);
    } else {
        pppd.argv.insert(pppd.argv.end(), {"file", board::path(optionsFile), tty});
        if (!cid.empty()) pppd.argv.insert(pppd.argv.end(), {"remotenumber", cid});
    }
    const pid_t pid = StartChild(pppd);
    if (pid < 0) {
        const int error = errno;
        PutHeader(std::cerr) << "vfork fail: " << std::strerror(error) << std::endl;
        return OnAbort(error);
    }
    child_.Watch(pid, &ModemSlot::on_terminate, this);
    PutHeader(std::clog) << "pppd executed" << " cid=\"" << cid << "\"" << " pid=" << pid
                         << std::endl;
}

bool ModemSlot::IBeforeDestroy() {
    if (!child_.running()) {
        unbind();
        return true;
    }
    child_.Stop(SIGHUP, "HUP", &ModemSlot::Finished, this);
    return false;
}

// Dropped before its child stopped: the factory's lists must not keep it.
void ModemSlot::IForcedRelease() { unbind(); }

void ModemSlot::Finished() {
    unbind();
    on_release();
}

void ModemSlot::on_terminate(int status) {
    PutHeader(std::clog) << "pppd terminated with code " << status << std::endl;
    child_.Ended();
    if (destroying()) return Finished();
    OnAbort(status);
}

// ---- The authentication link

bool ModemSlot::IActivate(const TERM::TermActivateParams& params) {
    const TERM::ModemUserParameters* user = params.get_modem();
    if (!user) {
        PutHeader(std::cerr) << "modem's activation requests parameter." << std::endl;
        return false;
    }
    const uint32_t session = static_cast<uint32_t>(modem_id());
    Auth::voaddr address;
    address.remote = ::inet_addr(user->get_remoteAddr().c_str());
    address.netmask = ::inet_addr(user->get_netmask().c_str());
    address.gateway = ::inet_addr(user->get_gateway().c_str());
    address.dns = ::inet_addr(user->get_dns().c_str());
    address.mtu = user->get_mtu().getUnsignedValue();
    ModemFactory& factory = ModemFactory::instance();
    factory.SendAuth(session, Auth::accept_record(session));
    factory.SendAuth(session, Auth::ip_parameters_record(session, address));
    // Answered whether or not the records went out.
    return true;
}

void ModemSlot::OnAuth(const Auth::Record& record) {
    const Auth::attr& header = record.header();
    switch (header.type) {
        case Auth::kLogin:
            if (header.length == Auth::kLoginSize) return OnAuthRequest(record.login());
            PutHeader(std::cerr) << "auth request, invalid size: " << header.length << std::endl;
            return;
        case Auth::kAccept: PutHeader(std::cerr) << "auth accept, ignored." << std::endl; return;
        case Auth::kIpParameters: PutHeader(std::cerr) << "auth ip, ignored." << std::endl; return;
        case Auth::kAccounting:
            if (header.length == Auth::kAccountingSize)
                return OnAcctInformation(record.accounting());
            PutHeader(std::cerr) << "auth accounting, invalid size: " << header.length
                                 << std::endl;
            return;
        default:
            PutHeader(std::cerr) << "unknown request from portslave: 0x" << std::hex
                                 << header.type << std::dec << std::endl;
    }
}

// A login the controller cannot be told is dropped here, and its texts are
// not logged.
void ModemSlot::OnAuthRequest(const Auth::voauth& login) {
    if (!IsIA5(login.username) || !IsIA5(login.password)) {
        PutHeader(std::cerr) << "auth request with a text that is not IA5, dropped: modem="
                             << modem_id() << std::endl;
        return;
    }
    TERM::ModemProceeding proceeding;
    TERM::MdmRequestUserAuth& auth = proceeding.select_auth();
    auth.set_username(login.username);
    auth.set_password(login.password);
    OnModem(proceeding);
}

void ModemSlot::OnAcctInformation(const Auth::voacct& acct) {
    TERM::ModemProceeding proceeding;
    TERM::MdmAccounting& accounting = proceeding.select_acct();
    SetWords(accounting.get_octetsOut(), acct.octetsOut);
    SetWords(accounting.get_octetsIn(), acct.octetsIn);
    SetWords(accounting.get_packetsOut(), acct.packetsOut);
    SetWords(accounting.get_packetsIn(), acct.packetsIn);
    SetWords(accounting.get_time(), acct.time);
    OnModem(proceeding);
}
