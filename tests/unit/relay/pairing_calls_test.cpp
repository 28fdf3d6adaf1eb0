// completePairing(pin:) and revoke() against orvane-relay, and against a small HTTP responder
// for the answers no relay of ours gives.
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
    int status = 200;
    QByteArray body;
    bool silent = false;
    std::vector<std::tuple<QHttpServerRequest::Method, QString, QByteArray, QByteArray, QByteArray>> seen;

    Responder()
    {
        tcp_->listen(QHostAddress::LocalHost, 0);
        bind(tcp_);
    }
    QUrl url(const QString &path = "/relay") const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(tcp_->serverPort()) + path); }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override
    {
        seen.emplace_back(request.method(), request.url().path(), request.value("content-type"), request.value("authorization"), request.body());
        if (!silent)
            makeResponder(request, socket).write(body, {{"Content-Type", "application/json"}}, QHttpServerResponder::StatusCode(status));
        return true;
    }
    void missingHandler(const QHttpServerRequest &, QTcpSocket *) override {}

private:
    QTcpServer *tcp_ = new QTcpServer(this);
};

// The kind and text of the error, or the channel and token received.
std::pair<std::optional<RelayError::Kind>, std::string> pairWith(RelayPublisher &publisher, const QString &pin)
{
    try {
        const PairingCredentials credentials = awaitTask(publisher.completePairing(pin));
        return {std::nullopt, credentials.channelId + " " + credentials.publisherToken};
    } catch (const RelayError &error) {
        return {error.kind(), error.what()};
    }
}

QUrl closedPort()
{
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort()));
}

TEST(PairingCalls, ReadsEveryKindOfAnswer)
{
    using enum RelayError::Kind;
    const std::string token(32, 'k'), lower = "5c1d6a0e-3b7f-4e2a-9c4d-8f1e2a3b4c5d", upper = "5C1D6A0E-3B7F-4E2A-9C4D-8F1E2A3B4C5D";
    const std::string fallback = "Pairing failed. Check the PIN and try again.", unsupported = "The relay returned an unsupported response.";
    const auto channel = [&](const std::string &id, const std::string &key) {
        return R"({"channelId":")" + id + R"(","publisherToken":")" + key + R"("})";
    };
    const struct {
        int status;
        std::string body;
        std::optional<RelayError::Kind> kind; // nothing: paired
        std::string text;
    } rows[] = {
        {401, R"({"message":"That PIN was already used."})", pairingRejected, "That PIN was already used."},
        {500, "", pairingRejected, fallback},
        {400, R"({"message":5})", pairingRejected, fallback},
        {403, "<html>Forbidden</html>", pairingRejected, fallback},
        {200, channel(lower, token), std::nullopt, lower + " " + token},
        {201, R"({"extra":1,)" + channel(upper, token).substr(1), std::nullopt, upper + " " + token},
        {200, channel(lower, token.substr(1)), invalidResponse, unsupported},
        {200, channel("not-a-uuid", token), invalidResponse, unsupported},
        {200, channel("{" + lower + "}", token), invalidResponse, unsupported},
        {200, R"({"channelId":")" + lower + R"("})", invalidResponse, unsupported},
        {200, "{\"channelId\":", unreadableReply, "The relay's answer is not valid JSON: "},
    };
    Responder responder;
    RelayPublisher publisher(responder.url(), quickTiming());
    for (const auto &row : rows) {
        responder.status = row.status;
        responder.body = QByteArray::fromStdString(row.body);
        const auto [kind, text] = pairWith(publisher, " \u0661\u0662\u0663 45-6");
        EXPECT_EQ(kind, row.kind) << row.body;
        EXPECT_EQ(row.kind == unreadableReply ? text.substr(0, row.text.size()) : text, row.text);
    }
    EXPECT_EQ(responder.seen.back(), std::tuple(QHttpServerRequest::Method::Post, "/relay/v1/pairings/complete", "application/json",
                                                "", "{\"pin\":\"\u0661\u0662\u0663456\"}"));

    responder.silent = true;
    auto timing = quickTiming();
    timing.requestTimeout = 200ms;
    RelayPublisher waiting(responder.url(), timing);
    EXPECT_EQ(pairWith(waiting, "123456"), std::pair(std::optional(transport), std::string("The relay did not answer in time.")));
    RelayPublisher refused(closedPort(), quickTiming());
    EXPECT_EQ(pairWith(refused, "123456").first, transport);
    RelayPublisher nowhere(QUrl("not a url"), quickTiming());
    EXPECT_EQ(pairWith(nowhere, "123456"), std::pair(std::optional(invalidURL), std::string("The relay URL is invalid.")));
}

TEST(PairingCalls, PairsWithOrvaneRelayInAnyScriptUntilTooManyWrongPins)
{
    LocalRelay relay({300s, 3, 60s});
    RelayPublisher publisher(relay.baseUrl(), quickTiming());
    const QString pin = relay.issuePin();
    EXPECT_FALSE(pairWith(publisher, pin.left(3) + " - " + pin.mid(3)).first);
    QString arabic;
    for (const QChar digit : relay.issuePin())
        arabic.append(QChar(0x0660 + digit.digitValue()));
    EXPECT_FALSE(pairWith(publisher, arabic).first);
    EXPECT_EQ(pairWith(publisher, pin), std::pair(std::optional(RelayError::Kind::pairingRejected), std::string("This PIN is unknown or has expired.")));
    pairWith(publisher, "000000");
    pairWith(publisher, "000001");
    EXPECT_EQ(pairWith(publisher, relay.issuePin()).second, "Too many wrong PINs. Wait a minute and try again.");
}

TEST(RevokeCall, PostsTheBearerTokenAndDisconnectsWhateverTheAnswer)
{
    Responder responder;
    responder.status = 500;
    for (const QUrl &base : {responder.url(), closedPort()}) {
        RelayPublisher publisher(base, quickTiming());
        const std::size_t before = responder.seen.size();
        awaitTask(publisher.revoke());
        EXPECT_EQ(responder.seen.size(), before) << "nothing to revoke without credentials";
        publisher.connect({"C", std::string(32, 'k')});
        awaitTask(publisher.revoke());
        EXPECT_FALSE(publisher.shouldReconnect());
        EXPECT_FALSE(publisher.credentials());
    }
    // The socket's upgrade request comes first.
    ASSERT_EQ(responder.seen.size(), 2u);
    EXPECT_EQ(responder.seen.back(), std::tuple(QHttpServerRequest::Method::Post, "/relay/v1/channels/C/revoke", "",
                                                "Bearer " + QByteArray(32, 'k'), ""));
}

} // namespace
} // namespace orvane::test
