#pragma once
// The server side of the control protocol. `CtrlSrv::Server` owns the
// controller's message link, decodes each frame as one LGCP::Message, offers
// every command to the bound services in binding order and sends every
// answer and signal. `CtrlSrv::Service` is the base of every
// controller-facing service: it takes commands in OnCommand and answers
// through the operations of this base.
//
//   class Clock : public CtrlSrv::Service {
//       bool OnCommand(const LGCP::Command& c) override {
//           if (!c.is_clockCfg()) return false;
//           ok ? Success() : Error(LGCP::ErrorCause::busError);
//           return true;  // taken: exactly one answer, now or delayed
//       }
//       ...
//   };
//   CtrlSrv::ctrlServer.Bind(&clock);

#include <cstddef>
#include <iosfwd>
#include <list>

#include "link/control_service.h"
#include "messages/lgcp.h"
#include "runtime/log_throttle.h"
#include "runtime/timer.h"

namespace CtrlSrv {

class Server;

// The seq that a delayed answer carries: that of its own command, or none
// when the command had none.
struct Seq {
    bool present = false;
    int value = 0;
};

class Service {
public:
    virtual ~Service() = default;

    virtual void OnConnect() = 0;
    virtual void OnDisconnect() = 0;
    // True when the service takes the command; it then answers it once.
    virtual bool OnCommand(const LGCP::Command& command) = 0;
    // A signal another service sends, before it goes to the controller.
    virtual void OnSignal(const LGCP::Signal&) {}
    // Another controller was refused while this one is served.
    virtual void OnRefuseConnection() {}

    // Each of these logs and does nothing while the service is not bound.
    void Success();
    void Error(LGCP::ErrorCause::NamedNumber cause);
    // Promises an answer for later (delayedSuccess) and returns its seq;
    // Success or Error for the same command is then suppressed.
    Seq delayResponse();
    void delayedSuccess(unsigned slot, Seq seq);
    // To the other services' OnSignal, then to the controller.
    void SendSignal(const LGCP::Signal& signal);
    void SendSignal(unsigned slot, const LGCP::Signal& signal);
    // The slot of the command being served; -1 when it has none.
    unsigned GetSlot() const;
    bool IsSlotPresent() const;
    // False when unbound or without a link; else `connected` tells.
    bool CheckServerConnection(bool& connected) const;

protected:
    Server* server() const { return server_; }
    // To the other services' OnSignal only, not to the controller; nothing
    // while unbound.
    void OfferSignal(const LGCP::Signal& signal);

private:
    friend class Server;
    bool CheckServer() const;

    Server* server_ = nullptr;
};

class Server : public Control::Notify {
public:
    static constexpr unsigned no_slot = 0xFFFFFFFFu;
    static constexpr unsigned max_slot = 1023;
    static constexpr unsigned avg_stat_ms = 5000;
    // The most of a frame that does not decode its log line shows.
    static constexpr size_t dumped_octets = 64;

    Server() = default;
    ~Server() override;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Appends the service: the order of offering and of the fan-outs.
    void Bind(Service* service);
    // Takes the link (owned from here), names it "server" and activates it.
    bool Activate(Control::Service* link);
    // Stops and deletes the link; every service hears OnDisconnect.
    void Deactivate();

    void Success();
    void Error(LGCP::ErrorCause::NamedNumber cause);
    Seq delayResponse();
    void delayedSuccess(unsigned slot, Seq seq);
    void SendSignal(const LGCP::Signal& signal);
    void SendSignal(unsigned slot, const LGCP::Signal& signal);
    unsigned GetSlot() const { return currentSlot_; }
    bool IsSlotPresent() const { return currentSlot_ != no_slot; }
    bool CheckServerConnection(bool& connected) const;
    // Drops the controller (the heartbeat ran out, or a peer that never sent
    // a command gives way to a newcomer).
    void OnHeartbeatTimeout();

    // "ctrl [<peer>]: ", "ctrl [not connected]: " or "ctrl [null]: ".
    void PutHeader(std::ostream& os) const;

    void OnConnect() override;
    void OnDisconnect() override;
    void OnMessage(const char* data, int length) override;
    void OnRefuseConnection() override;

    const std::list<Service*>& services() const { return services_; }
    Control::Service* connection() const { return connection_; }
    // Back to a server without link, services or remembered seq: for tests.
    void reset_for_test();

private:
    enum class Answer { None, Delayed, Sent };

    void Dispatch(const LGCP::Message& message, bool knownCommand);
    // At most a line a second, with the frame's first octets in hex.
    void DecodeFailed(const char* data, int length);
    bool Offer(const LGCP::Command& command);
    // A message with the answer's seq and slot.
    LGCP::Message Reply() const;
    // Sends the command's answer; a second one, or any after delayResponse,
    // is suppressed.
    void SendAnswer(const LGCP::Message& reply);
    // An answer that does not encode goes out as the error `internal`.
    void SendOrFallBack(const LGCP::Message& reply);
    // False only when the message does not encode.
    bool SendMsg(const LGCP::Message& message);
    void OnUpdateAvgStat() {}

    std::list<Service*> services_;
    Control::Service* connection_ = nullptr;
    bool seqPresent_ = false;
    int lastSeq_ = 0;
    unsigned currentSlot_ = no_slot;
    Answer answer_ = Answer::None;
    Timer avgStatTimer_;
    LogThrottle undecodable_;
};

// The one server of the process.
extern Server ctrlServer;

}  // namespace CtrlSrv
