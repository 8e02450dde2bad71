// Every device of the simulated board, one model per driver.
#include "board/drivers/dsp.h"
#include "board/drivers/dsp_data.h"
#include "board/drivers/dtmf.h"
#include "board/drivers/e1_cas.h"
#include "board/drivers/hal.h"
#include "board/drivers/maintenance.h"
#include "board/drivers/mcc.h"
#include "board/drivers/mctl.h"
#include "board/drivers/mixer.h"
#include "board/drivers/rtp_ext.h"
#include "board/drivers/rtp.h"
#include "board/drivers/voice.h"
#include "board/drivers/watchdog.h"
#include "board/sim/dsp_data_model.h"
#include "board/sim/dsp_model.h"
#include "board/sim/dtmf_model.h"
#include "board/sim/e1_cas_model.h"
#include "board/sim/hal_model.h"
#include "board/sim/maintenance_model.h"
#include "board/sim/mcc_model.h"
#include "board/sim/mctl_model.h"
#include "board/sim/mixer_model.h"
#include "board/sim/rtp_ext_model.h"
#include "board/sim/rtp_model.h"
#include "board/sim/sim_board.h"
#include "board/sim/voice_model.h"
#include "board/sim/watchdog_model.h"

namespace board::sim {

void install_models(Board& board) {
    board.install(watchdog::kDevice, std::make_unique<WatchdogModel>());
    board.install(hal::kDevice, std::make_unique<HalModel>());
    board.install(dtmf::kDevice, std::make_unique<DtmfModel>());
    board.install(dsp::kDevice, std::make_unique<DspModel>());
    board.install(maintenance::kDevice, std::make_unique<MaintenanceModel>());
    board.install(e1_cas::kDevice, std::make_unique<E1CasModel>());
    board.install(mcc::kDevice, std::make_unique<MccModel>());
    board.install(dsp_data::kDevice, std::make_unique<DspDataModel>());
    board.install(mctl::kDevice, std::make_unique<MctlModel>());
    board.install(rtp_ext::kDevice, std::make_unique<RtpExtModel>());
    board.install(rtp::kDevice, std::make_unique<RtpModel>());
    board.install(voice::kDevice, std::make_unique<VoiceModel>());
    board.install(mixer::kDevice, std::make_unique<MixerModel>());
}

}  // namespace board::sim
