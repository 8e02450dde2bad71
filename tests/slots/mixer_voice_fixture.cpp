#include "tests/slots/mixer_voice_fixture.h"

#include <cstring>
#include <sstream>

namespace test {

std::string describe_signal(const LGCP::Message& message) {
    const LGCP::Signal* signal = message.get_pdu().get_signal();
    if (!signal) return describe(message);
    std::ostringstream text;
    if (auto slot = slot_of(message)) text << *slot << ' ';
    if (const auto* abort = signal->get_abort()) {
        text << "abort " << abort->getValue();
    } else if (const LGCP::IoctlResponse* response = signal->get_ioctl()) {
        if (response->is_startPlaying()) text << "startPlaying";
        if (const auto* cause = response->get_stopRecording())
            text << "stopRecording " << cause->getName();
    } else if (signal->is_query()) {
        text << "query";
    } else if (const LGCP::TonecEvent* tone = signal->get_tonec()) {
        if (const auto* presence = tone->get_event().get_tone_presence())
            text << "tone " << presence->get_freq().getValue();
        else
            text << "tonec " << tone->get_timestamp().getValue();
    } else if (signal->is_vad()) {
        text << "vad";
    } else {
        return describe(message);
    }
    return text.str();
}

std::vector<std::string> MixerVoiceTest::heard_until(const std::function<bool()>& done,
                                                     unsigned passes) {
    std::vector<std::string> lines;
    auto take = [&](unsigned wait) {
        while (auto message = controller.receive(wait)) lines.push_back(describe_signal(*message));
    };
    for (unsigned i = 0; i < passes && !done(); ++i) take(1);
    take(3);
    return lines;
}

std::vector<std::string> MixerVoiceTest::query_mixers() {
    controller.send(command(Alternative::query), 1);
    auto message = controller.receive_until([](const LGCP::Message& m) {
        return is_signal(m) && m.get_pdu().get_signal()->is_query();
    });
    std::vector<std::string> lines;
    if (!message) return {"no query signal"};
    for (const auto& m : message->get_pdu().get_signal()->get_query()->get_mixer()) {
        std::ostringstream line;
        line << "unit " << m.get_unit().getValue() << ": " << m.get_tdm_inputs().getValue() << ' '
             << m.get_tdm_outputs().getValue() << ' ' << m.get_mixer_inputs().getValue() << ' '
             << m.get_dpu_per_mixer().getValue() << ' ' << m.get_dpu_per_ec().getValue() << ' '
             << m.get_dpu_per_lms().getValue();
        lines.push_back(line.str());
    }
    return lines;
}

int MixerVoiceTest::voice_timeslot(uint32_t txThreshold) const {
    for (const auto& allocation : mcc().allocations())
        if (allocation.record.tx_threshold == txThreshold) return allocation.timeslot;
    return -1;
}

std::string MixerVoiceTest::sent_on(int timeslot) const {
    std::string bytes;
    for (const auto& packet : mcc().sent)
        if (packet.timeslot == timeslot) bytes.append(packet.bytes.begin(), packet.bytes.end());
    return bytes;
}

}  // namespace test
