#pragma once
// What a signalling link needs of the HDLC channel below it: `GenericHDLC`
// takes one frame per call, and the link hears of received frames, read
// failures and renewed readiness through `HDLC::Notify`.

class Packet;

class GenericHDLC {
public:
    virtual ~GenericHDLC() = default;
    // Sends one frame. False when the frame was not taken: the channel is
    // closed, busy (a later `on_hdlc_ready` says when to try again) or failed.
    virtual bool hdlc_transmit(Packet& frame) = 0;
    virtual bool is_open() const = 0;
    virtual bool is_ready() const = 0;
};

// One HDLC channel of the board's multi-channel controller. For now only its
// callback interface, which the links implement.
class HDLC {
public:
    class Notify {
    public:
        struct Cause {
            // The channel reports only read failures.
            enum Type { read_failure = 0 };
        };

        virtual ~Notify() = default;
        virtual void on_hdlc_receive(Packet& frame) = 0;
        virtual void on_hdlc_error(Cause::Type cause) = 0;
        // The channel takes frames again after refusing one.
        virtual void on_hdlc_ready() = 0;
    };
};
