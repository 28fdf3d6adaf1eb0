#include "relay/file_credential_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

namespace orvane::FileCredentialStore {
namespace {

constexpr QFileDevice::Permissions privateFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions privateDirectory = privateFile | QFileDevice::ExeOwner;

// The accounts and their data; empty when the file is missing or unreadable. Data are bytes,
// so bytes that are not UTF-8 are read back as they were written.
boost::json::object readItems()
{
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = file.readAll();
    boost::json::parse_options options;
    options.allow_invalid_utf8 = true;
    boost::system::error_code error;
    boost::json::value value = boost::json::parse(std::string_view(text.constData(), text.size()), error, {}, options);
    if (error || !value.is_object())
        return {};
    return std::move(value.as_object());
}

[[noreturn]] void refuse(const QString &reason)
{
    throw CredentialStoreError(QStringLiteral("Unable to keep the pairing in %1: %2.").arg(path(), reason).toStdString());
}

void writeItems(const boost::json::object &items)
{
    const QFileInfo target(path());
    QDir directory = target.dir();
    if (!directory.mkpath(QStringLiteral(".")))
        refuse(QStringLiteral("the folder %1 cannot be created").arg(directory.path()));
    // Also tightens a folder made earlier with the usual, wider permissions.
    if (!QFile::setPermissions(directory.path(), privateDirectory))
        refuse(QStringLiteral("the folder %1 cannot be made private").arg(directory.path()));

    QSaveFile file(target.filePath());
    if (!file.open(QIODevice::WriteOnly))
        refuse(file.errorString());
    // Before the first byte: a new file would otherwise take the umask's permissions, and a
    // replaced one those of the file it replaces.
    if (!file.setPermissions(privateFile))
        refuse(QStringLiteral("the file cannot be made private"));
    const std::string text = boost::json::serialize(items);
    if (file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) || !file.commit())
        refuse(file.errorString());
}

} // namespace

QString path()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("orvane/credentials.json"));
}

std::optional<std::string> load(std::string_view account)
{
    const boost::json::object items = readItems();
    const auto *data = items.if_contains(account);
    if (!data || !data->is_string())
        return std::nullopt;
    return std::string(data->get_string());
}

void save(std::string_view data, std::string_view account)
{
    boost::json::object items = readItems();
    items[account] = data;
    writeItems(items);
}

void remove(std::string_view account)
{
    boost::json::object items = readItems();
    if (!items.erase(account))
        return;
    try {
        if (items.empty())
            QFile::remove(path());
        else
            writeItems(items);
    } catch (const CredentialStoreError &) {
        // Removing never fails, as with the Secret Service.
    }
}

} // namespace orvane::FileCredentialStore
