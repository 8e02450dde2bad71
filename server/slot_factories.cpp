#include "server/slot_factories.h"

#include "radio/rtp_ed137_factory.h"
#include "radio/rtp_vark_factory.h"
#include "signalling/hdlc_slot_factory.h"
#include "signalling/isdn_factory.h"
#include "signalling/pstn_factory.h"
#include "slots/echo_factory.h"
#include "slots/ext_factory.h"
#include "slots/map_factory.h"
#include "slots/mcc_factory.h"
#include "slots/mixer_factory.h"
#include "slots/modem_factory.h"
#include "slots/rtp_factory.h"
#include "slots/t38soft_factory.h"
#include "slots/trunk_factory.h"
#include "slots/voice_factory.h"

void CreateSlotFactories() {
    TrunkFactories::instance();
    MapFactory::instance();
    PstnFactory::instance();
    RtpFactory::instance();
    ModemFactory::instance();
    Mixer::MixerFactory::instance();
    ExtFactory::instance();
    MccFactory::instance();
    EchoFactory::instance();
    VoiceFactory::instance();
    T38SoftFactory::instance();
    IsdnFactory::instance();
    RtpVARKFactory::instance();
    RtpED137Factory::instance();
    HdlcSlotFactory::instance();
}
