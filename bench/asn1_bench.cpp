// Encode and decode of typical messages (aligned PER, and BER and value
// notation through the coder environment): a control envelope with a
// command, and a nested SEQUENCE / CHOICE / SEQUENCE OF value of about 100
// octets with every kind of field.
#include "asn1/coder_env.h"
#include "bench/per_bench.h"
#include "tests/asn1/test_module.h"

namespace {

using namespace ASN1;
using bench::BM_Decode;
using bench::BM_Encode;

Test::Envelope makeEnvelope() {
    return Test::makeEnvelope(4711, 17, [](Test::PDU& pdu) {
        pdu.select<Test::Command>(Test::PDU::command)
            .select<OCTET_STRING>(Test::Command::userData)
            .assign(32, 'u');
    });
}

Test::Everything makeEverything() {
    Test::Everything value;
    Test::fillEverything(value);
    return value;
}

// BER and value notation through the coder environment's entry points.
template <class T>
void BM_EncodeByRule(benchmark::State& state, T (*make)(), int rule) {
    const T value = make();
    CoderEnv env(rule);
    size_t size = 0;
    for (auto _ : state) {
        std::vector<char> out;
        if (!ASN1::encode(value, &env, std::back_inserter(out))) state.SkipWithError("encode failed");
        size = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

template <class T>
void BM_DecodeByRule(benchmark::State& state, T (*make)(), int rule) {
    CoderEnv env(rule);
    std::vector<char> octets;
    ASN1::encode(make(), &env, std::back_inserter(octets));
    for (auto _ : state) {
        T value;
        if (!ASN1::decode(octets.data(), octets.data() + octets.size(), &env, value, true)) {
            state.SkipWithError("decode failed");
        }
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(octets.size()));
}

BENCHMARK_CAPTURE(BM_Encode, envelope, makeEnvelope);
BENCHMARK_CAPTURE(BM_Decode, envelope, makeEnvelope);
BENCHMARK_CAPTURE(BM_Encode, everything, makeEverything);
BENCHMARK_CAPTURE(BM_Decode, everything, makeEverything);
BENCHMARK_CAPTURE(BM_EncodeByRule, envelope_ber, makeEnvelope, CoderEnv::BER);
BENCHMARK_CAPTURE(BM_DecodeByRule, envelope_ber, makeEnvelope, CoderEnv::BER);
BENCHMARK_CAPTURE(BM_EncodeByRule, everything_ber, makeEverything, CoderEnv::BER);
BENCHMARK_CAPTURE(BM_DecodeByRule, everything_ber, makeEverything, CoderEnv::BER);
BENCHMARK_CAPTURE(BM_EncodeByRule, envelope_text, makeEnvelope, CoderEnv::ValueNotation);
BENCHMARK_CAPTURE(BM_DecodeByRule, envelope_text, makeEnvelope, CoderEnv::ValueNotation);
BENCHMARK_CAPTURE(BM_EncodeByRule, everything_text, makeEverything, CoderEnv::ValueNotation);
BENCHMARK_CAPTURE(BM_DecodeByRule, everything_text, makeEverything, CoderEnv::ValueNotation);

}  // namespace

BENCHMARK_MAIN();
