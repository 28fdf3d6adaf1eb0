#include "relay/channel_store.h"

#include "relay/sqlite_statement.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QUuid>

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane {
namespace {

std::string hashOf(const std::string &token)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(token), QCryptographicHash::Sha256).toStdString();
}

// 32 bytes from the kernel's cryptographic source: 43 characters of base64url.
std::string newToken()
{
    std::array<quint32, 8> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray bytes(reinterpret_cast<const char *>(words.data()), sizeof(words));
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals).toStdString();
}

std::int64_t nowSeconds()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

[[noreturn]] void failWithErrno(const std::string &what)
{
    throw ChannelStoreError(what + ": " + std::strerror(errno));
}

// The folder and the file are made with the owner's bits only, and set so again when they were
// made earlier under a looser umask. SQLite gives its journal the database file's mode.
std::string privateDatabasePath(const std::string &directory)
{
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error)
        throw ChannelStoreError("Unable to create the data directory " + directory + ": " + error.message());
    if (::chmod(directory.c_str(), S_IRWXU) != 0)
        failWithErrno("Unable to make the data directory " + directory + " private");
    const std::string path = (std::filesystem::path(directory) / "channels.sqlite3").string();
    const int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (file < 0)
        failWithErrno("Unable to open the channel database " + path);
    const int changed = ::fchmod(file, S_IRUSR | S_IWUSR);
    ::close(file);
    if (changed != 0)
        failWithErrno("Unable to make the channel database " + path + " private");
    return path;
}

} // namespace

ChannelStore::ChannelStore(const std::string &directory)
{
    const std::string path = privateDatabasePath(directory);
    if (sqlite3_open_v2(path.c_str(), &database_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        const std::string reason = sqlite3_errmsg(database_);
        sqlite3_close(database_);
        throw ChannelStoreError("Unable to open the channel database: " + reason);
    }
    SqliteStatement(database_, "CREATE TABLE IF NOT EXISTS channels (id TEXT PRIMARY KEY, "
                               "publisher_hash BLOB NOT NULL, subscriber_hash BLOB NOT NULL, "
                               "publisher_seen INTEGER NOT NULL)")
        .step();
    // Databases of earlier relays lack the publisher's last visit: their channels start afresh.
    SqliteStatement columns(database_, "SELECT 1 FROM pragma_table_info('channels') WHERE name = 'publisher_seen'");
    if (!columns.step()) {
        SqliteStatement(database_, "ALTER TABLE channels ADD COLUMN publisher_seen INTEGER NOT NULL DEFAULT 0").step();
        SqliteStatement(database_, "UPDATE channels SET publisher_seen = ?").bind(nowSeconds()).step();
    }
}

ChannelStore::~ChannelStore()
{
    sqlite3_close(database_);
}

ChannelStore::NewChannel ChannelStore::create()
{
    NewChannel channel{QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString(), newToken(), newToken()};
    SqliteStatement(database_, "INSERT INTO channels VALUES (?, ?, ?, ?)")
        .bind(channel.channelId)
        .bindBlob(hashOf(channel.publisherToken))
        .bindBlob(hashOf(channel.subscriberToken))
        .bind(nowSeconds())
        .step();
    return channel;
}

bool ChannelStore::exists(const std::string &channelId) const
{
    return SqliteStatement(database_, "SELECT 1 FROM channels WHERE id = ?").bind(channelId).step();
}

bool ChannelStore::authenticate(const std::string &channelId, Role role, const std::string &token) const
{
    SqliteStatement query(database_, role == Role::publisher ? "SELECT publisher_hash FROM channels WHERE id = ?"
                                                             : "SELECT subscriber_hash FROM channels WHERE id = ?");
    return query.bind(channelId).step() && query.bytes(0) == hashOf(token);
}

bool ChannelStore::remove(const std::string &channelId)
{
    SqliteStatement(database_, "DELETE FROM channels WHERE id = ?").bind(channelId).step();
    return sqlite3_changes(database_) > 0;
}

void ChannelStore::touch(const std::string &channelId)
{
    SqliteStatement(database_, "UPDATE channels SET publisher_seen = ? WHERE id = ?").bind(nowSeconds()).bind(channelId).step();
}

std::vector<std::string> ChannelStore::expire(std::chrono::seconds idleLife)
{
    const std::int64_t before = nowSeconds() - idleLife.count();
    std::vector<std::string> expired;
    SqliteStatement query(database_, "SELECT id FROM channels WHERE publisher_seen < ?");
    query.bind(before);
    while (query.step())
        expired.push_back(query.bytes(0));
    SqliteStatement(database_, "DELETE FROM channels WHERE publisher_seen < ?").bind(before).step();
    return expired;
}

} // namespace orvane
