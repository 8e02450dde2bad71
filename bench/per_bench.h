#pragma once
// Aligned-PER encode and decode of the value that make() builds, shared by the
// benchmark programs (BENCHMARK_CAPTURE(BM_Encode, name, make)); the bytes
// processed are the encoding's.

#include <benchmark/benchmark.h>

#include "asn1/asn1.h"
#include "asn1/per_decoder.h"
#include "asn1/per_encoder.h"

#include <cstdint>
#include <vector>

namespace bench {

inline std::vector<char> perEncode(const ASN1::AbstractData& value) {
    std::vector<char> out;
    ASN1::PEREncoder encoder(out);
    value.accept(encoder);
    return out;
}

template <class T>
void BM_Encode(benchmark::State& state, T (*make)()) {
    const T value = make();
    for (auto _ : state) {
        std::vector<char> out;
        ASN1::PEREncoder encoder(out);
        if (!value.accept(encoder)) state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(perEncode(value).size()));
}

template <class T>
void BM_Decode(benchmark::State& state, T (*make)()) {
    const std::vector<char> octets = perEncode(make());
    for (auto _ : state) {
        T value;
        ASN1::PERDecoder decoder(octets.data(), octets.data() + octets.size());
        if (!value.accept(decoder)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(octets.size()));
}

}  // namespace bench
