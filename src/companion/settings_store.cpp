#include "companion/settings_store.h"

#include <QSettings>

namespace orvane::SettingsStore {
namespace {

const QString key = QStringLiteral("sharingSettings");
const QString organization = QStringLiteral("dev.orvane");
const QString application = QStringLiteral("companion");

} // namespace

std::optional<SharingSettings> load()
{
    const QByteArray bytes = QSettings(organization, application).value(key).toByteArray();
    return decodeText<SharingSettings>(std::string_view(bytes.constData(), std::size_t(bytes.size())));
}

void save(const SharingSettings &settings)
{
    QSettings(organization, application).setValue(key, QByteArray::fromStdString(encode(settings)));
}

void remove()
{
    QSettings(organization, application).remove(key);
}

} // namespace orvane::SettingsStore
