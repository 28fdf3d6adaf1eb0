// completePairing(pin:) and revoke() against a small HTTP responder that gives the answers no
// relay of ours gives; the calls against orvane-relay are in relay_server_test.
#include "relay_test_support.h"

#include <await_task.h>
#include <gtest/gtest.h>

#include <QAbstractHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpServer>

namespace orvane::test {
namespace {

// Answers every request with `status` and `body`, noting its method, path, content type, authorization and body.
struct Responder : QAbstractHttpServer {
    int status = 200;
    QByteArray body;
    QList<QByteArray> seen;
    QTcpServer *tcp = new QTcpServer(this);

    Responder()
    {
        tcp->listen(QHostAddress::LocalHost, 0);
        bind(tcp);
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/relay").arg(tcp->serverPort())); }
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override
    {
        seen.append((request.method() == QHttpServerRequest::Method::Post ? "POST " : "other ") + request.url().path().toUtf8() + " " +
                    request.value("content-type") + " " + request.value("authorization") + " " + request.body());
        makeResponder(request, socket).write(body, {{"Content-Type", "application/json"}}, QHttpServerResponder::StatusCode(status));
        return true;
    }
    void missingHandler(const QHttpServerRequest &, QTcpSocket *) override {}
};

// The error's kind and text, or nothing and the channel and token received.
std::pair<std::optional<RelayError::Kind>, std::string> pairWith(const QUrl &base, std::chrono::milliseconds timeout = 5s)
{
    RelayPublisher publisher(base, {20s, [](int) { return 50ms; }, timeout});
    try {
        const PairingCredentials credentials = awaitTask(publisher.completePairing(" \u0661\u0662\u0663 45-6"));
        return {std::nullopt, credentials.channelId + " " + credentials.publisherToken};
    } catch (const RelayError &error) {
        return {error.kind(), error.what()};
    }
}

TEST(PairingCalls, ReadsEveryKindOfAnswer)
{
    using enum RelayError::Kind;
    const std::string token(32, 'k'), lower = "5c1d6a0e-3b7f-4e2a-9c4d-8f1e2a3b4c5d", upper = "5C1D6A0E-3B7F-4E2A-9C4D-8F1E2A3B4C5D";
    const std::string fallback = "Pairing failed. Check the PIN and try again.", unsupported = "The relay returned an unsupported response.";
    const auto channel = [](const std::string &id, const std::string &key) {
        return R"({"channelId":")" + id + R"(","publisherToken":")" + key + R"("})";
    };
    const std::tuple<int, std::string, std::optional<RelayError::Kind>, std::string> rows[] = {
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
    for (const auto &[status, body, kind, text] : rows) {
        responder.status = status;
        responder.body = QByteArray::fromStdString(body);
        const auto [gotKind, got] = pairWith(responder.url());
        EXPECT_EQ(gotKind, kind) << body;
        EXPECT_EQ(kind == unreadableReply ? got.substr(0, text.size()) : got, text);
    }
    EXPECT_EQ(responder.seen.back(), "POST /relay/v1/pairings/complete application/json  {\"pin\":\"\u0661\u0662\u0663456\"}");

    QTcpServer silent; // takes connections and never answers
    silent.listen(QHostAddress::LocalHost, 0);
    EXPECT_EQ(pairWith(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort())), 200ms),
              std::pair(std::optional(transport), std::string("The relay did not answer in time.")));
    EXPECT_EQ(pairWith(QUrl("http://127.0.0.1:1")).first, transport) << "nothing listens";
    EXPECT_EQ(pairWith(QUrl("not a url")), std::pair(std::optional(invalidURL), std::string("The relay URL is invalid.")));
}

TEST(RevokeCall, PostsTheBearerTokenAndDisconnectsWhateverTheAnswer)
{
    Responder responder;
    responder.status = 500;
    for (const QUrl &base : {QUrl("http://127.0.0.1:1"), responder.url()}) {
        RelayPublisher publisher(base, quickTiming());
        awaitTask(publisher.revoke());
        publisher.connect({"C", std::string(32, 'k')});
        awaitTask(publisher.revoke());
        EXPECT_FALSE(publisher.shouldReconnect());
        EXPECT_FALSE(publisher.credentials());
    }
    ASSERT_EQ(responder.seen.size(), 2) << "the socket's upgrade, the revoke, and nothing without credentials";
    EXPECT_EQ(responder.seen.back(), "POST /relay/v1/channels/C/revoke  Bearer " + QByteArray(32, 'k') + " ");
}

} // namespace
} // namespace orvane::test
