#pragma once
// The frames of the simulated TDM fabric. The data channels of the device
// models (the multi-channel controller's channels, the QSIG signalling
// channels) are attached with their TDM numbers; a frame sent on channel C
// reaches, as one datagram, every attached channel that the "/dev/hal"
// switch feeds from C. A frame visits no channel twice; a receiver whose
// descriptor is full, or that takes no frame that large, loses it (counted).
//
// Test hooks stand for what lies outside the board. A cable joins line
// channels: what is switched into `a` arrives as the content of each `b`
// (several for a BRI bus), and back. An endpoint on a channel is a device
// on its line: it gets every frame switched into the channel and sends
// frames as the channel's content. A tap sees every frame sent.
//
//   auto& frames = board.model_as<HalModel>(hal::kDevice)->frames;
//   frames.cable(48, {80});                  // trunk 1 ts 16 to trunk 2 ts 16
//   auto& device = frames.endpoint(33);      // trunk 1 ts 1
//   device.send({0x00, 0x01, 0x03});

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace board::sim {

class Channel;
class HalModel;

class TdmFabric {
public:
    using Frame = std::vector<uint8_t>;

    class Endpoint {
    public:
        Endpoint(TdmFabric& fabric, int channel) : fabric_(fabric), channel_(channel) {}
        // Sends a frame as the channel's content; how many got it.
        int send(const Frame& frame);
        int channel() const { return channel_; }

        // Frames received, oldest first, unless `on_frame` takes them.
        std::deque<Frame> frames;
        std::function<void(const Frame&)> on_frame;

    private:
        TdmFabric& fabric_;
        int channel_;
    };

    explicit TdmFabric(const HalModel& hal) : hal_(hal) {}
    TdmFabric(const TdmFabric&) = delete;
    TdmFabric& operator=(const TdmFabric&) = delete;

    // The frames of the board's "/dev/hal" switch; null when it has none.
    static TdmFabric* of_board();

    // A device model's data channel, receiving frames of at most `largest`
    // bytes, or a stream cut into packets of at most `largest` bytes;
    // detached when its open is closed.
    void attach(int tdm, Channel& channel, size_t largest, bool stream = false);
    void detach(const Channel& channel);
    // A frame sent on channel `source`; returns how many receivers got it
    // (none for an empty frame).
    int send(int source, const void* data, size_t length);

    // ---- Test hooks
    void cable(int a, const std::vector<int>& b);
    // Removes every cable at the channel.
    void cut(int channel);
    // The endpoint on the channel, made on first use.
    Endpoint& endpoint(int channel);
    std::function<void(int source, const Frame& frame)> tap;
    // Frames a receiver lost: it was full, or the frame larger than it takes.
    unsigned lost = 0;

    // No channel attached, no cable, endpoint or tap.
    void reset();

private:
    struct Attached {
        int tdm;
        Channel* channel;
        size_t largest;
        bool stream;
    };
    static bool deliver(const Attached& receiver, const void* data, size_t length);
    bool fed_from(int channel, int source) const;

    const HalModel& hal_;
    std::vector<Attached> attached_;
    std::multimap<int, int> cables_;  // each way
    std::map<int, std::unique_ptr<Endpoint>> endpoints_;
};

}  // namespace board::sim
