// The publisher's pure parts: relay addresses, reconnect back-off and the device name.
#include "relay/device_name.h"
#include "relay/reconnect_backoff.h"
#include "relay/relay_address.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(RelayAddress, FormsTheSocketAddressFromTheBaseUrl)
{
    const QString channel = QStringLiteral("5C1D6A0E-3B7F-4E2A-9C4D-8F1E2A3B4C5D");
    const struct {
        const char *base;
        const char *expected; // empty: no address can be formed
    } rows[] = {
        {"http://127.0.0.1:8787", "ws://127.0.0.1:8787/v1/channels/5C1D6A0E-3B7F-4E2A-9C4D-8F1E2A3B4C5D/connect"},
        {"https://relay.example.com", "wss://relay.example.com/v1/channels/5C1D6A0E-3B7F-4E2A-9C4D-8F1E2A3B4C5D/connect"},
        {"https://relay.example.com:8443/base", "wss://relay.example.com:8443/base/v1/channels/5C1D6A0E-3B7F-4E2A-9C4D-8F1E2A3B4C5D/connect"},
        {"http://relay.example.com/a/b/", "ws://relay.example.com/a/b/v1/channels/5C1D6A0E-3B7F-4E2A-9C4D-8F1E2A3B4C5D/connect"},
        {"HTTP://relay.example.com", "ws://relay.example.com/v1/channels/5C1D6A0E-3B7F-4E2A-9C4D-8F1E2A3B4C5D/connect"},
        {"ftp://relay.example.com", "wss://relay.example.com/v1/channels/5C1D6A0E-3B7F-4E2A-9C4D-8F1E2A3B4C5D/connect"},
        {"//relay.example.com", "wss://relay.example.com/v1/channels/5C1D6A0E-3B7F-4E2A-9C4D-8F1E2A3B4C5D/connect"},
        {"http://relay.example.com?x=1#f", "ws://relay.example.com/v1/channels/5C1D6A0E-3B7F-4E2A-9C4D-8F1E2A3B4C5D/connect"},
        {"relay.example.com", ""},
        {"", ""},
        {"http://", ""},
    };
    for (const auto &row : rows) {
        const auto address = relaySocketAddress(QUrl(QString::fromUtf8(row.base)), channel);
        EXPECT_EQ(address ? address->toString().toStdString() : std::string(), row.expected) << row.base;
    }
}

TEST(RelayAddress, KeepsTheBasePathForThePairingCalls)
{
    const QUrl base(QStringLiteral("https://relay.example.com:9000/relay"));
    EXPECT_EQ(relayAddress(base, QStringLiteral("/v1/pairings/complete"))->toString(),
              QStringLiteral("https://relay.example.com:9000/relay/v1/pairings/complete"));
    // A stored channel identifier cannot smuggle a query into the address.
    EXPECT_EQ(relayAddress(base, QStringLiteral("/v1/channels/a?b#c/revoke"))->path(),
              QStringLiteral("/relay/v1/channels/a?b#c/revoke"));
    EXPECT_TRUE(relayAddress(base, QStringLiteral("/v1/channels/a?b#c/revoke"))->query().isEmpty());
}

TEST(ReconnectBackoff, DoublesFromTwoSecondsUpToThirtyWithinTheJitter)
{
    const int expectedSeconds[] = {2, 4, 8, 16, 30, 30, 30};
    for (const double draw : {0.0, 0.5, 1.0}) {
        const ReconnectBackoff backoff([draw] { return draw; });
        for (int attempt = 1; attempt <= 7; ++attempt) {
            const double factor = 0.75 + 0.5 * draw;
            EXPECT_EQ(backoff.delay(attempt).count(), std::llround(expectedSeconds[attempt - 1] * factor * 1000))
                << "attempt " << attempt << " draw " << draw;
        }
    }
}

TEST(ReconnectBackoff, TheSystemSourceStaysInsideTheJitter)
{
    const ReconnectBackoff backoff;
    for (int i = 0; i < 1000; ++i) {
        const auto delay = backoff.delay(5).count();
        ASSERT_GE(delay, 22'500);
        ASSERT_LE(delay, 37'500);
    }
}

TEST(DeviceName, PrefersThePrettyNameThenTheHostName)
{
    const struct {
        const char *machineInfo;
        const char *hostName;
        const char *expected;
    } rows[] = {
        {"PRETTY_HOSTNAME=\"Ada's laptop\"\nCHASSIS=laptop\n", "ada-x1", "Ada's laptop"},
        {"PRETTY_HOSTNAME='Ada \"home\"'\n", "ada-x1", "Ada \"home\""},
        {"PRETTY_HOSTNAME=Workbench\\ 2\n", "ada-x1", "Workbench 2"},
        {"CHASSIS=desktop\n", "ada-x1", "ada-x1"},
        {"PRETTY_HOSTNAME=\n", "ada-x1", "ada-x1"},
        {"", "", "Mac companion"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(DeviceName::choose(row.machineInfo, row.hostName), row.expected) << row.machineInfo;
}

} // namespace
} // namespace orvane
