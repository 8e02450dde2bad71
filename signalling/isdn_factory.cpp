#include "signalling/isdn_factory.h"

#include <errno.h>
#include <fcntl.h>

#include <cstring>
#include <iostream>
#include <memory>

#include "board/devio.h"
#include "board/drivers/dsp_data.h"
#include "board/drivers/mcc.h"
#include "runtime/ext_output.h"
#include "signalling/isdn_slot.h"

namespace mcc = board::mcc;
namespace dsp_data = board::dsp_data;

namespace {

constexpr int kOpenFlags = O_RDWR | O_NONBLOCK | O_CLOEXEC;

// A user-side link at log level 0, then given the side asked for.
std::unique_ptr<ISDN::LAPD> NewLink(const LGCP::IsdnSide& side) {
    auto link = std::make_unique<ISDN::LAPD>();
    link->set_side(side.is_network() ? ISDN::Side::network : ISDN::Side::user);
    return link;
}

}  // namespace

void IsdnFactory::PutHeader(std::ostream& os) const { os << "mcc/isdn: "; }

Slot* IsdnFactory::Refuse(const char* what, int error) {
    std::cerr << ext::header(this) << what << " fail: " << std::strerror(error) << std::endl;
    return nullptr;
}

// A slot whose device the loop cannot watch (no descriptor left) would
// never hear its link: it is declined as one whose device did not open.
// The slot's constructor watches last, so errno is still the watch's.
Slot* IsdnFactory::Watched(IsdnSlot* slot) {
    if (slot->is_open()) return slot;
    const int error = errno;
    delete slot;
    return Refuse("watch", error);
}

Slot* IsdnFactory::INewSlot(const LGCP::CreateParams& params) {
    if (const LGCP::IsdnParams* isdn = params.get_isdn()) return NewIsdnSlot(*isdn);
    if (const LGCP::AtsQsigParams* qsig = params.get_ats_qsig()) return NewAtsQsigSlot(*qsig);
    if (const LGCP::AtsQsigBParams* b = params.get_ats_qsig_b()) return NewAtsQsigBSlot(*b);
    return nullptr;
}

Slot* IsdnFactory::FindSlot(unsigned number) const {
    for (Slot* slot : slots())
        if (slot->number() == number) return slot;
    return nullptr;
}

Fd IsdnFactory::OpenDevice(const char* path, const char* name) {
    Fd device(board::open(path, kOpenFlags));
    if (!device) {
        const int error = errno;
        std::cerr << ext::header(this) << "fail to open " << name << " device: "
                  << std::strerror(error) << std::endl;
    }
    return device;
}

Slot* IsdnFactory::NewIsdnSlot(const LGCP::IsdnParams& params) {
    Fd device = OpenDevice(mcc::kDevice, "MCC");
    if (!device) return nullptr;
    const bool bri = params.get_type().getValue() == LGCP::IsdnType::bri;
    std::unique_ptr<ISDN::LAPD> link = NewLink(params.get_side());
    if (bri) link->change_to_bri();
    link->set_trunk(static_cast<unsigned>(params.get_trunk().getValue()));
    link->set_log_level(static_cast<unsigned>(params.get_log().getValue()));

    mcc::mcc_allocation record{bri ? mcc::kBri : mcc::kData, rx_packet_size, 0, 1, 1};
    if (board::ioctl(device.get(), mcc::MCC_ALLOCATE, &record) < 0)
        return Refuse("MCC_ALLOCATE", errno);
    // A slot without a timeslot could never be wired: declined, and the
    // channel freed with its descriptor.
    const int channel = board::ioctl_value(device.get(), mcc::MCC_TIMESLOT, 0);
    if (channel < 0) return Refuse("MCC_TIMESLOT", errno);
    return Watched(new IsdnSlot(device, channel, link.release(), "IsdnSlot::OnEvent"));
}

Slot* IsdnFactory::NewAtsQsigSlot(const LGCP::AtsQsigParams& params) {
    Fd device = OpenDevice(dsp_data::kDevice, "dsp-data");
    if (!device) return nullptr;
    std::unique_ptr<ISDN::LAPD> link = NewLink(params.get_side());
    const int channel = board::ioctl_value(device.get(), dsp_data::kSignallingChannel, 0);
    if (channel < 0) return Refuse("dsp-data channel", errno);
    link->set_trunk(static_cast<unsigned>(channel));
    return Watched(new AtsQsigSlot(device, channel, link.release()));
}

// `subslot` 1 to 3 is B channel 0 to 2 of the QSIG slot numbered `slot`.
Slot* IsdnFactory::NewAtsQsigBSlot(const LGCP::AtsQsigBParams& params) {
    auto* signalling = dynamic_cast<AtsQsigSlot*>(FindSlot(params.get_slot().getValue()));
    const unsigned subslot = params.get_subslot().getValue();
    if (!signalling || subslot < 1 || subslot > 3) return nullptr;
    return signalling->NewBChannel(subslot - 1);
}
