#pragma once
// A relay of the tests' own that says what no real relay would: any HTTP answer, bodies that
// never end, frames announcing hundreds of MiB, binary and broken frames, sockets closed or
// reset at will; it records what it receives.
#include "relay/relay_publisher.h"
#include "websocket_server_peer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <memory>
#include <string>
#include <vector>

namespace orvane::test {

class ScriptedRelay {
public:
    // An HTTP answer: whole, with a body that never ends, or the connection closed without a word.
    struct Answer {
        enum class Shape { whole, endless, none };
        int status = 200;
        std::string body;
        Shape shape = Shape::whole;
    };

    ScriptedRelay();
    ~ScriptedRelay();
    QUrl baseUrl() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort())); }

    const PairingCredentials credentials{"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D", std::string(43, 'p')};
    // By default orvane-relay's answers, the pairing giving `credentials`.
    Answer pairingAnswer, revokeAnswer{204, {}};
    // "METHOD path Content-Type Authorization body" of every HTTP request but upgrades.
    const std::vector<std::string> &requests() const { return requests_; }

    // Sockets upgraded so far, and the text messages the publisher sent; every "authenticate" is
    // answered "authenticated".
    int upgrades() const { return static_cast<int>(sockets_.size()); }
    const std::vector<std::string> &messages() const { return messages_; }
    bool closeFrameSeen() const { return closeFrameSeen_; }

    // To the newest socket: a text or binary message, the head of a frame announcing 400 MiB, a
    // close frame, or a reset.
    void send(std::string_view message, bool binary = false);
    void sendOversizedFrame();
    void close();
    void abort();

private:
    struct Connection;
    void read(Connection &connection);
    void answerHttp(QTcpSocket *socket, const QByteArray &head, const QByteArray &body);
    void stream(QTcpSocket *socket, QByteArray head);

    QTcpServer server_;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::vector<Connection *> sockets_;
    std::vector<std::string> messages_;
    std::vector<std::string> requests_;
    bool closeFrameSeen_ = false;
};

} // namespace orvane::test
