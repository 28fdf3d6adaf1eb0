#include "ui/pairing_view.h"

#include "companion/companion_model.h"
#include "companion/pairing_input.h"
#include "ui/icons.h"
#include "ui/page_style.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace orvane {

PairingView::PairingView(CompanionModel &model, QWidget *parent)
    : QWidget(parent),
      model_(model),
      pin_(new QLineEdit(this)),
      pair_(new QPushButton(QStringLiteral("Pair"), this)),
      unpair_(new QPushButton(QStringLiteral("Unpair and delete relay data"), this)),
      message_(PageStyle::plainLabel({}, this))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);

    auto *title = PageStyle::plainLabel(QStringLiteral("Pair your glasses"), this);
    title->setFont(PageStyle::largeTitleFont(font()));
    column->addWidget(title);

    auto *instruction = PageStyle::plainLabel(
        QStringLiteral("Open the glasses app, then enter its six-digit PIN here. The PIN expires after five "
                       "minutes and is used only once."),
        this);
    PageStyle::makeSecondary(instruction);
    column->addWidget(instruction);

    QFont pinFont = font();
    pinFont.setPointSizeF(28);
    pinFont.setWeight(QFont::DemiBold);
    pin_->setFont(pinFont);
    pin_->setPlaceholderText(QStringLiteral("123456"));
    pin_->setMaximumWidth(220);
    pin_->setAccessibleName(QStringLiteral("PIN"));
    pin_->setInputMethodHints(Qt::ImhDigitsOnly);
    pin_->setMaxLength(64);
    column->addWidget(pin_);

    auto *buttons = new QHBoxLayout;
    pair_->setDefault(true);
    PageStyle::makeDestructive(unpair_);
    buttons->addWidget(pair_);
    buttons->addWidget(unpair_);
    buttons->addStretch();
    column->addLayout(buttons);

    PageStyle::makeSecondary(message_);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(message_);

    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    column->addWidget(divider);

    auto *note = new QHBoxLayout;
    auto *shield = new QLabel(this);
    const int side = style()->pixelMetric(QStyle::PM_ToolBarIconSize, nullptr, this);
    shield->setPixmap(Icons::bundled("privacy").pixmap(QSize(side, side), devicePixelRatioF()));
    note->addWidget(shield, 0, Qt::AlignTop);
    note->addWidget(PageStyle::plainLabel(
                        QStringLiteral("The companion never reads or uploads passwords, API keys, ChatGPT cookies, "
                                       "Codex authentication files, source files, or environment variables."),
                        this),
                    1);
    column->addLayout(note);
    column->addStretch();

    // Every keystroke goes to the model, unfiltered; the model's value is what the page shows.
    connect(pin_, &QLineEdit::textEdited, &model_, &CompanionModel::setPairingPIN);
    connect(pin_, &QLineEdit::returnPressed, this, &PairingView::pair);
    connect(pair_, &QPushButton::clicked, this, &PairingView::pair);
    connect(unpair_, &QPushButton::clicked, this, [this] { QCoro::connect(model_.unpair(), this, [] {}); });
    connect(&model_, &CompanionModel::pairingPINChanged, this, &PairingView::showPin);
    connect(&model_, &CompanionModel::pairedChanged, this, &PairingView::showPairing);
    connect(&model_, &CompanionModel::pairingMessageChanged, this, &PairingView::showMessage);
    showPin();
    showPairing();
    showMessage();
}

void PairingView::showPin()
{
    if (pin_->text() != model_.pairingPIN())
        pin_->setText(model_.pairingPIN());
    // Enabled exactly when pair() would ask the relay.
    pair_->setEnabled(PairingInput::pin(model_.pairingPIN().toStdString()).has_value());
}

void PairingView::showPairing()
{
    unpair_->setVisible(model_.paired());
}

void PairingView::showMessage()
{
    message_->setText(model_.pairingMessage());
    message_->setVisible(!model_.pairingMessage().isEmpty());
}

void PairingView::pair()
{
    // A second press starts a second pairing, as the button stays enabled while one waits.
    if (pair_->isEnabled())
        QCoro::connect(model_.pair(), this, [] {});
}

} // namespace orvane
