// completePairing(pin:) and revoke() against orvane-relay, and against a small HTTP responder
// for the answers no relay of ours gives.
#include "publisher_events.h"
#include "relay_test_support.h"

#include <await_task.h>
#include <gtest/gtest.h>

#include <QAbstractHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpServer>

namespace orvane::test {
namespace {

class Responder : public QAbstractHttpServer {
public:
    struct Seen {
        QHttpServerRequest::Method method;
        QString path;
        QByteArray contentType;
        QByteArray authorization;
        QByteArray body;
    };

    int status = 200;
    QByteArray body;
    bool silent = false;
    std::vector<Seen> seen;

    Responder()
    {
        auto *server = new QTcpServer(this);
        server->listen(QHostAddress::LocalHost, 0);
        bind(server);
        port_ = server->serverPort();
    }

    QUrl baseUrl(const QString &path = {}) const { return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path)); }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override
    {
        seen.push_back({request.method(), request.url().path(), request.value("content-type"),
                        request.value("authorization"), request.body()});
        if (!silent)
            makeResponder(request, socket).write(body, {{"Content-Type", "application/json"}},
                                                 static_cast<QHttpServerResponder::StatusCode>(status));
        return true;
    }
    void missingHandler(const QHttpServerRequest &, QTcpSocket *) override {}

private:
    quint16 port_ = 0;
};

struct Outcome {
    std::optional<PairingCredentials> credentials;
    std::optional<RelayError::Kind> kind;
    std::string text;
};

Outcome pairWith(RelayPublisher &publisher, const QString &pin)
{
    try {
        return {awaitTask(publisher.completePairing(pin)), std::nullopt, {}};
    } catch (const RelayError &error) {
        return {std::nullopt, error.kind(), error.what()};
    }
}

const std::string token32(32, 'k');
const std::string lowerUuid = "5c1d6a0e-3b7f-4e2a-9c4d-8f1e2a3b4c5d";
const std::string fallback = "Pairing failed. Check the PIN and try again.";
const std::string unsupported = "The relay returned an unsupported response.";

TEST(PairingCalls, ReadsEveryKindOfAnswer)
{
    using Kind = RelayError::Kind;
    const struct {
        int status;
        std::string body;
        std::optional<Kind> kind; // nothing: paired
        std::string text;         // the error's text, or the channel received
    } rows[] = {
        {401, R"({"message":"That PIN was already used."})", Kind::pairingRejected, "That PIN was already used."},
        {500, "", Kind::pairingRejected, fallback},
        {400, R"({"message":5})", Kind::pairingRejected, fallback},
        {403, "<html>Forbidden</html>", Kind::pairingRejected, fallback},
        {404, R"(["message"])", Kind::pairingRejected, fallback},
        {200, R"({"channelId":")" + lowerUuid + R"(","publisherToken":")" + token32 + R"("})", std::nullopt, lowerUuid},
        {201, R"({"channelId":"5C1D6A0E-3B7F-4E2A-9C4D-8F1E2A3B4C5D","publisherToken":")" + token32 + R"(","extra":1})",
         std::nullopt, "5C1D6A0E-3B7F-4E2A-9C4D-8F1E2A3B4C5D"},
        {200, R"({"channelId":")" + lowerUuid + R"(","publisherToken":")" + token32.substr(1) + R"("})", Kind::invalidResponse, unsupported},
        {200, R"({"channelId":"not-a-uuid","publisherToken":")" + token32 + R"("})", Kind::invalidResponse, unsupported},
        {200, R"({"channelId":"{)" + lowerUuid + R"(}","publisherToken":")" + token32 + R"("})", Kind::invalidResponse, unsupported},
        {200, R"({"channelId":5,"publisherToken":")" + token32 + R"("})", Kind::invalidResponse, unsupported},
        {200, R"({"channelId":")" + lowerUuid + R"("})", Kind::invalidResponse, unsupported},
        {200, R"([1,2])", Kind::invalidResponse, unsupported},
        {200, "", Kind::unreadableReply, ""},
        {200, "{\"channelId\":", Kind::unreadableReply, ""},
    };
    Responder responder;
    RelayPublisher publisher(responder.baseUrl(), quickTiming());
    for (const auto &row : rows) {
        responder.status = row.status;
        responder.body = QByteArray::fromStdString(row.body);
        const Outcome outcome = pairWith(publisher, QStringLiteral("123456"));
        EXPECT_EQ(outcome.kind, row.kind) << row.status << " " << row.body;
        if (!row.kind) {
            ASSERT_TRUE(outcome.credentials) << row.body;
            EXPECT_EQ(outcome.credentials->channelId, row.text);
            EXPECT_EQ(outcome.credentials->publisherToken, token32);
        } else if (!row.text.empty()) {
            EXPECT_EQ(outcome.text, row.text) << row.status << " " << row.body;
        } else {
            EXPECT_TRUE(outcome.text.starts_with("The relay's answer is not valid JSON: ")) << outcome.text;
        }
    }
}

