#include "ui/sharing_view.h"

#include "companion/companion_model.h"
#include "ui/page_style.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

namespace orvane {
namespace {

QString levelLabel(TranscriptLevel level)
{
    switch (level) {
    case TranscriptLevel::none:
        return QStringLiteral("Off");
    case TranscriptLevel::messages:
        return QStringLiteral("Messages only");
    case TranscriptLevel::activity:
        return QStringLiteral("Messages and activity");
    case TranscriptLevel::full:
        return QStringLiteral("Full available transcript");
    }
    return {};
}

QGroupBox *section(const QString &title, QWidget *parent)
{
    auto *box = new QGroupBox(title, parent);
    new QVBoxLayout(box);
    return box;
}

} // namespace

SharingView::SharingView(CompanionModel &model, QWidget *parent) : QWidget(parent), model_(model), level_(new QComboBox)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);

    const auto plain = [this](const QString &label, bool SharingSettings::*field, QWidget *box) {
        addSwitch(label, [field](const SharingSettings &settings) { return settings.*field; },
                  [this, field](bool on) { change([field, on](SharingSettings &settings) { settings.*field = on; }); },
                  box);
    };

    auto *shared = section(QStringLiteral("Shared display data"), this);
    plain(QStringLiteral("Thread titles"), &SharingSettings::threadTitles, shared);
    plain(QStringLiteral("Safe project nickname"), &SharingSettings::projectNickname, shared);
    // One switch for two fields: on only when both are, and switching it assigns them one after
    // the other, each stored and applied.
    addSwitch(
        QStringLiteral("Activity status and elapsed time"),
        [](const SharingSettings &settings) { return settings.activityStatus && settings.elapsedTime; },
        [this](bool on) {
            change([on](SharingSettings &settings) { settings.activityStatus = on; });
            change([on](SharingSettings &settings) { settings.elapsedTime = on; });
        },
        shared);
    plain(QStringLiteral("Final summary"), &SharingSettings::finalSummary, shared);
    plain(QStringLiteral("Model and reasoning effort label"), &SharingSettings::modelAndReasoning, shared);
    plain(QStringLiteral("Git counts and branch"), &SharingSettings::gitSummary, shared);
    plain(QStringLiteral("Test and build status"), &SharingSettings::checkStatus, shared);
    plain(QStringLiteral("Usage metrics"), &SharingSettings::usageMetrics, shared);
    column->addWidget(shared);

    auto *transcript = section(QStringLiteral("Transcript"), this);
    auto *picker = new QFormLayout;
    for (const TranscriptLevel level : allTranscriptLevels())
        level_->addItem(levelLabel(level), QString::fromUtf8(rawValue(level).data(), qsizetype(rawValue(level).size())));
    level_->setAccessibleName(QStringLiteral("Sharing level"));
    level_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    picker->addRow(QStringLiteral("Sharing level"), level_);
    static_cast<QVBoxLayout *>(transcript->layout())->addLayout(picker);
    auto *note = PageStyle::plainLabel(
        QStringLiteral("Prompts can contain filenames, code, secrets, and private information. Common secret patterns "
                       "are redacted locally, and hidden reasoning is never shared."),
        transcript);
    note->setFont(PageStyle::captionFont(font()));
    PageStyle::makeSecondary(note);
    transcript->layout()->addWidget(note);
    column->addWidget(transcript);

    auto *computer = section(QStringLiteral("This computer"), this);
    plain(QStringLiteral("Start at login"), &SharingSettings::startAtLogin, computer);
    plain(QStringLiteral("Native completion notifications"), &SharingSettings::nativeNotifications, computer);
    column->addWidget(computer);
    column->addStretch();

    connect(level_, &QComboBox::activated, this, [this](int index) {
        const auto level = allTranscriptLevels()[std::size_t(index)];
        change([level](SharingSettings &settings) { settings.transcript = level; });
    });
    connect(&model_, &CompanionModel::settingsChanged, this, &SharingView::showSettings);
    showSettings();
}

void SharingView::addSwitch(const QString &label, std::function<bool(const SharingSettings &)> read,
                            std::function<void(bool)> write, QWidget *section)
{
    auto *box = new QCheckBox(label, section);
    section->layout()->addWidget(box);
    // Only the user's clicks write; showing the model's value must not.
    connect(box, &QCheckBox::clicked, this, std::move(write));
    switches_.push_back({box, std::move(read)});
}

void SharingView::change(const std::function<void(SharingSettings &)> &edit)
{
    SharingSettings settings = model_.settings();
    edit(settings);
    model_.setSettings(settings);
}

void SharingView::showSettings()
{
    const SharingSettings &settings = model_.settings();
    for (const auto &entry : switches_)
        entry.box->setChecked(entry.read(settings));
    const auto levels = allTranscriptLevels();
    level_->setCurrentIndex(int(std::find(levels.begin(), levels.end(), settings.transcript) - levels.begin()));
}

} // namespace orvane
