#include "relay/channel_hub.h"

#include <boost/json.hpp>

namespace orvane {
namespace {

Frame publisherFrame(bool online)
{
    return makeFrame(boost::json::serialize(boost::json::object{{"type", "publisher"}, {"online", online}}));
}

} // namespace

Frame makeFrame(std::string text, bool snapshot)
{
    return Frame{std::make_shared<const std::string>(std::move(text)), snapshot};
}

ChannelHub::ChannelHub(ChannelStore &store, int subscribersPerChannel)
    : store_(store), subscribersPerChannel_(subscribersPerChannel)
{
}

bool ChannelHub::hasRoom(const std::string &channelId, Role role) const
{
    const auto it = channels_.find(channelId);
    return shutDown_ ? false
                     : role == Role::publisher || it == channels_.end() ||
                           static_cast<int>(it->second.subscribers.size()) < subscribersPerChannel_;
}

void ChannelHub::join(const std::string &channelId, Role role, HubPeer &peer)
{
    if (shutDown_)
        return;
    Channel &channel = channels_[channelId];
    channelOf_[&peer] = channelId;
    if (role == Role::subscriber) {
        channel.subscribers.insert(&peer);
        peer.deliver(publisherFrame(!channel.publishers.empty()));
        if (channel.lastSnapshot.text)
            peer.deliver(channel.lastSnapshot);
        return;
    }
    channel.publishers.insert(&peer);
    publisherPresence(channelId, true);
}

void ChannelHub::leave(HubPeer &peer)
{
    const auto found = channelOf_.find(&peer);
    if (shutDown_ || found == channelOf_.end())
        return;
    const std::string channelId = found->second;
    channelOf_.erase(found);
    const auto it = channels_.find(channelId);
    if (it == channels_.end())
        return;
    Channel &channel = it->second;
    channel.subscribers.erase(&peer);
    if (channel.publishers.erase(&peer) > 0)
        publisherPresence(channelId, false);
    // The last snapshot is kept only while someone is connected, so memory follows the sockets.
    if (channel.publishers.empty() && channel.subscribers.empty())
        channels_.erase(it);
}

void ChannelHub::fromPublisher(const std::string &channelId, std::string_view type, const Frame &frame)
{
    const auto it = channels_.find(channelId);
    if (it == channels_.end() || (type != "snapshot" && type != "event"))
        return;
    if (type == "snapshot")
        it->second.lastSnapshot = frame;
    for (HubPeer *subscriber : std::vector(it->second.subscribers.begin(), it->second.subscribers.end()))
        subscriber->deliver(frame);
}

void ChannelHub::fromSubscriber(const std::string &channelId, std::string_view type, const Frame &frame)
{
    const auto it = channels_.find(channelId);
    if (it == channels_.end() || type != "command")
        return;
    for (HubPeer *publisher : std::vector(it->second.publishers.begin(), it->second.publishers.end()))
        publisher->deliver(frame);
}

void ChannelHub::end(const std::string &channelId)
{
    const auto it = channels_.find(channelId);
    if (it == channels_.end())
        return;
    // Ending a peer makes it leave, which changes the sets: work on copies.
    const std::vector publishers(it->second.publishers.begin(), it->second.publishers.end());
    const std::vector subscribers(it->second.subscribers.begin(), it->second.subscribers.end());
    for (HubPeer *publisher : publishers)
        publisher->endChannel(Role::publisher);
    for (HubPeer *subscriber : subscribers)
        subscriber->endChannel(Role::subscriber);
}

std::vector<std::string> ChannelHub::channelsWithPublishers() const
{
    std::vector<std::string> ids;
    for (const auto &[id, channel] : channels_)
        if (!channel.publishers.empty())
            ids.push_back(id);
    return ids;
}

void ChannelHub::shutDown()
{
    shutDown_ = true;
    channels_.clear();
    channelOf_.clear();
}

void ChannelHub::publisherPresence(const std::string &channelId, bool online)
{
    if (store_.exists(channelId))
        store_.touch(channelId);
    const auto it = channels_.find(channelId);
    // Subscribers hear only when the first publisher comes or the last one goes.
    if (it == channels_.end() || it->second.publishers.size() != (online ? 1U : 0U))
        return;
    const Frame frame = publisherFrame(online);
    for (HubPeer *subscriber : std::vector(it->second.subscribers.begin(), it->second.subscribers.end()))
        subscriber->deliver(frame);
}

} // namespace orvane
