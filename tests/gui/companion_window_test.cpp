// The window and the tray item as a user meets them, over the real model, the fake App Server
// and an orvane-relay on loopback: clicks and key presses, and what each page then shows.
#include "companion_harness.h"
#include "fake_codex.h"

#include "companion/settings_store.h"
#include "relay/keychain_store.h"
#include "ui/clamped_label.h"
#include "ui/local_time_text.h"
#include "ui/main_view.h"
#include "ui/menu_content.h"
#include "ui/sharing_view.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace orvane::test {
namespace {

using testing::Contains;

// Every text a page shows: labels, buttons, check boxes and group titles that are not hidden.
std::vector<std::string> shown(const QWidget *page)
{
    std::vector<std::string> texts;
    for (const QWidget *widget : page->findChildren<QWidget *>()) {
        if (!widget->isVisibleTo(page))
            continue;
        QString text;
        if (const auto *label = qobject_cast<const QLabel *>(widget))
            text = label->text();
        else if (const auto *clamped = qobject_cast<const ClampedLabel *>(widget))
            text = clamped->text();
        else if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
            text = button->text();
        else if (const auto *group = qobject_cast<const QGroupBox *>(widget))
            text = group->title();
        if (!text.isEmpty())
            texts.push_back(text.toStdString());
    }
    return texts;
}

template <typename Widget = QAbstractButton>
Widget *withText(const QWidget *page, const QString &text)
{
    for (Widget *widget : page->findChildren<Widget *>())
        if (widget->text() == text)
            return widget;
    ADD_FAILURE() << "nothing shows " << text.toStdString();
    return nullptr;
}

std::vector<std::string> menuTexts(MenuContent &menu)
{
    std::vector<std::string> texts;
    for (const QAction *action : menu.menu().actions())
        texts.push_back(action->isSeparator() ? "---" : action->text().toStdString());
    return texts;
}

bool showsIcon(MenuContent &menu, const QIcon &icon)
{
    const QImage wanted = icon.pixmap(22).toImage();
    return !wanted.isNull() && menu.trayIcon().icon().pixmap(22).toImage() == wanted;
}

// One user's visit: the status page and the menu following the model, each click refreshing once;
// then every control named and reached by the keyboard, a pairing, its end and a new one, sharing
// choices stored at once, the report, and clearing local data.
TEST(CompanionWindow, FollowsTheModelAndPairsAndStoresSharingChoicesOnPagesReachedByTheKeyboard)
{
    SharingSettings stored;
    stored.elapsedTime = false;
    SettingsStore::save(stored);
    LocalRelay relay;
    qputenv("ORVANE_RELAY_URL", relay.baseUrl().toString().toUtf8());
    auto stdio = session({{"t-1", "thinking"}});
    auto &methods = stdio["methods"].as_object();
    // A title holding markup is shown as typed.
    methods["thread/read#t-1"].at_pointer("/result/thread").as_object()["name"] = "<b>Ship</b> & tell";
    // The first, the two "Refresh now" and the menu's refresh list threads; the fifth fails.
    const json::value listed = methods["thread/list"];
    methods["thread/list"] = json::array{listed, listed, listed, listed,
                                         json::object{{"error", {{"code", -32603}, {"message", "busy"}}}}, listed};
    FakeCodex codex({{"stdio", stdio}});
    CompanionModel model(testOptions());
    MenuContent menu(model, [] {});
    MainView window(model);
    const auto lists = [&codex] { return requests(codex.received(), "thread/list").size(); };

    EXPECT_EQ(menuTexts(menu), (std::vector<std::string>{"Waiting for Codex", "---", "Refresh", "Open Companion", "---", "Quit"}));
    EXPECT_THAT(shown(window.page()), Contains("Not synced yet"));
    EXPECT_TRUE(codex.launches().empty()); // nothing starts before the window shows

    // Every refresh ends by assigning the last error, so that signal counts finished refreshes.
    int finished = 0;
    QObject::connect(&model, &CompanionModel::lastErrorChanged, [&finished] { ++finished; });

    // Showing the window starts the companion: one refresh.
    window.show();
    ASSERT_TRUE(waitUntil([&] { return finished == 1; }, 20s));
    ASSERT_TRUE(model.lastSync() && model.currentThread() && model.currentThread()->projectName);
    EXPECT_THAT(shown(window.page()),
                testing::UnorderedElementsAreArray(std::vector<std::string>{
                    "Orvane", "Codex connected", "Glasses relay disconnected", "Paired disconnected", "Current thread",
                    "<b>Ship</b> & tell", "Thinking\u2026", *model.currentThread()->projectName, "Refresh now",
                    "Synced " + LocalTimeText::timeOfDay(*model.lastSync()).toStdString()}));
    EXPECT_EQ(menuTexts(menu).front(), "Thinking\u2026");
    EXPECT_EQ(lists(), 1u);

    // Each click starts one refresh of its own, and returns before it ends.
    auto *refreshNow = withText(window.page(), "Refresh now");
    QTest::mouseClick(refreshNow, Qt::LeftButton);
    QTest::mouseClick(refreshNow, Qt::LeftButton);
    EXPECT_EQ(finished, 1);
    EXPECT_TRUE(waitUntil([&] { return finished == 3; }));
    EXPECT_EQ(lists(), 3u);
    menu.menu().actions().at(2)->trigger();
    EXPECT_TRUE(waitUntil([&] { return finished == 4; }));
    EXPECT_EQ(lists(), 4u);

    // A failing refresh shows its error in the orange row; the next good one takes it away.
    QTest::keyClick(refreshNow, Qt::Key_Space);
    ASSERT_TRUE(waitUntil([&] { return finished == 5; }));
    ASSERT_TRUE(model.lastError());
    const std::string error = *model.lastError();
    EXPECT_THAT(shown(window.page()), Contains(error));
    EXPECT_THAT(shown(window.page()), Contains("Codex disconnected"));
    auto *errorRow = withText<QLabel>(window.page(), QString::fromStdString(error));
    QTest::mouseClick(refreshNow, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return finished == 6; }));
    EXPECT_FALSE(model.lastError());
    EXPECT_FALSE(errorRow->isVisible());
    EXPECT_EQ(lists(), 6u);

    SharingView sharing(model);
    sharing.show();
    for (const char *tag : {"status", "pairing", "sharing", "debug"}) {
        window.select(tag);
        for (QWidget *control : window.findChildren<QWidget *>()) {
            const bool input = qobject_cast<QAbstractButton *>(control) || qobject_cast<QComboBox *>(control) ||
                               qobject_cast<QLineEdit *>(control) || qobject_cast<QAbstractScrollArea *>(control);
            if (!control->isVisible() || !input)
                continue;
            EXPECT_TRUE(control->focusPolicy() & Qt::TabFocus) << tag << " " << control->metaObject()->className();
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control);
            ASSERT_TRUE(accessible);
            EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty()) << tag << " " << control->metaObject()->className();
        }
    }

    window.select("pairing");
    QWidget *page = window.page();
    auto *pin = page->findChild<QLineEdit *>();
    auto *pair = withText(page, "Pair");
    const auto unpairShown = [&] { return withText(page, "Unpair and delete relay data")->isVisible(); };
    EXPECT_EQ(shown(page).size(), 4u); // title, instruction, Pair, the privacy note; no status line

    // "Pair" is enabled exactly when six digits are typed, blanks and dashes aside.
    const std::pair<const char *, bool> typed[]{{"12345", false}, {"12-34 56", true}, {"1234567", false}, {"", false}};
    for (const auto &[keys, enabled] : typed) {
        pin->selectAll();
        QTest::keyClick(pin, Qt::Key_Backspace);
        QTest::keyClicks(pin, keys);
        EXPECT_EQ(model.pairingPIN(), keys);
        EXPECT_EQ(pair->isEnabled(), enabled) << keys;
    }

    // A real PIN from the relay, typed and sent with Return.
    QTest::keyClicks(pin, relay.issuePin());
    QTest::keyClick(pin, Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return model.paired(); }, 20s));
    const auto first = model.relay().credentials();
    ASSERT_TRUE(first);
    EXPECT_TRUE(unpairShown());
    EXPECT_THAT(shown(page), Contains("Paired. Your glasses will update in a moment."));
    EXPECT_TRUE(waitUntil([&] { return model.relayConnected(); }));
    EXPECT_TRUE(showsIcon(menu, MenuContent::connectedIcon()));
    // The pairing ends with the first snapshot the relay accepted.
    EXPECT_TRUE(waitUntil([&] { return model.eventCount() >= 1; }));

    QTest::mouseClick(withText(page, "Unpair and delete relay data"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !model.paired(); }, 20s));
    EXPECT_FALSE(unpairShown());
    EXPECT_TRUE(pin->text().isEmpty());
    EXPECT_THAT(shown(page), Contains("Pairing removed and relay data deleted."));
    EXPECT_TRUE(showsIcon(menu, MenuContent::disconnectedIcon()));
    // The relay ended the channel: its publisher token opens nothing any more.
    EXPECT_FALSE(TestSocket().authenticate(socketUrl(relay.baseUrl(), first->channelId.c_str()), "publisher",
                                           first->publisherToken.c_str()));
    // Paired again, with a channel of its own.
    QTest::keyClicks(pin, relay.issuePin());
    QTest::mouseClick(pair, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return model.paired(); }, 20s));
    const auto second = model.relay().credentials();
    ASSERT_TRUE(second && second->channelId != first->channelId);
    EXPECT_EQ(decodeText<PairingCredentials>(*KeychainStore::load(CompanionModel::credentialAccount)), second);

    // On only while both fields are; switching it sets both.
    auto *combined = withText<QCheckBox>(&sharing, "Activity status and elapsed time");
    EXPECT_FALSE(combined->isChecked());
    QTest::mouseClick(combined, Qt::LeftButton);
    EXPECT_TRUE(combined->isChecked());
    EXPECT_TRUE(SettingsStore::load()->activityStatus && SettingsStore::load()->elapsedTime);

    QTest::keyClick(withText<QCheckBox>(&sharing, "Thread titles"), Qt::Key_Space);
    auto *level = sharing.findChild<QComboBox *>();
    EXPECT_EQ(level->currentText(), "Messages only");
    QTest::keyClick(level, Qt::Key_Up);
    EXPECT_EQ(level->currentText(), "Off");
    SharingSettings chosen;
    chosen.threadTitles = false;
    chosen.transcript = TranscriptLevel::none;
    EXPECT_EQ(SettingsStore::load(), chosen);
    EXPECT_THAT(shown(&sharing), testing::IsSupersetOf({"Shared display data", "Transcript", "This computer",
                                                         "Start at login", "Native completion notifications"}));

    // The report names the channel by its start, never a token.
    window.select("debug");
    QTest::mouseClick(withText(window.page(), "Copy report"), Qt::LeftButton);
    const QString report = QApplication::clipboard()->text();
    EXPECT_THAT(report.split('\n'), Contains(QString::fromStdString("Pairing: " + second->channelId.substr(0, 8)) + QChar(0x2026)));
    EXPECT_FALSE(report.contains(QString::fromStdString(second->publisherToken)));

    // No confirmation: the click clears, with no relay to tell, and the sharing page shows the
    // defaults at once.
    relay.stop();
    QTest::mouseClick(withText(window.page(), "Clear local data"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return model.settings() == SharingSettings{}; }));
    EXPECT_TRUE(withText<QCheckBox>(&sharing, "Thread titles")->isChecked());
    EXPECT_EQ(level->currentText(), "Messages only");
    EXPECT_EQ(SettingsStore::load(), SharingSettings{});
    ASSERT_TRUE(waitUntil([&] { return !model.paired(); }));
    EXPECT_FALSE(KeychainStore::load(CompanionModel::credentialAccount));
    EXPECT_TRUE(model.pairingMessage().startsWith("Pairing removed from this computer")) << model.pairingMessage().toStdString();
    qunsetenv("ORVANE_RELAY_URL");

    // Gone while a tray item can bring it back.
    window.setHidesOnClose(true);
    EXPECT_FALSE(window.close());
    EXPECT_FALSE(window.isVisible());
}

} // namespace
} // namespace orvane::test