TEST(PairingCalls, PostsTheDigitsAsJsonBehindTheBasePath)
{
    Responder responder;
    responder.status = 404;
    RelayPublisher publisher(responder.baseUrl(QStringLiteral("/relay")), quickTiming());
    const struct {
        QString typed;
        QByteArray sent;
    } rows[] = {
        {QStringLiteral(" 12 34-56 "), R"({"pin":"123456"})"},
        {QString::fromUtf8("\u0661\u0662\u0663 \u0664\u0665\u0666"), "{\"pin\":\"\u0661\u0662\u0663\u0664\u0665\u0666\"}"},
        {QStringLiteral("abc"), R"({"pin":""})"},
    };
    for (const auto &row : rows) {
        pairWith(publisher, row.typed);
        ASSERT_FALSE(responder.seen.empty());
        const auto &seen = responder.seen.back();
        EXPECT_EQ(seen.method, QHttpServerRequest::Method::Post);
        EXPECT_EQ(seen.path, QStringLiteral("/relay/v1/pairings/complete"));
        EXPECT_EQ(seen.contentType, "application/json");
        EXPECT_EQ(seen.body, row.sent);
    }
}

TEST(PairingCalls, ReportsNetworkFailuresTimeOutsAndBadAddresses)
{
    {
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost, 0);
        const quint16 port = closed.serverPort();
        closed.close();
        RelayPublisher publisher(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)), quickTiming());
        const Outcome outcome = pairWith(publisher, QStringLiteral("123456"));
        EXPECT_EQ(outcome.kind, RelayError::Kind::transport);
        EXPECT_FALSE(outcome.text.empty());
    }
    {
        Responder responder;
        responder.silent = true;
        auto timing = quickTiming();
        timing.requestTimeout = std::chrono::milliseconds(200);
        RelayPublisher publisher(responder.baseUrl(), timing);
        const Outcome outcome = pairWith(publisher, QStringLiteral("123456"));
        EXPECT_EQ(outcome.kind, RelayError::Kind::transport);
        EXPECT_EQ(outcome.text, "The relay did not answer in time.");
    }
    {
        RelayPublisher publisher(QUrl(QStringLiteral("not a url")), quickTiming());
        const Outcome outcome = pairWith(publisher, QStringLiteral("123456"));
        EXPECT_EQ(outcome.kind, RelayError::Kind::invalidURL);
        EXPECT_EQ(outcome.text, "The relay URL is invalid.");
    }
}

TEST(PairingCalls, PairsWithOrvaneRelay)
{
    LocalRelay relay({std::chrono::seconds(300), 3, std::chrono::seconds(60)});
    RelayPublisher publisher(relay.baseUrl(), quickTiming());

    const QString pin = relay.issuePin();
    const Outcome paired = pairWith(publisher, pin.left(3) + QStringLiteral(" - ") + pin.mid(3));
    ASSERT_TRUE(paired.credentials) << paired.text;
    EXPECT_EQ(paired.credentials->publisherToken.size(), 43u);

    QString arabic;
    for (const QChar digit : relay.issuePin())
        arabic.append(QChar(0x0660 + digit.digitValue()));
    EXPECT_TRUE(pairWith(publisher, arabic).credentials);

    const Outcome reused = pairWith(publisher, pin);
    EXPECT_EQ(reused.kind, RelayError::Kind::pairingRejected);
    EXPECT_EQ(reused.text, "This PIN is unknown or has expired.");
    pairWith(publisher, QStringLiteral("000000"));
    pairWith(publisher, QStringLiteral("000001"));
    const Outcome limited = pairWith(publisher, relay.issuePin());
    EXPECT_EQ(limited.kind, RelayError::Kind::pairingRejected);
    EXPECT_EQ(limited.text, "Too many wrong PINs. Wait a minute and try again.");
}

TEST(RevokeCall, PostsTheBearerTokenAndDisconnectsWhateverTheAnswer)
{
    Responder responder;
    responder.status = 500;
    RelayPublisher publisher(responder.baseUrl(QStringLiteral("/relay")), quickTiming());
    PublisherEvents events(publisher);

    awaitTask(publisher.revoke());
    EXPECT_TRUE(responder.seen.empty()) << "nothing to revoke without credentials";
    EXPECT_TRUE(events.connections.empty());

    const PairingCredentials credentials{lowerUuid, token32};
    publisher.connect(credentials);
    awaitTask(publisher.revoke());
    // The socket's upgrade request comes first.
    ASSERT_EQ(responder.seen.size(), 2u);
    const auto &revoke = responder.seen.back();
    EXPECT_EQ(revoke.method, QHttpServerRequest::Method::Post);
    EXPECT_EQ(revoke.path, QString::fromStdString("/relay/v1/channels/" + lowerUuid + "/revoke"));
    EXPECT_EQ(revoke.authorization, QByteArray::fromStdString("Bearer " + token32));
    EXPECT_TRUE(revoke.body.isEmpty());
    EXPECT_FALSE(publisher.shouldReconnect());
    EXPECT_FALSE(publisher.credentials());
    EXPECT_FALSE(events.connections.back().first);
}

TEST(RevokeCall, DisconnectsEvenWhenTheRelayCannotBeReached)
{
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const quint16 port = closed.serverPort();
    closed.close();
    RelayPublisher publisher(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)), quickTiming());
    publisher.connect({lowerUuid, token32});
    awaitTask(publisher.revoke());
    EXPECT_FALSE(publisher.shouldReconnect());
    EXPECT_FALSE(publisher.credentials());
}

} // namespace
} // namespace orvane::test
