// The publisher frames that tell the glasses whether a companion is on their channel.
#include "relay_test_support.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

namespace orvane::test {
namespace {

TEST(RelayGlasses, SubscribersHearWhenTheFirstPublisherComesAndTheLastGoes)
{
    LocalRelay relay;
    const auto pairing = relay.pair();
    const QString publisherToken = pairing.credentials.publisherToken.c_str();
    const auto type = [](const std::optional<QByteArray> &bytes) {
        const QJsonObject object = QJsonDocument::fromJson(bytes.value_or("")).object();
        return object.value("type").toString() + (object.contains("online") ? object.value("online").toBool() ? " on" : " off" : "");
    };
    TestSocket subscriber;
    ASSERT_TRUE(subscriber.authenticate(relay.socketUrl(pairing), "subscriber", pairing.subscriberToken));
    EXPECT_EQ(type(subscriber.next()), "publisher off");

    auto first = std::make_unique<TestSocket>();
    ASSERT_TRUE(first->authenticate(relay.socketUrl(pairing), "publisher", publisherToken));
    EXPECT_EQ(type(subscriber.next()), "publisher on");
    auto second = std::make_unique<TestSocket>();
    ASSERT_TRUE(second->authenticate(relay.socketUrl(pairing), "publisher", publisherToken));
    first.reset();
    // A snapshot as a marker: no frame came before it, as a publisher is still there.
    second->send(R"({"type":"snapshot","snapshot":{"sequence":1}})");
    EXPECT_EQ(type(subscriber.next()), "snapshot");
    second.reset();
    EXPECT_EQ(type(subscriber.next()), "publisher off");

    TestSocket late;
    ASSERT_TRUE(late.authenticate(relay.socketUrl(pairing), "subscriber", pairing.subscriberToken));
    EXPECT_EQ(type(late.next()), "publisher off");
    EXPECT_EQ(type(late.next()), "snapshot") << "the last snapshot follows";
}

} // namespace
} // namespace orvane::test
