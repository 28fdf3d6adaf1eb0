#include "appserver/app_server_client.h"

#include <QByteArray>

#include <sys/stat.h>
#include <unistd.h>

namespace orvane {
namespace {

bool isExecutableFile(const std::string &path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}

std::vector<std::string> AppServerClient::codexCandidates(const std::vector<std::string> &fixedCandidates)
{
    // Desktop sessions often lack the shell's PATH, and tests need a codex nothing can shadow.
    if (const auto chosen = qgetenv("ORVANE_CODEX"); !chosen.isEmpty())
        return {chosen.toStdString()};
    auto candidates = fixedCandidates;
    for (const auto &piece : qgetenv("PATH").split(':'))
        if (!piece.isEmpty())
            candidates.push_back(piece.toStdString() + "/codex");
    return candidates;
}

std::optional<std::string> AppServerClient::findCodex(const std::vector<std::string> &fixedCandidates)
{
    for (const auto &candidate : codexCandidates(fixedCandidates))
        if (isExecutableFile(candidate))
            return candidate;
    return std::nullopt;
}

}
