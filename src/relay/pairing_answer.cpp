#include "relay/pairing_answer.h"

#include "normalize/unicode_text.h"
#include "relay/relay_error.h"

#include <QRegularExpression>

#include <boost/json/parse.hpp>

namespace orvane::PairingAnswer {
namespace {

constexpr std::size_t minimumTokenLength = 32;

const boost::json::string *stringMember(const boost::json::value &json, std::string_view key)
{
    const boost::json::object *object = json.if_object();
    const boost::json::value *member = object ? object->if_contains(key) : nullptr;
    return member ? member->if_string() : nullptr;
}

bool isUuidText(std::string_view text)
{
    static const QRegularExpression uuid(QStringLiteral(
        "^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    return uuid.match(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))).hasMatch();
}

} // namespace

std::string pinDigits(const QString &pin)
{
    QString digits;
    for (const char32_t c : pin.toUcs4())
        if (UnicodeText::isNumeric(c))
            digits.append(QString::fromUcs4(&c, 1));
    return digits.toStdString();
}

PairingCredentials read(int status, const QByteArray &body)
{
    const std::string_view text(body.constData(), static_cast<std::size_t>(body.size()));
    boost::system::error_code error;
    const boost::json::value json = boost::json::parse(text, error);
    if (status < 200 || status > 299) {
        const boost::json::string *message = error ? nullptr : stringMember(json, "message");
        if (message)
            throw RelayError(RelayError::Kind::pairingRejected, std::string(*message));
        // A relay that gives no reason still says by its status which cause it was.
        if (status == 404 || status == 410)
            throw RelayError(RelayError::Kind::pairingRejected,
                             "This PIN is unknown or has expired. Pair again with the PIN the glasses show now.");
        if (status == 429)
            throw RelayError(RelayError::Kind::pairingRejected, "Too many wrong PINs. Wait a minute and try again.");
        throw RelayError(RelayError::Kind::pairingRejected);
    }
    if (error)
        throw RelayError(RelayError::Kind::unreadableReply,
                         "The relay's answer is not valid JSON: " + error.message() + ".");
    const boost::json::string *channelId = stringMember(json, "channelId");
    const boost::json::string *token = stringMember(json, "publisherToken");
    if (!channelId || !token || !isUuidText(*channelId) ||
        UnicodeText::graphemeCount(*token) < minimumTokenLength)
        throw RelayError(RelayError::Kind::invalidResponse);
    return PairingCredentials{std::string(*channelId), std::string(*token)};
}

PairingCredentials read(const BoundedReply &reply)
{
    if (reply.oversized)
        throw RelayError(RelayError::Kind::transport, oversizedMessage);
    if (reply.status != 0)
        return read(reply.status, reply.body);
    if (reply.error == QNetworkReply::OperationCanceledError)
        throw RelayError(RelayError::Kind::transport, "The relay did not answer in time.");
    if (reply.error != QNetworkReply::NoError)
        throw RelayError(RelayError::Kind::transport, reply.errorString.toStdString());
    throw RelayError(RelayError::Kind::invalidResponse);
}

} // namespace orvane::PairingAnswer
