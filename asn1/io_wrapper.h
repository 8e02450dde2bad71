#pragma once
// Adapters that run a value's stream operation (printing or reading value
// notation) and turn its outcome, an exception included, into the stream's
// state, the way the standard stream operators behave.

#include <ios>
#include <iosfwd>

namespace ASN1 {

class AbstractData;

class IOWrapper {
public:
    virtual ~IOWrapper() = default;
    // Sets the state that do_real_io returns on the stream. An exception
    // becomes the bad state (memory exhaustion) or the fail state (anything
    // else); it reaches the caller only as the stream's own exception, when
    // the stream's exception mask asks for that state.
    void do_it(std::basic_ios<char>& stream) const;

protected:
    virtual std::ios_base::iostate do_real_io() const = 0;
};

class InserterWrapper : public IOWrapper {
public:
    InserterWrapper(std::ostream& stream, const AbstractData& value)
        : stream_(stream), value_(value) {}

protected:
    std::ios_base::iostate do_real_io() const override;

private:
    std::ostream& stream_;
    const AbstractData& value_;
};

class ExtractorWrapper : public IOWrapper {
public:
    ExtractorWrapper(std::istream& stream, AbstractData& value) : stream_(stream), value_(value) {}

protected:
    std::ios_base::iostate do_real_io() const override;

private:
    std::istream& stream_;
    AbstractData& value_;
};

}  // namespace ASN1
