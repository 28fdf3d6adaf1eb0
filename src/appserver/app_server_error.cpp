#include "appserver/app_server_error.h"

namespace orvane {

AppServerError AppServerError::codexMissing()
{
    return {Kind::codexMissing, "Codex was not found. Install or update the official Codex app or CLI."};
}

AppServerError AppServerError::chosenCodexUnusable(const std::string &path)
{
    // The path is the user's own but may hold anything; it is shown on one bounded line.
    constexpr std::size_t longestShown = 200;
    std::string shown;
    for (const char c : path.substr(0, longestShown))
        shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
    if (path.size() > longestShown)
        shown += "\u2026";
    return {Kind::codexMissing, "ORVANE_CODEX is set to \"" + shown + "\", which is not an executable file. Point it at "
                                "the codex executable, or unset it to look in the usual places and PATH."};
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
