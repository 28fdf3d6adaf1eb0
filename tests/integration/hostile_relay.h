#pragma once
// A relay of the tests' own that attacks the companion: endless HTTP answers, frames announcing
// hundreds of MiB, escape sequences and command floods, and that records what it receives.
#include "model/records.h"
#include "websocket_server_peer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <memory>
#include <string>
#include <vector>

namespace orvane::test {

class HostileRelay {
public:
    // How an HTTP call is answered: as orvane-relay would, with a body that never ends, or by
    // closing the connection without a word.
    enum class Answer { normal, endless, none };

    HostileRelay();
    ~HostileRelay();
    QUrl baseUrl() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort())); }

    Answer pairingAnswer = Answer::normal;
    Answer revokeAnswer = Answer::normal;
    const PairingCredentials credentials{"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D", std::string(43, 'p')};

    // Sockets upgraded so far, and the text messages the publisher sent on them.
    int upgrades() const { return upgrades_; }
    const std::vector<std::string> &messages() const { return messages_; }
    std::size_t count(std::string_view type) const;
    bool closeFrameSeen() const { return closeFrameSeen_; }
    // "path Authorization" of every revoke request.
    const std::vector<std::string> &revokes() const { return revokes_; }

    // To the newest socket: one text message, or a frame announcing 400 MiB whose payload is
    // streamed until the companion hangs up.
    void send(std::string_view text);
    void sendOversizedFrame();

private:
    struct Connection;
    void accept();
    void answerHttp(Connection &connection, const QByteArray &head);
    void stream(QTcpSocket *socket, QByteArray head);

    QTcpServer server_;
    std::vector<std::unique_ptr<Connection>> connections_;
    Connection *socket_ = nullptr;
    int upgrades_ = 0;
    std::vector<std::string> messages_;
    std::vector<std::string> revokes_;
    bool closeFrameSeen_ = false;
};

} // namespace orvane::test
