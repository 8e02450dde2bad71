#pragma once
// What a protocol layer reports when it initialises or goes down: success or
// an error with a text. Statuses live on the heap and are passed around in
// counted handles; the last handle deletes them.

#include <iosfwd>
#include <string>
#include <utility>

#include "runtime/smart_pointer.h"

class Protocol;

class Internal_protocol_status {
public:
    explicit Internal_protocol_status(Protocol* source) : source(source) {}
    Internal_protocol_status(const Internal_protocol_status&) = delete;
    Internal_protocol_status& operator=(const Internal_protocol_status&) = delete;
    virtual ~Internal_protocol_status() = default;

    virtual bool success() const = 0;
    virtual std::string message() const = 0;
    virtual void out(std::ostream& os) const = 0;

    Protocol* source;  // the layer that made it
    unsigned ref_count = 0;
};

// The text both kinds carry.
class Protocol_status_text : public Internal_protocol_status {
public:
    Protocol_status_text(Protocol* source, std::string text)
        : Internal_protocol_status(source), text_(std::move(text)) {}

    std::string message() const override { return text_; }
    void out(std::ostream& os) const override;

private:
    std::string text_;
};

class Protocol_status_success : public Protocol_status_text {
public:
    using Protocol_status_text::Protocol_status_text;
    bool success() const override { return true; }
};

class Protocol_status_error : public Protocol_status_text {
public:
    using Protocol_status_text::Protocol_status_text;
    bool success() const override { return false; }
};

// What a family with no members answers to initialisation.
class Protocol_initialize_error : public Protocol_status_error {
public:
    using Protocol_status_error::Protocol_status_error;
};
