#pragma once
// The controller's values that the server must bound, as one table: a
// command made from INTEGER fields (a form), one field at one value, and the
// answer. The end-to-end test sends every row to the server in-process; the
// slot fuzzers draw the same forms with boundary values and are seeded with
// the rows; a random controller of the server executable sends every
// creation form with the values a controller of this board picks.
//
//   const test::CommandForm& f = test::form("pstn ss7");
//   LGCP::Command create = f.with("trunk", INT_MIN);  // the others as usual

#include <climits>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "messages/lgcp.h"
#include "tests/monitoring/monitoring_values.h"
#include "tests/support/mixer_voice_commands.h"
#include "tests/support/rtp_commands.h"
#include "tests/support/signalling_commands.h"
#include "tests/support/slot_commands.h"
#include "tests/support/test_controller.h"
#include "tests/support/udp_peer.h"

namespace test {

struct Range {
    int lowest;
    int highest;
};

// An INTEGER field: the value of a command that works, and the range the
// encoder writes (a constrained type's; any int otherwise). Where the field
// names one of the board's resources (a trunk, a timeslot, a mixer
// channel), `picked`: the values a controller of this board picks from.
struct IntField {
    const char* name;
    int usual;
    int lowest = INT_MIN;
    int highest = INT_MAX;
    std::optional<Range> picked = std::nullopt;
};

struct CommandForm {
    using Values = std::vector<int>;

    const char* name;
    std::vector<IntField> fields;
    LGCP::Command (*build)(const Values& values);
    // A created slot of this form is wired to a BRI channel, not to an E1
    // timeslot.
    bool bri = false;
    // A slot command: the form of the slot it is sent to.
    const char* target = nullptr;

