#include "appserver/app_server_error.h"

namespace orvane {

AppServerError AppServerError::codexMissing()
{
    return {Kind::codexMissing, "Codex was not found. Install or update the official Codex app or CLI."};
}

AppServerError AppServerError::disconnected()
{
    return {Kind::disconnected, "The Codex App Server disconnected."};
}

AppServerError AppServerError::invalidResponse()
{
    return {Kind::invalidResponse, "The Codex App Server returned an unsupported response."};
}

AppServerError AppServerError::timeout()
{
    return {Kind::timeout, "The Codex App Server did not respond in time."};
}

}
