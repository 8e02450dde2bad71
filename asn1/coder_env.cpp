#include "asn1/coder_env.h"

#include "asn1/ber_decoder.h"
#include "asn1/ber_encoder.h"
#include "asn1/per_decoder.h"
#include "asn1/per_encoder.h"

#include <algorithm>
#include <sstream>

namespace ASN1 {

namespace {

// Runs an encoder over a buffer of its own so that a failed encoding leaves
// nothing behind.
template <class Encoder>
bool encodeWith(const AbstractData& value, CoderEnv::Output out) {
    std::vector<char> buffer;
    Encoder encoder(buffer);
    if (!value.accept(encoder)) return false;
    std::copy(buffer.begin(), buffer.end(), out);
    return true;
}

}  // namespace

bool CoderEnv::encode(const AbstractData& value, Output out) {
    switch (encodingRule_) {
        case AlignedPER:
            return encodeWith<PEREncoder>(value, out);
        case BER:
            return encodeBER(value, out);
        case ValueNotation:
            return encodeAVN(value, out);
        default:
            return false;
    }
}

bool CoderEnv::encodeBER(const AbstractData& value, Output out) {
    return encodeWith<BEREncoder>(value, out);
}

bool CoderEnv::encodeAVN(const AbstractData& value, Output out) {
    std::ostringstream text;
    if (value.print_on(text) != std::ios_base::goodbit) return false;
    const std::string written = text.str();
    std::copy(written.begin(), written.end(), out);
    return true;
}

bool CoderEnv::decode(const char* first, const char* last, AbstractData& value,
                      bool withoutEnv) {
    const CoderEnv* env = withoutEnv ? nullptr : this;
    switch (encodingRule_) {
        case AlignedPER: {
            PERDecoder decoder(first, last, env);
            return value.accept(decoder);
        }
        case BER: {
            BERDecoder decoder(first, last, env);
            return value.accept(decoder);
        }
        case ValueNotation: {
            std::istringstream text(std::string(first, last < first ? first : last));
            return value.get_from(text) == std::ios_base::goodbit;
        }
        default:
            return false;
    }
}

bool encode(const AbstractData& value, CoderEnv* env, CoderEnv::Output out) {
    return env->encode(value, out);
}

bool decode(const char* first, const char* last, CoderEnv* env, AbstractData& value,
            bool withoutEnv) {
    return env->decode(first, last, value, withoutEnv);
}

}  // namespace ASN1
