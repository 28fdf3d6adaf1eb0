#pragma once

#include "model/records.h"
#include "relay/bounded_reply.h"

#include <QByteArray>
#include <QString>

#include <string>

// How the companion reads the relay's answer to a PIN, and what it sends as the PIN.
namespace orvane::PairingAnswer {

// The characters of `pin` that are numbers in any script (Arabic-Indic digits stay as typed).
std::string pinDigits(const QString &pin);

// The credentials of a finished pairing request; throws RelayError: transport for a network
// failure, a time-out or an answer over the size limit, pairingRejected for a status outside
// 2xx, unreadableReply for a success body that is not JSON, invalidResponse for anything else.
PairingCredentials read(const BoundedReply &reply);

// What the user reads when the relay's answer passed the size limit.
inline constexpr const char *oversizedMessage = "The relay's answer was larger than 16 KiB and was refused.";

// The same for a known HTTP status and body.
PairingCredentials read(int status, const QByteArray &body);

} // namespace orvane::PairingAnswer
