#pragma once

#include "model/records.h"

#include <QByteArray>
#include <QString>

#include <string>

class QNetworkReply;

// How the companion reads the relay's answer to a PIN, and what it sends as the PIN.
namespace orvane::PairingAnswer {

// The characters of `pin` that are numbers in any script (Arabic-Indic digits stay as typed).
std::string pinDigits(const QString &pin);

// The credentials of a finished pairing request; throws RelayError: transport for a network
// failure or time-out, pairingRejected for a status outside 2xx, unreadableReply for a success
// body that is not JSON, invalidResponse for anything else unexpected.
PairingCredentials read(QNetworkReply &reply);

// The same for a known HTTP status and body.
PairingCredentials read(int status, const QByteArray &body);

} // namespace orvane::PairingAnswer
