#include "board/sim/tdm_fabric.h"

#include <algorithm>
#include <set>

#include "board/sim/hal_model.h"
#include "board/sim/sim_board.h"

namespace board::sim {

TdmFabric* TdmFabric::of_board() {
    auto* hal = Board::instance().model_as<HalModel>(hal::kDevice);
    return hal ? &hal->frames : nullptr;
}

int TdmFabric::Endpoint::send(const Frame& frame) {
    return fabric_.send(channel_, frame.data(), frame.size());
}

void TdmFabric::attach(int tdm, Channel& channel, size_t largest, bool stream) {
    detach(channel);
    attached_.push_back(Attached{tdm, &channel, largest, stream});
}

void TdmFabric::detach(const Channel& channel) {
    attached_.erase(std::remove_if(attached_.begin(), attached_.end(),
                                   [&](const Attached& a) { return a.channel == &channel; }),
                    attached_.end());
}

bool TdmFabric::fed_from(int channel, int source) const {
    return hal_.origin(channel) == source;
}

// From the source outwards: to what the switch feeds from it, and across the
// cables of the line channels it feeds, each of which is a source in turn.
int TdmFabric::send(int source, const void* data, size_t length) {
    if (length == 0) return 0;  // a line carries no empty frame
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    const Frame frame(bytes, bytes + length);
    if (tap) tap(source, frame);

    // Channels the frame has reached, and those it has been sent on.
    std::set<int> reached{source};
    std::set<int> sentOn{source};
    std::vector<int> sources{source};
    std::vector<Endpoint*> endpoints;
    int received = 0;
    while (!sources.empty()) {
        const int from = sources.back();
        sources.pop_back();
        for (const Attached& a : attached_) {
            if (!fed_from(a.tdm, from) || !reached.insert(a.tdm).second) continue;
            // A frame larger than the receiver takes is lost as to a full one.
            const bool fits = a.stream || length <= a.largest;
            if (fits && deliver(a, data, length))
                ++received;
            else
                ++lost;
        }
        for (auto& [channel, endpoint] : endpoints_)
            if (fed_from(channel, from) && reached.insert(channel).second)
                endpoints.push_back(endpoint.get());
        for (const auto& [a, b] : cables_)
            if (fed_from(a, from) && sentOn.insert(b).second) sources.push_back(b);
    }
    // Last: an endpoint may answer at once.
    for (Endpoint* endpoint : endpoints) {
        ++received;
        if (endpoint->on_frame)
            endpoint->on_frame(frame);
        else
            endpoint->frames.push_back(frame);
    }
    return received;
}

bool TdmFabric::deliver(const Attached& receiver, const void* data, size_t length) {
    if (!receiver.stream) return receiver.channel->deliver(data, length);
    if (receiver.largest == 0) return false;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    for (size_t at = 0; at < length; at += receiver.largest)
        if (!receiver.channel->deliver(bytes + at, std::min(receiver.largest, length - at)))
            return false;
    return true;
}

void TdmFabric::cable(int a, const std::vector<int>& b) {
    for (int end : b) {
        cables_.emplace(a, end);
        cables_.emplace(end, a);
    }
}

void TdmFabric::cut(int channel) {
    for (auto it = cables_.begin(); it != cables_.end();)
        it = it->first == channel || it->second == channel ? cables_.erase(it) : std::next(it);
}

TdmFabric::Endpoint& TdmFabric::endpoint(int channel) {
    auto& endpoint = endpoints_[channel];
    if (!endpoint) endpoint = std::make_unique<Endpoint>(*this, channel);
    return *endpoint;
}

void TdmFabric::reset() {
    attached_.clear();
    cables_.clear();
    endpoints_.clear();
    tap = nullptr;
    lost = 0;
}

}  // namespace board::sim
