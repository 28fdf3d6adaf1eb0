#pragma once
#include <stdexcept>
#include <string>

namespace orvane {

// Every way a talk with the App Server can fail; what() is the text shown to the user.
class AppServerError : public std::runtime_error {
public:
    enum class Kind { rpc, codexMissing, disconnected, invalidResponse, timeout };

    static AppServerError rpc(const std::string &message) { return {Kind::rpc, message}; }
    static AppServerError codexMissing();
    // ORVANE_CODEX names `path`, which is no executable file.
    static AppServerError chosenCodexUnusable(const std::string &path);
    static AppServerError disconnected();
    static AppServerError invalidResponse();
    static AppServerError timeout();

    Kind kind() const { return m_kind; }

private:
    AppServerError(Kind kind, const std::string &description)
        : std::runtime_error(description), m_kind(kind) {}
    Kind m_kind;
};

// The operating system refused to start the child; what() is its own reason.
class ProcessLaunchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}
