#pragma once

#include <QString>

#include <stdexcept>

namespace orvane {

class ChannelStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Paired channels in SQLite under the data directory, so a restart keeps pairings. Only the
// SHA-256 hashes of the tokens are stored: a copied database file cannot publish or subscribe.
class ChannelStore {
public:
    enum class Role { publisher, subscriber };

    struct NewChannel {
        QString channelId;
        QString publisherToken;
        QString subscriberToken;
    };

    // Creates the directory and the database when missing; throws ChannelStoreError.
    explicit ChannelStore(const QString &directory);
    ~ChannelStore();
    ChannelStore(const ChannelStore &) = delete;
    ChannelStore &operator=(const ChannelStore &) = delete;

    NewChannel create();
    bool exists(const QString &channelId) const;
    bool authenticate(const QString &channelId, Role role, const QString &token) const;
    bool remove(const QString &channelId);

private:
    QString connectionName_;
};

} // namespace orvane
