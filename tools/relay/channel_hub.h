#pragma once

#include "relay/channel_store.h"

#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orvane {

// One text frame, shared by every socket it goes to.
struct Frame {
    std::shared_ptr<const std::string> text;
    bool snapshot = false;
};

Frame makeFrame(std::string text, bool snapshot = false);

// A socket as the hub sees it.
class HubPeer {
public:
    virtual ~HubPeer() = default;
    virtual void deliver(const Frame &frame) = 0;
    // The channel was revoked or expired: publishers are told "revoked", then everyone closed.
    virtual void endChannel(ChannelStore::Role role) = 0;
};

// Who is connected to which channel, and what goes where: publishers' snapshots and events to
// the channel's subscribers (the last snapshot also to each newcomer), subscribers' commands to
// its publishers. Subscribers hear {"type":"publisher","online":…} when they join and whenever
// the channel gains its first or loses its last publisher. Everything runs on the relay's one
// I/O thread.
class ChannelHub {
public:
    using Role = ChannelStore::Role;

    ChannelHub(ChannelStore &store, int subscribersPerChannel);

    // False when the channel already has its share of subscribers.
    bool hasRoom(const std::string &channelId, Role role) const;
    void join(const std::string &channelId, Role role, HubPeer &peer);
    void leave(HubPeer &peer);
    void fromPublisher(const std::string &channelId, std::string_view type, const Frame &frame);
    void fromSubscriber(const std::string &channelId, std::string_view type, const Frame &frame);
    void end(const std::string &channelId);
    std::vector<std::string> channelsWithPublishers() const;
    // The relay is going away: nothing is delivered any more and leaving is free.
    void shutDown();

private:
    struct Channel {
        std::set<HubPeer *> publishers;
        std::set<HubPeer *> subscribers;
        Frame lastSnapshot;
    };

    // The one place a channel's publisher comes and goes.
    void publisherPresence(const std::string &channelId, bool online);

    ChannelStore &store_;
    int subscribersPerChannel_;
    bool shutDown_ = false;
    std::unordered_map<std::string, Channel> channels_;
    std::unordered_map<HubPeer *, std::string> channelOf_;
};

} // namespace orvane