    Values usual() const {
        Values values;
        for (const IntField& field : fields) values.push_back(field.usual);
        return values;
    }
    // Every field as usual but `field` at `value`.
    LGCP::Command with(const std::string& field, int value) const {
        Values values = usual();
        for (size_t i = 0; i < fields.size(); ++i)
            if (field == fields[i].name) values[i] = value;
        return build(values);
    }
    // The octets of the message of with(field, value), also for a value
    // beyond the range the encoder writes, where the field must be two
    // aligned octets.
    std::string octets_with(const std::string& field, int value, int seq,
                            std::optional<unsigned> slot) const {
        const auto message = [&](int at) {
            LGCP::Message m;
            m.set_seq(seq);
            if (slot) m.set_slot(*slot);
            m.get_pdu().set_command(with(field, at));
            return m;
        };
        for (const IntField& f : fields)
            if (field == f.name && (value < f.lowest || value > f.highest))
                return encode_beyond(message(f.lowest), message(f.highest),
                                     static_cast<unsigned>(value - f.lowest));
        return encode(message(value));
    }
};

namespace forms {

using Values = CommandForm::Values;
using LGCP::IsdnType;

inline LGCP::Command pstn_ss7(const Values& v) {
    LGCP::Command command;
    LGCP::SS7Params& params = command.select_create().select_pstn().select_ss7();
    params.set_trunk(v[0]);
    params.set_slc(v[1]);
    params.set_dpc(v[2]);
    params.set_opc(v[3]);
    params.set_emergency(v[4] != 0);
    return command;
}

template <LGCP::IsdnType::NamedNumber type, Side side>
LGCP::Command pstn_isdn(const Values& v) {
    return create_pstn_isdn(type, v[0], side, v[1]);
}

template <LGCP::IsdnType::NamedNumber type, Side side>
LGCP::Command isdn(const Values& v) {
    return create_isdn(type, v[0], side, v[1]);
}

template <Side side>
LGCP::Command qsig(const Values&) {
    return create_qsig(side);
}

inline LGCP::Command display(const LGCP::DisplayParams& params) {
    LGCP::Command command;
    command.set_display(params);
    return command;
}

inline LGCP::Command board_status(const Values& v) {
    LGCP::DisplayParams params;
    params.set_board(test::board_status(v[0], LGCP::ExtBoardStatus::ready, std::string(v[1], 'v'),
                                        LGCP::ExtBoardType::isdn));
    return display(params);
}

inline LGCP::Command phone_status(const Values& v) {
    LGCP::DisplayParams params;
    params.set_emPhone(test::phone_status(v[0], std::string(v[1], 'p'), "c", "f"));
    return display(params);
}

// A sequence of one digit of the given tones.
inline LGCP::TranslateDtmfParams& one_digit(LGCP::Command& command, int freq1, int freq2) {
    LGCP::TranslateDtmfParams& digits = command.select_ioctl().select_translateDTMF();
    LGCP::DualTone& one = digits.get_digits().append();
    one.set_freq1(freq1);
    one.set_freq2(freq2);
    return digits;
}

// The digit 1 with the given tone and pause.
inline LGCP::Command translate_dtmf(const Values& v) {
    LGCP::Command command;
    LGCP::TranslateDtmfParams& digits = one_digit(command, 697, 1209);
    digits.set_toneDuration(v[0]);
    digits.set_pauseDuration(v[1]);
    return command;
}

// A tone of the tone generator.
inline LGCP::Command tone_generator(const Values& v) {
    LGCP::Command command;
    LGCP::ToneGenerator& tone = command.select_ioctl().select_tone_gen_enable();
    tone.set_freq(v[0]);
    tone.set_amp(v[1]);
    return command;
}

// One digit of the given tones and amplitudes.
inline LGCP::Command dtmf_digit(const Values& v) {
    LGCP::Command command;
    LGCP::TranslateDtmfParams& digits = one_digit(command, v[0], v[1]);
    digits.set_amp1(v[2]);
    digits.set_amp2(v[3]);
    return command;
}

inline LGCP::Command rx_gain(const Values& v) {
    LGCP::Command command;
    command.select_ioctl().select_rx_gain().set_gainDB(v[0]);
    return command;
}

inline LGCP::Command delays(const Values& v) {
    LGCP::Command command;
    LGCP::Delays& delays = command.select_ioctl().select_delays();
    delays.set_rx(v[0]);
    delays.set_tx(v[1]);
    return command;
}

// An enabled filter.
inline LGCP::Command tone_filter(const Values& v) {
    LGCP::Command command;
    LGCP::ToneFilter& filter = command.select_ioctl().select_tone_filter();
    filter.set_freq(v[0]);
    filter.set_enable(true);
    filter.set_duration_th_msec(v[1]);
    filter.set_det_level_dB(v[2]);
    return command;
}

inline LGCP::Command vad_v2(const Values& v) {
    LGCP::Command command;
    TERM::VADParamsV2& params = command.select_ioctl().select_vad_params().select_v2();
    params.set_voice_th_msec(v[0]);
    params.set_silence_th_msec(v[1]);
    params.set_e_th_dB(v[2]);
    return command;
}

// At the given amplitude, the given number of signs: ABCD, AB, ABCDE...
inline LGCP::Command selcal(const Values& v) {
    LGCP::Command command;
    TERM::SelcalCommand& selcal = command.select_ioctl().select_selcal();
    selcal.set_amp(v[0]);
    std::string signs;
    for (int i = 0; i < v[1]; ++i) signs += static_cast<char>('A' + i % 26);
    selcal.set_signs(signs);
    return command;
}

inline LGCP::Command mcc(const Values& v) {
    return create_mcc(LGCP::MccType::NamedNumber(v[0]), LGCP::MccMode::NamedNumber(v[1]));
}

// A map slot with a transmitter and a receiver.
inline LGCP::Command map(const Values& v) {
    return create_map(BusChannel{unsigned(v[0]), unsigned(v[1])},
                      BusChannel{unsigned(v[2]), unsigned(v[3])});
}

// ---- Radio slots

// On ports of its own, the same for every command built (one slot at a
// time takes them), with the status `set` fills in.
template <class Set>
LGCP::Command create_radio(Set set) {
    static const unsigned short remote = free_udp_pair(), local = free_udp_pair();
    LGCP::Command command = rtp_create_command(remote, local, 5);
    set(command.get_create()->get_rtp()->get_codecRTP().include_radio().get_status());
    return command;
}

inline LGCP::Command rtp_ext(const TERM::RadioModifier& modifier) {
    LGCP::Command command;
    command.select_ioctl().set_rtpExt(modifier);
    return command;
}

// A modifier of either protocol, from the position at 127.0.0.2.
template <class Modifier>
Modifier& from_position(Modifier& modifier) {
    modifier.get_addr().set_session_addr("127.0.0.2");
    modifier.get_addr().set_session_ssrc(9);
    return modifier;
}

// Priority and li; every flag clear.
inline void vark_flags(TERM::RadioFlags& flags, const Values& v) {
    flags.set_prio(v[0]);
    flags.set_li(static_cast<unsigned>(v[1]));
}

// Ptt type and squ.
inline void ed137_header(TERM::ED137RadioHeader& header, const Values& v) {
    header.get_ptt().setValue(v[0]);
    header.get_squ().setValue(v[1]);
}

inline LGCP::Command vark_radio(const Values& v) {
    return create_radio([&](TERM::RadioStatus& s) { vark_flags(s.select_vark().get_flags(), v); });
}

// With the voice-processing delays of the radio request.
inline LGCP::Command vark_radio_delays(const Values& v) {
    LGCP::Command command = vark_radio({15, 0});
    TERM::RtpRadioRequest& radio = *command.get_create()->get_rtp()->get_codecRTP().get_radio();
    radio.set_rx_delay(v[0]);
    radio.set_tx_delay(v[1]);
    radio.set_selcal_delay(v[2]);
    return command;
}

inline LGCP::Command ed137_radio(const Values& v) {
    return create_radio(
        [&](TERM::RadioStatus& s) { ed137_header(s.select_ed_137().get_header(), v); });
}

inline LGCP::Command vark_wm_flags(const Values& v) {
    TERM::RadioModifier modifier;
    vark_flags(from_position(modifier.select_vark()).get_params().select_wm_flags().get_flags(), v);
    return rtp_ext(modifier);
}

// With an SQI of the given method.
inline LGCP::Command ed137_rx(const Values& v) {
    TERM::RadioModifier modifier;
    TERM::ED137RadioRxCommand& rx =
        from_position(modifier.select_ed_137()).get_params().select_rx();
    ed137_header(rx.get_header(), v);
    rx.include_sqi().get_bss_method().setValue(v[2]);
    return rtp_ext(modifier);
}

// ---- Voice, RTP, echo, modem and T.38 slots

// The phrase a file player plays, under the board's voice folder.
constexpr char kPhrase[] = "phrase";

// A stream to 127.0.0.1, on ports of its own.
inline LGCP::Command rtp(const Values& v) {
    static const unsigned short remote = free_udp_pair();
    LGCP::Command command = rtp_create_command(remote, static_cast<unsigned short>(v[0]), 7);
    command.get_create()->get_rtp()->get_codecRTP().set_pfactor(v[1]);
    return command;
}

inline LGCP::Command rtp_on_mixer(const Values& v) {
    LGCP::Command command;
    LGCP::RtpOnMixerParams& params = command.select_create().select_rtpOnMixer();
    params.set_unit(v[0]);
    params.set_tdm(v[1]);
    params.set_rtp(v[2]);
    params.get_params().set_payload(TERM::Payload::ptG711_Alaw);
    fill(params.get_params().get_dhost(), 4000, "127.0.0.1");
    return command;
}

// With 127.0.0.1 as both hosts.
inline LGCP::Command t38soft(const Values& v) {
    LGCP::Command command;
    LGCP::T38Soft& params = command.select_create().select_t38soft();
    fill(params.get_dhost(), 4000, "127.0.0.1");
    fill(params.get_shost(), 5000, "127.0.0.1");
    params.set_rx_packet_size(v[0]);
    params.set_rx_threshold(v[1]);
    params.set_tx_threshold(v[2]);
    return command;
}

// A DSP modem answering a call, a fax, or a digital (V.110) call.
enum class Modem { data, fax, digital };

template <Modem kind>
LGCP::Command modem(const Values&) {
    LGCP::Command command;
    TERM::ModemParams& params = command.select_create().select_modem();
    params.set_cid("");
    if (kind == Modem::fax) params.include_fax();
    if (kind == Modem::digital) params.include_ddm().push_back(TERM::DigitalDataModeEnum::ddmV110);
    return command;
}

}  // namespace forms

// The creation forms of the signalling slots.
inline const std::vector<CommandForm>& signalling_forms() {
    using namespace forms;
    const IntField trunk{"trunk", 2}, log{"log", 0};
    static const std::vector<CommandForm> list{
        {"pstn ss7",
         {trunk, {"slc", 1}, {"dpc", 101}, {"opc", 201}, {"emergency", 1, 0, 1}},
         pstn_ss7},
        {"pstn isdn pri user", {trunk, log}, pstn_isdn<IsdnType::pri, Side::user>},
        {"pstn isdn pri network", {trunk, log}, pstn_isdn<IsdnType::pri, Side::network>},
        {"pstn isdn bri user", {trunk, log}, pstn_isdn<IsdnType::bri, Side::user>, true},
        {"pstn isdn bri network", {trunk, log}, pstn_isdn<IsdnType::bri, Side::network>, true},
        {"pstn cas", {trunk}, [](const Values& v) { return create_pstn_cas(v[0]); }},
        {"isdn pri user", {trunk, log}, isdn<IsdnType::pri, Side::user>},
        {"isdn pri network", {trunk, log}, isdn<IsdnType::pri, Side::network>},
        {"isdn bri user", {trunk, log}, isdn<IsdnType::bri, Side::user>, true},
        {"isdn bri network", {trunk, log}, isdn<IsdnType::bri, Side::network>, true},
        {"ats-qsig user", {}, qsig<Side::user>},
        {"ats-qsig network", {}, qsig<Side::network>},
        {"ats-qsig-b",
         {{"slot", 20, 0, 1023}, {"subslot", 1, 1, 3, Range{1, 3}}},
         [](const Values& v) { return create_qsig_b(unsigned(v[0]), unsigned(v[1])); }},
        {"hdlc",
         {trunk, {"address", 5}, log},
         [](const Values& v) { return create_hdlc(v[0], v[1], v[2]); }},
    };
    return list;
}

// The creation forms of the trunk, map, pass-through and data-channel slots.
inline const std::vector<CommandForm>& media_forms() {
    using namespace forms;
    const IntField bus{"bus", 15, 0, 15, Range{0, 15}},
        channel{"channel", 1, 0, 127, Range{0, 127}};
    static const std::vector<CommandForm> list{
        {"trunk",
         {{"trunk", 1, 0, 255, Range{0, 3}}, {"timeslot", 1, 0, 31, Range{1, 31}}},
         [](const Values& v) { return create_trunk(unsigned(v[0]), unsigned(v[1])); }},
        {"trunk bri",
         {{"trunk", 0, 0, 255, Range{0, 7}}, {"channel", 1, 0, 31, Range{0, 3}}},
         [](const Values& v) { return create_trunk_bri(unsigned(v[0]), unsigned(v[1])); }},
        {"map", {bus, channel, bus, channel}, map},
        {"ext",
         {{"transmitter", 1900, INT_MIN, INT_MAX, Range{0, 2047}},
          {"receiver", 1950, INT_MIN, INT_MAX, Range{0, 2047}}},
         [](const Values& v) { return create_ext(v[0], v[1]); }},
        {"mcc", {{"type", 0, 0, 2, Range{0, 2}}, {"mode", 0, 0, 1, Range{0, 1}}}, mcc},
    };
    return list;
}

// The creation forms of the voice, RTP, echo, modem and T.38 slots. Their
// peers' port is 0, which no connection reaches.
inline const std::vector<CommandForm>& stream_forms() {
    using namespace forms;
    const IntField port{"port", 0, 0, 65535};
    static const std::vector<CommandForm> list{
        {"recorder", {port}, [](const Values& v) { return create_recorder(uint16_t(v[0])); }},
        {"network player",
         {port, {"id", 1}},
         [](const Values& v) { return create_network_player(uint16_t(v[0]), v[1]); }},
        {"file player",
         {{"repeat", 1}},
         [](const Values& v) { return create_file_player({kPhrase}, v[0]); }},
        {"rtp", {{"local port", free_udp_pair(), 0, 65535}, {"pfactor", 1}}, rtp},
        {"rtp on mixer", {{"unit", 0}, {"tdm", 1}, {"rtp", 1}}, rtp_on_mixer},
        {"echo",
         {{"bus", 0}, {"channel", 1}},
         [](const Values& v) { return create_echo(v[0], v[1]); }},
        {"t38soft", {{"rx-packet-size", 160}, {"rx-threshold", 0}, {"tx-threshold", 0}}, t38soft},
        {"dsp modem", {}, modem<Modem::data>},
        {"fax modem", {}, modem<Modem::fax>},
        {"digital modem", {}, modem<Modem::digital>},
    };
    return list;
}

// The display and ioctl forms, and the slot those ioctls go to.
inline const std::vector<CommandForm>& other_forms() {
    using namespace forms;
    // A few channels of both units, so that a random controller's slots
    // share them.
    const Range mixerChannels{0, 3};
    const IntField mixerUnit{"unit", 0, INT_MIN, INT_MAX, Range{0, 1}};
    static const std::vector<CommandForm> list{
        {"board status", {{"position", 1}, {"version octets", 3, 0, 300}}, board_status},
        {"phone status", {{"id", 1}, {"panelSV octets", 3, 0, 300}}, phone_status},
        {"mixer input",
         {mixerUnit, {"channel", 1, INT_MIN, INT_MAX, mixerChannels}},
         [](const Values& v) { return create_mixer_in(v[0], MixChannel{v[1]}); }},
        {"translateDTMF",
         {{"toneDuration", 70}, {"pauseDuration", 70}},
         translate_dtmf,
         false,
         "mixer input"},
        {"mixer output",
         {mixerUnit, {"channel", 2, INT_MIN, INT_MAX, mixerChannels}},
         [](const Values& v) { return create_mixer_out(v[0], MixChannel{v[1]}); }},
        {"tone generator", {{"freq", 425}, {"amp", 100}}, tone_generator, false, "mixer output"},
        {"dtmf digit",
         {{"freq1", 697}, {"freq2", 1209}, {"amp1", 16384}, {"amp2", 16384}},
         dtmf_digit,
         false,
         "mixer input"},
        {"rx gain", {{"gainDB", -6}}, rx_gain, false, "mixer input"},
        {"delays", {{"rx", 40}, {"tx", 20}}, delays, false, "mixer input"},
        {"tone filter",
         {{"freq", 2100}, {"duration-th-msec", 400}, {"det-level-dB", 30}},
         tone_filter,
         false,
         "mixer input"},
        {"vad v2",
         {{"voice-th-msec", 100}, {"silence-th-msec", 200}, {"e-th-dB", 45}},
         vad_v2,
         false,
         "mixer input"},
        {"selcal", {{"amp", 12000}, {"signs", 4, 0, 300}}, selcal, false, "vark radio"},
    };
    return list;
}

// The radio slots and their commands, with the values that fill header
// bits on the wire.
inline const std::vector<CommandForm>& radio_forms() {
    using namespace forms;
    const IntField prio{"prio", 15}, li{"li", 0, 0, 511};
    const IntField ptt{"ptt", 0, 0}, squ{"squ", 0, 0}, method{"bss-method", 0, 0};
    static const std::vector<CommandForm> list{
        {"vark radio", {prio, li}, vark_radio},
        {"vark wm-flags", {prio, li}, vark_wm_flags, false, "vark radio"},
        {"vark radio delays",
         {{"rx-delay", 40}, {"tx-delay", 0}, {"selcal-delay", 0}},
         vark_radio_delays},
        {"ed137 radio", {ptt, squ}, ed137_radio},
        {"ed137 rx", {ptt, squ, method}, ed137_rx, false, "ed137 radio"},
    };
    return list;
}

// Every form of the table, list after list.
inline std::vector<const CommandForm*> every_form() {
    std::vector<const CommandForm*> out;
    for (const auto* list :
         {&signalling_forms(), &media_forms(), &stream_forms(), &other_forms(), &radio_forms()})
        for (const CommandForm& f : *list) out.push_back(&f);
    return out;
}

inline const CommandForm& form(const std::string& name) {
    for (const CommandForm* f : every_form())
        if (name == f->name) return *f;
    throw std::invalid_argument("no command form " + name);
}

// The forms whose command is a `kind` (create, ioctl, display), in the
// table's order.
inline std::vector<CommandForm> forms_of(LGCP::Command::Alternative kind) {
    std::vector<CommandForm> out;
    for (const CommandForm* f : every_form())
        if (f->build(f->usual()).selection() == kind) out.push_back(*f);
    return out;
}

// Every creation form: one of each slot kind the server makes, and a few it
// declines.
inline const std::vector<CommandForm>& creation_forms() {
    static const std::vector<CommandForm> forms = forms_of(LGCP::Command::Alternative::create);
    return forms;
}

// As a row's field: the form's slot, made as usual, is sent `value` octets
// of user data.
constexpr const char kUserData[] = "userData";

struct ControllerInput {
    const char* form;
    const char* field;
    int value;
    std::optional<LGCP::ErrorCause::NamedNumber> answer;  // none: success

