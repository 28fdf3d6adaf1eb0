#include "relay/channel_store.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <array>

namespace orvane {
namespace {

QByteArray hashOf(const QString &token)
{
    return QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256);
}

// 32 bytes from the kernel's cryptographic source: 43 characters of base64url.
QString newToken()
{
    std::array<quint32, 8> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray bytes(reinterpret_cast<const char *>(words.data()), sizeof(words));
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QSqlQuery run(const QString &connection, const QString &statement, const QVariantList &values)
{
    QSqlQuery query(QSqlDatabase::database(connection));
    query.prepare(statement);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec())
        throw ChannelStoreError("Unable to use the channel database: " + query.lastError().text().toStdString());
    return query;
}

} // namespace

ChannelStore::ChannelStore(const QString &directory)
    : connectionName_(QUuid::createUuid().toString())
{
    if (!QDir().mkpath(directory))
        throw ChannelStoreError("Unable to create the data directory " + directory.toStdString());
    auto database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
    database.setDatabaseName(QDir(directory).filePath(QStringLiteral("channels.sqlite3")));
    if (!database.open()) {
        const std::string reason = database.lastError().text().toStdString();
        database = {};
        QSqlDatabase::removeDatabase(connectionName_);
        throw ChannelStoreError("Unable to open the channel database: " + reason);
    }
    run(connectionName_,
        QStringLiteral("CREATE TABLE IF NOT EXISTS channels (id TEXT PRIMARY KEY, "
                       "publisher_hash BLOB NOT NULL, subscriber_hash BLOB NOT NULL)"),
        {});
}

ChannelStore::~ChannelStore()
{
    QSqlDatabase::database(connectionName_, false).close();
    QSqlDatabase::removeDatabase(connectionName_);
}

ChannelStore::NewChannel ChannelStore::create()
{
    NewChannel channel{QUuid::createUuid().toString(QUuid::WithoutBraces), newToken(), newToken()};
    run(connectionName_, QStringLiteral("INSERT INTO channels VALUES (?, ?, ?)"),
        {channel.channelId, hashOf(channel.publisherToken), hashOf(channel.subscriberToken)});
    return channel;
}

bool ChannelStore::exists(const QString &channelId) const
{
    return run(connectionName_, QStringLiteral("SELECT 1 FROM channels WHERE id = ?"), {channelId}).next();
}

bool ChannelStore::authenticate(const QString &channelId, Role role, const QString &token) const
{
    const QString column = role == Role::publisher ? QStringLiteral("publisher_hash")
                                                   : QStringLiteral("subscriber_hash");
    auto query = run(connectionName_, QStringLiteral("SELECT %1 FROM channels WHERE id = ?").arg(column),
                     {channelId});
    return query.next() && query.value(0).toByteArray() == hashOf(token);
}

bool ChannelStore::remove(const QString &channelId)
{
    return run(connectionName_, QStringLiteral("DELETE FROM channels WHERE id = ?"), {channelId})
               .numRowsAffected() > 0;
}

} // namespace orvane
