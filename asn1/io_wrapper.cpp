#include "asn1/io_wrapper.h"

#include "asn1/abstract_data.h"

#include <istream>
#include <new>
#include <ostream>

namespace ASN1 {

void IOWrapper::do_it(std::basic_ios<char>& stream) const {
    std::ios_base::iostate state;
    try {
        state = do_real_io();
    } catch (const std::bad_alloc&) {
        state = std::ios_base::badbit;
    } catch (...) {
        state = std::ios_base::failbit;
    }
    if (state) stream.setstate(state);
}

std::ios_base::iostate InserterWrapper::do_real_io() const {
    const std::ostream::sentry ready(stream_);
    return ready ? value_.print_on(stream_) : std::ios_base::goodbit;
}

std::ios_base::iostate ExtractorWrapper::do_real_io() const {
    const std::istream::sentry ready(stream_);
    return ready ? value_.get_from(stream_) : std::ios_base::goodbit;
}

std::ostream& operator<<(std::ostream& stream, const AbstractData& value) {
    if (stream.good()) InserterWrapper(stream, value).do_it(stream);
    return stream;
}

std::istream& operator>>(std::istream& stream, AbstractData& value) {
    if (stream.good()) ExtractorWrapper(stream, value).do_it(stream);
    return stream;
}

}  // namespace ASN1