    std::string name() const {
        return std::string(form) + " " + field + " " + std::to_string(value);
    }
    bool user_data() const { return std::strcmp(field, kUserData) == 0; }
};

inline const std::vector<ControllerInput>& controller_inputs() {
    using Cause = LGCP::ErrorCause;
    static const std::vector<ControllerInput> rows{
        // Trunk numbers are only labels and `trunk` - 1 an index, whatever
        // their value.
        {"pstn ss7", "trunk", INT_MIN, {}},
        {"pstn ss7", "trunk", INT_MAX, {}},
        {"pstn isdn pri user", "trunk", INT_MIN, {}},
        {"pstn isdn bri network", "trunk", INT_MIN, {}},
        {"isdn pri network", "trunk", INT_MIN, {}},
        {"hdlc", "trunk", INT_MIN, {}},
        {"hdlc", "trunk", 0, {}},
        // Values a factory takes none of.
        {"hdlc", "address", 0xFFFF, {}},
        {"hdlc", "address", 0x10000, Cause::invalidParams},
        {"hdlc", "address", -1, Cause::invalidParams},
        {"ext", "transmitter", 2047, {}},
        {"ext", "transmitter", INT_MIN, Cause::invalidParams},
        {"ext", "receiver", 2048, Cause::invalidParams},
        // Empty octet strings.
        {"board status", "version octets", 0, {}},
        {"phone status", "panelSV octets", 0, {}},
        // The phone table counts its rows from 1.
        {"phone status", "id", INT_MAX, Cause::invalidParams},
        {"phone status", "id", INT_MAX - 1, {}},
        {"phone status", "id", INT_MIN, Cause::invalidParams},
        {"phone status", "id", -1, Cause::invalidParams},
        {"phone status", "id", 0, {}},
        // Digit tones and pauses of 0 to 60000 ms.
        {"translateDTMF", "toneDuration", 0, {}},
        {"translateDTMF", "toneDuration", 60000, {}},
        {"translateDTMF", "toneDuration", -1, Cause::invalidParams},
        {"translateDTMF", "toneDuration", 60001, Cause::invalidParams},
        {"translateDTMF", "pauseDuration", INT_MIN, Cause::invalidParams},
        {"translateDTMF", "pauseDuration", INT_MAX, Cause::invalidParams},
        // Receiver values fill driver fields of 8, 16 or 32 bits, signed or
        // not: a value beyond its field is refused, not cut to its low bits.
        {"tone generator", "freq", 0, {}},
        {"tone generator", "freq", 65535, {}},
        {"tone generator", "freq", 65536, Cause::invalidParams},
        {"tone generator", "freq", INT_MIN, Cause::invalidParams},
        {"tone generator", "amp", INT_MAX, Cause::invalidParams},
        {"dtmf digit", "freq1", 65535, {}},
        {"dtmf digit", "freq1", -1, Cause::invalidParams},
        {"dtmf digit", "freq2", 65536, Cause::invalidParams},
        {"dtmf digit", "amp1", 0, {}},
        {"dtmf digit", "amp2", 65535, {}},
        {"dtmf digit", "amp2", -1, Cause::invalidParams},
        {"rx gain", "gainDB", -128, {}},
        {"rx gain", "gainDB", 127, {}},
        {"rx gain", "gainDB", 128, Cause::invalidParams},
        {"rx gain", "gainDB", 200, Cause::invalidParams},
        {"rx gain", "gainDB", -129, Cause::invalidParams},
        {"delays", "rx", 0, {}},
        {"delays", "rx", INT_MAX, {}},
        {"delays", "rx", -1, Cause::invalidParams},
        {"delays", "tx", INT_MIN, Cause::invalidParams},
        {"tone filter", "freq", 65535, {}},
        {"tone filter", "freq", 65536, Cause::invalidParams},
        {"tone filter", "duration-th-msec", 0, {}},
        {"tone filter", "duration-th-msec", -1, Cause::invalidParams},
        {"tone filter", "det-level-dB", 255, {}},
        {"tone filter", "det-level-dB", 256, Cause::invalidParams},
        {"tone filter", "det-level-dB", -30, {}},
        {"tone filter", "det-level-dB", -129, Cause::invalidParams},
        {"vad v2", "voice-th-msec", 65535, {}},
        {"vad v2", "voice-th-msec", 65536, Cause::invalidParams},
        {"vad v2", "silence-th-msec", -1, Cause::invalidParams},
        {"vad v2", "e-th-dB", 0, {}},
        {"vad v2", "e-th-dB", -128, {}},
        {"vad v2", "e-th-dB", 256, Cause::invalidParams},
        {"selcal", "amp", 65535, {}},
        {"selcal", "amp", 65536, Cause::invalidParams},
        {"selcal", "amp", -1, Cause::invalidParams},
        // A SELCAL dial is four signs: fewer are refused, more not cut.
        {"selcal", "signs", 2, Cause::invalidParams},
        {"selcal", "signs", 5, Cause::invalidParams},
        {"selcal", "signs", 0, Cause::invalidParams},
        {"vark radio delays", "rx-delay", 0, {}},
        {"vark radio delays", "selcal-delay", INT_MAX, {}},
        {"vark radio delays", "rx-delay", -1, Cause::invalidParams},
        {"vark radio delays", "tx-delay", INT_MIN, Cause::invalidParams},
        // Every kind of data channel.
        {"mcc", "type", 2, {}},
        {"mcc", "mode", 1, {}},
        // Forms no factory of this board takes.
        {"rtp on mixer", "unit", 0, Cause::insufficientResources},
        {"echo", "bus", 0, Cause::insufficientResources},
        // An RTP port that leaves none for RTCP; sizes a driver takes as
        // unsigned words.
        {"rtp", "local port", 65535, Cause::invalidParams},
        {"t38soft", "rx-packet-size", -1, Cause::invalidParams},
        {"t38soft", "tx-threshold", INT_MIN, Cause::invalidParams},
        // User data that one frame of the link carries, and no more.
        {"isdn pri user", kUserData, 260, {}},
        {"isdn pri user", kUserData, 261, Cause::unsupported},
        {"ats-qsig user", kUserData, 261, Cause::unsupported},
        {"pstn isdn pri user", kUserData, 260, {}},
        {"pstn isdn pri user", kUserData, 261, Cause::unsupported},
        {"pstn isdn bri network", kUserData, 261, Cause::unsupported},
        {"pstn ss7", kUserData, 273, {}},
        {"pstn ss7", kUserData, 274, Cause::unsupported},
        {"pstn ss7", kUserData, 2000, Cause::unsupported},
        // Radio values beyond their bits on the wire: a VARK priority has 4
        // and li 9 (two octets carry it from the controller); an ED-137 ptt
        // type 3, squ 1 and SQI method 3 (their enumerations are extensible).
        {"vark radio", "prio", 0, {}},
        {"vark radio", "prio", 16, Cause::invalidParams},
        {"vark radio", "prio", -5, Cause::invalidParams},
        {"vark radio", "li", 511, {}},
        {"vark radio", "li", 600, Cause::invalidParams},
        {"vark wm-flags", "prio", 0, {}},
        {"vark wm-flags", "prio", 15, {}},
        {"vark wm-flags", "prio", 16, Cause::invalidParams},
        {"vark wm-flags", "prio", -5, Cause::invalidParams},
        {"vark wm-flags", "prio", INT_MIN, Cause::invalidParams},
        {"vark wm-flags", "li", 511, {}},
        {"vark wm-flags", "li", 512, Cause::invalidParams},
        {"vark wm-flags", "li", 65535, Cause::invalidParams},
        {"ed137 radio", "ptt", 7, {}},
        {"ed137 radio", "ptt", 8, Cause::invalidParams},
        {"ed137 radio", "squ", 2, Cause::invalidParams},
        {"ed137 rx", "ptt", 7, {}},
        {"ed137 rx", "ptt", 8, Cause::invalidParams},
        {"ed137 rx", "squ", 1, {}},
        {"ed137 rx", "squ", 2, Cause::invalidParams},
        {"ed137 rx", "bss-method", 7, {}},
        {"ed137 rx", "bss-method", 8, Cause::invalidParams},
    };
    return rows;
}

}  // namespace test
