#pragma once
// The simulated "/dev/rtp_ext": each open is one header-extension session.
// A session keeps its init record, its attach record with the "/dev/rtp"
// open that record names, and its source filter. Tests inject the
// extensions the network sends (each is one read, described beforehand by
// the receive information) and look at the extensions written.
//
//   auto* model = Board::instance().model_as<RtpExtModel>(rtp_ext::kDevice);
//   RtpExtModel::Session* s = model->session(fd);      // or model->sessions()
//   s->inject({0x81, 0x40, 0, 0}, inet_addr("127.0.0.2"), 7);
//   ... the descriptor polls readable until the queue is read empty
//   EXPECT_EQ(1u, s->sent.size());

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "board/drivers/rtp_ext.h"
#include "board/sim/sim_board.h"

namespace board::sim {

class RtpExtModel : public Model {
public:
    struct Packet {
        std::vector<uint8_t> bytes;
        uint32_t addr;  // network order
        uint32_t ssrc;
    };

    class Session {
    public:
        explicit Session(Channel& channel) : channel_(channel) {}

        // Queues an extension received from `addr` (network order) and
        // `ssrc`. False when the filter dropped it.
        bool inject(const std::vector<uint8_t>& bytes, uint32_t addr, uint32_t ssrc);
        // Whether the filter lets a packet of this source through.
        bool passes(uint32_t addr, uint32_t ssrc) const;
        // The profile of the session's extensions, 0 before init.
        uint16_t etype() const { return init ? init->etype : 0; }

        std::optional<rtp_ext::rtp_ext_init_params> init;
        std::optional<rtp_ext::rtp_ext_attach_session_params> attach;
        // The "/dev/rtp" open the attach named: compared by tests, never
        // followed (that open may have been closed since).
        const Channel* rtp = nullptr;
        std::optional<rtp_ext::rtp_ext_source_filter> filter;
        // Off: the filter is kept but lets every source through.
        bool enforce_filter = true;
        std::deque<Packet> received;  // not read yet, oldest first
        std::vector<std::vector<uint8_t>> sent;  // while the device is journaled

    private:
        friend class RtpExtModel;
        Channel& channel_;
    };

    int open(Channel& channel) override;
    int ioctl(Channel& channel, uint32_t request, void* arg) override;
    ssize_t read(Channel& channel, void* buf, size_t length) override;
    ssize_t write(Channel& channel, const void* data, size_t length) override;
    void close(Channel& channel) override;
    void reset() override;

    // The session of a descriptor (or of an open), null when it has none.
    Session* session(int fd);
    Session* session(const Channel& channel);
    // The open sessions, oldest first.
    std::vector<Session*> sessions();

    bool absent = false;  // open fails with ENOENT

private:
    int Attach(Session& session, const rtp_ext::rtp_ext_attach_session_params& record);
    std::map<const Channel*, Session> sessions_;
};

}  // namespace board::sim
