#include "companion/settings_store.h"

#include <gtest/gtest.h>

#include <QSettings>

namespace orvane {
namespace {

void storeRaw(const QByteArray &bytes)
{
    QSettings("dev.orvane", "companion").setValue("sharingSettings", bytes);
}

TEST(SettingsStore, SavesLoadsAndRemoves)
{
    SettingsStore::remove();
    EXPECT_EQ(SettingsStore::load(), std::nullopt);

    SharingSettings changed;
    changed.transcript = TranscriptLevel::full;
    changed.nativeNotifications = true;
    changed.gitSummary = false;
    SettingsStore::save(changed);
    EXPECT_EQ(SettingsStore::load(), changed);
    // The stored value is the record's JSON, nothing else.
    EXPECT_EQ(QSettings("dev.orvane", "companion").value("sharingSettings").toByteArray().toStdString(),
              encode(changed));

    SettingsStore::remove();
    EXPECT_EQ(SettingsStore::load(), std::nullopt);
}

TEST(SettingsStore, UnreadableValuesLoadNothing)
{
    auto json = encode(SharingSettings{});
    const auto withoutField = QByteArray::fromStdString(json).replace("\"startAtLogin\":false,", "").replace(",\"startAtLogin\":false", "");
    ASSERT_NE(withoutField.toStdString(), json);
    for (const QByteArray &bytes : {withoutField, QByteArray("not json"), QByteArray("[]"), QByteArray()}) {
        storeRaw(bytes);
        EXPECT_EQ(SettingsStore::load(), std::nullopt) << bytes.constData();
    }
}

} // namespace
} // namespace orvane
