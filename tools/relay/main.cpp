// orvane-relay: a small relay for trying pairing and publishing without the hosted service, and
// the relay the tests run against.
#include "relay/channel_store.h"
#include "relay/relay_server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>

#include <csignal>
#include <cstdio>
#include <optional>
#include <sys/resource.h>

namespace {

struct Endpoint {
    QHostAddress host;
    quint16 port = 0;
};

std::optional<Endpoint> parseEndpoint(const QString &text)
{
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0)
        return std::nullopt;
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    bool numeric = false;
    const uint port = text.mid(colon + 1).toUInt(&numeric);
    Endpoint endpoint{host == QStringLiteral("localhost") ? QHostAddress(QHostAddress::LocalHost)
                                                         : QHostAddress(host),
                      static_cast<quint16>(port)};
    if (!numeric || port > 65535 || endpoint.host.isNull())
        return std::nullopt;
    return endpoint;
}

QString baseUrl(const Endpoint &endpoint)
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(endpoint.host.toString());
    url.setPort(endpoint.port);
    return url.toString();
}

// Asks a running relay for a PIN, as the glasses would, and prints just the digits.
int printNewPin(const Endpoint &endpoint)
{
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(baseUrl(endpoint) + QStringLiteral("/v1/pairings")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(10'000);
    QNetworkReply *reply = network.post(request, QByteArray("{}"));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    const QString pin = QJsonDocument::fromJson(reply->readAll()).object().value(QStringLiteral("pin")).toString();
    if (reply->error() == QNetworkReply::ConnectionRefusedError) {
        std::fprintf(stderr, "orvane-relay: no relay is listening at %s; start one with --listen %s first\n",
                     qPrintable(baseUrl(endpoint)), qPrintable(endpoint.host.toString() + ':' + QString::number(endpoint.port)));
        return 1;
    }
    if (reply->error() != QNetworkReply::NoError || pin.isEmpty()) {
        std::fprintf(stderr, "orvane-relay: no PIN from %s: %s\n", qPrintable(baseUrl(endpoint)),
                     qPrintable(reply->errorString()));
        return 1;
    }
    std::printf("%s\n", qPrintable(pin));
    return 0;
}

// Every connection takes a descriptor: take all the system allows us, and let the connection
// caps keep us below it.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::optional<std::vector<orvane::IpAddress>> trustedProxies(const QStringList &texts)
{
    std::vector<orvane::IpAddress> proxies;
    for (const QString &text : texts) {
        boost::system::error_code error;
        proxies.push_back(boost::asio::ip::make_address(text.toStdString(), error));
        if (error) {
            std::fprintf(stderr, "orvane-relay: --trusted-proxy needs an IP address, not \"%s\"\n", qPrintable(text));
            return std::nullopt;
        }
    }
    return proxies;
}

// The relay runs on its own thread; this one waits for the signal to stop.
void waitForStopSignal(const sigset_t &stopSignals)
{
    int received = 0;
    sigwait(&stopSignals, &received);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvane-relay"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A small relay between the Orvane companion and the glasses, for local use and tests.\n"
        "PINs are valid five minutes and used once; channels persist in the data directory."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Address to listen on (default 127.0.0.1:8787; port 0 picks a free one)."),
                                    QStringLiteral("HOST:PORT"), QStringLiteral("127.0.0.1:8787"));
    const QCommandLineOption data(
        QStringLiteral("data"), QStringLiteral("Directory of the channel database (default ~/.local/share/orvane-relay)."),
        QStringLiteral("DIR"),
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).filePath(QStringLiteral("orvane-relay")));
    const QCommandLineOption newPin(QStringLiteral("new-pin"),
                                    QStringLiteral("Ask the relay running at --listen for a PIN and print it."));
    const QCommandLineOption trustedProxy(
        QStringLiteral("trusted-proxy"),
        QStringLiteral("Take the client's address from X-Forwarded-For on connections from ADDR (repeatable)."),
        QStringLiteral("ADDR"));
    parser.addOptions({listen, data, newPin, trustedProxy});
    parser.process(app);

    const auto endpoint = parseEndpoint(parser.value(listen));
    if (!endpoint) {
        std::fprintf(stderr, "orvane-relay: --listen needs HOST:PORT, not \"%s\"\n", qPrintable(parser.value(listen)));
        return 2;
    }
    if (parser.isSet(newPin))
        return printNewPin(*endpoint);

    const auto proxies = trustedProxies(parser.values(trustedProxy));
    if (!proxies)
        return 2;

    raiseDescriptorLimit();
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr); // before the relay's thread inherits the mask
    try {
        orvane::RelayServer::Options options;
        options.dataDirectory = parser.value(data);
        options.trustedProxies = *proxies;
        orvane::RelayServer server(options);
        const auto port = server.listenAt(endpoint->host, endpoint->port);
        if (!port) {
            std::fprintf(stderr, "orvane-relay: unable to listen on %s: %s\n", qPrintable(parser.value(listen)),
                         server.listenError().c_str());
            return 1;
        }
        std::printf("orvane-relay listening on %s\n", qPrintable(baseUrl({endpoint->host, *port})));
        std::fflush(stdout);
        waitForStopSignal(stopSignals);
        return 0;
    } catch (const orvane::ChannelStoreError &error) {
        std::fprintf(stderr, "orvane-relay: %s\n", error.what());
        return 1;
    }
}
