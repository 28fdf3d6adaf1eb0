#pragma once

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace orvane {

class ChannelStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Paired channels in SQLite under the data directory, so a restart keeps pairings. Only the
// SHA-256 hashes of the tokens are stored: a copied database file cannot publish or subscribe.
// The directory is the owner's alone (0700) and the database file too (0600), whatever the umask.
class ChannelStore {
public:
    enum class Role { publisher, subscriber };

    struct NewChannel {
        std::string channelId;
        std::string publisherToken;
        std::string subscriberToken;
    };

    // Creates the directory and the database when missing; throws ChannelStoreError.
    explicit ChannelStore(const std::string &directory);
    ~ChannelStore();
    ChannelStore(const ChannelStore &) = delete;
    ChannelStore &operator=(const ChannelStore &) = delete;

    NewChannel create();
    bool exists(const std::string &channelId) const;
    bool authenticate(const std::string &channelId, Role role, const std::string &token) const;
    bool remove(const std::string &channelId);
    // The channel's publisher is here now; channels it leaves alone too long expire.
    void touch(const std::string &channelId);
    // Removes the channels whose publisher was last seen more than `idleLife` ago; their ids.
    std::vector<std::string> expire(std::chrono::seconds idleLife);

private:
    sqlite3 *database_ = nullptr;
};

} // namespace orvane
