#include "relay/pin_book.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QSet>

namespace orvane {
namespace {

class PinBookTest : public testing::Test {
protected:
    QDateTime now = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC);
    PinBook book{PinBook::Limits{std::chrono::seconds(300), 3, std::chrono::seconds(60)},
                 [this] { return now; }};
};

TEST_F(PinBookTest, IssuesSixDistinctDigitsForFiveMinutes)
{
    const QRegularExpression sixDigits(QStringLiteral("^[0-9]{6}$"));
    QSet<QString> pins;
    for (int i = 0; i < 50; ++i) {
        const auto issued = book.issue();
        EXPECT_TRUE(sixDigits.match(issued.pin).hasMatch()) << issued.pin.toStdString();
        EXPECT_EQ(issued.expiresAt, now.addSecs(300));
        pins.insert(issued.pin);
    }
    EXPECT_EQ(pins.size(), 50);
}

TEST_F(PinBookTest, APinIsRedeemedOnceAndItsPairingCollectedOnce)
{
    const auto issued = book.issue();
    EXPECT_EQ(book.take(issued.pairingId).status, PinBook::Status::pending);

    const auto first = book.redeem(issued.pin, "10.0.0.1");
    ASSERT_EQ(first.outcome, PinBook::Outcome::accepted);
    EXPECT_EQ(first.pairingId, issued.pairingId);
    EXPECT_EQ(book.redeem(issued.pin, "10.0.0.1").outcome, PinBook::Outcome::unknown);

    EXPECT_EQ(book.take(issued.pairingId).status, PinBook::Status::pending);
    book.complete(issued.pairingId, {"channel", "subscriber-token"});
    const auto collected = book.take(issued.pairingId);
    ASSERT_EQ(collected.status, PinBook::Status::completed);
    EXPECT_EQ(collected.completion->subscriberToken, QStringLiteral("subscriber-token"));
    EXPECT_EQ(book.take(issued.pairingId).status, PinBook::Status::unknown);
}

TEST_F(PinBookTest, APinExpiresAfterFiveMinutes)
{
    const auto early = book.issue();
    const auto late = book.issue();
    now = now.addSecs(299);
    EXPECT_EQ(book.redeem(early.pin, "10.0.0.1").outcome, PinBook::Outcome::accepted);
    now = now.addSecs(1);
    EXPECT_EQ(book.redeem(late.pin, "10.0.0.1").outcome, PinBook::Outcome::unknown);
    EXPECT_EQ(book.take(late.pairingId).status, PinBook::Status::unknown);
}

TEST(PinBookDigits, MapsEveryScriptsDecimalDigitsToAscii)
{
    const struct {
        const char *typed;
        const char *expected;
    } rows[] = {
        {"123456", "123456"},
        {"\u0661\u0662\u0663\u0664\u0665\u0666", "123456"},       // Arabic-Indic
        {"\u06F4\u06F5\u06F6\u06F7\u06F8\u06F9", "456789"},       // Extended Arabic-Indic (Persian)
        {"\u0967\u0968\u0969-\uFF14\uFF15\uFF16", "123-456"},     // Devanagari, full-width
        {"12\u00B3456", "12\u00B3456"},                           // a superscript is no decimal digit
    };
    for (const auto &row : rows)
        EXPECT_EQ(PinBook::asciiDigits(QString::fromUtf8(row.typed)).toStdString(), row.expected) << row.typed;
}

TEST_F(PinBookTest, ArabicIndicDigitsRedeemTheSamePin)
{
    const auto issued = book.issue();
    QString arabic;
    for (const QChar digit : issued.pin)
        arabic.append(QChar(0x0660 + digit.digitValue()));
    EXPECT_EQ(book.redeem(arabic, "10.0.0.1").outcome, PinBook::Outcome::accepted);
}

TEST_F(PinBookTest, FailedAttemptsAreLimitedPerAddressWithinTheWindow)
{
    const auto issued = book.issue();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(book.redeem(QStringLiteral("wrong"), "10.0.0.1").outcome, PinBook::Outcome::unknown);
    // Even the right PIN is refused once the address is limited, or guessing would go on.
    EXPECT_EQ(book.redeem(issued.pin, "10.0.0.1").outcome, PinBook::Outcome::rateLimited);
    now = now.addSecs(30);
    EXPECT_EQ(book.redeem(issued.pin, "10.0.0.1").outcome, PinBook::Outcome::rateLimited);
    now = now.addSecs(31);
    EXPECT_EQ(book.redeem(issued.pin, "10.0.0.1").outcome, PinBook::Outcome::accepted);
}

TEST_F(PinBookTest, OneAddressesFailuresDoNotLimitAnother)
{
    const auto issued = book.issue();
    for (int i = 0; i < 3; ++i)
        book.redeem(QStringLiteral("wrong"), "10.0.0.1");
    EXPECT_EQ(book.redeem(issued.pin, "10.0.0.2").outcome, PinBook::Outcome::accepted);
}

} // namespace
} // namespace orvane
