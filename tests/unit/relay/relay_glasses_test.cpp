// What orvane-relay offers the glasses page: its files, self-contained so the strict policy
// lets them run, and the publisher frames that tell subscribers whether the companion is there.
#include "relay_test_support.h"

#include "relay/glasses_page.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>

namespace orvane::test {
namespace {

TEST(RelayGlasses, ServesExactlyThePagesOwnFilesAndNothingTheyWouldFetchIsMissing)
{
    const auto page = GlassesPage::find("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->contentType, "text/html; charset=utf-8");
    // Every file the page names is served, and nothing it names lies elsewhere.
    static const QRegularExpression reference(R"re((?:src|href)="([^"]*)")re");
    int references = 0;
    for (const auto &match : reference.globalMatch(QString::fromUtf8(page->body))) {
        ++references;
        const auto file = GlassesPage::find(match.captured(1));
        EXPECT_TRUE(file && !file->body.isEmpty()) << match.captured(1).toStdString();
    }
    EXPECT_EQ(references, 3);
    // The policy forbids inline script and style, and data reach the page only as text.
    EXPECT_FALSE(page->body.contains("<script>") || page->body.contains("style="));
    EXPECT_FALSE(GlassesPage::find("/glasses.js")->body.contains("innerHTML"));
    for (const char *path : {"/index.html", "/glasses.js/", "//glasses.js", "/../glasses.js", "", "/v1/pairings"})
        EXPECT_FALSE(GlassesPage::find(path)) << path;

    LocalRelay relay;
    const HttpAnswer served = httpRequest("GET", relay.url("/"));
    EXPECT_EQ(served.status, 200);
    EXPECT_EQ(served.body, page->body);
    EXPECT_EQ(httpRequest("POST", relay.url("/")).status, 404);
    const auto policy = std::find_if(GlassesPage::securityHeaders().begin(), GlassesPage::securityHeaders().end(),
                                     [](const auto &header) { return header.first == "Content-Security-Policy"; });
    ASSERT_NE(policy, GlassesPage::securityHeaders().end());
    EXPECT_TRUE(policy->second.startsWith("default-src 'none';"));
}

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
