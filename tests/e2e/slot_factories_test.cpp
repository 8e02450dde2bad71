// The creation chain as the server makes it.
#include "server/slot_factories.h"

#include <gtest/gtest.h>

#include <vector>

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

namespace {

TEST(SlotFactories, TheChainRunsFromHdlcToTheTrunksLast) {
    CreateSlotFactories();
    CreateSlotFactories();  // each is made once

    TrunkFactories& trunks = TrunkFactories::instance();
    std::vector<SlotFactory*> expected{
        &HdlcSlotFactory::instance(),     &RtpED137Factory::instance(), &RtpVARKFactory::instance(),
        &IsdnFactory::instance(),         &T38SoftFactory::instance(),  &VoiceFactory::instance(),
        &EchoFactory::instance(),         &MccFactory::instance(),      &ExtFactory::instance(),
        &Mixer::MixerFactory::instance(), &ModemFactory::instance(),    &RtpFactory::instance(),
        &PstnFactory::instance(),         &MapFactory::instance()};
    for (unsigned trunk = TrunkFactories::kBriTrunks; trunk-- > 0;)
        expected.push_back(&trunks.bri(trunk));
    for (unsigned trunk = TrunkFactories::kE1Trunks; trunk-- > 0;)
        expected.push_back(&trunks.e1(trunk));

    std::vector<SlotFactory*> chain;
    for (SlotFactory* factory = firstFactory; factory; factory = factory->next())
        chain.push_back(factory);
    EXPECT_EQ(expected, chain);
}

}  // namespace
