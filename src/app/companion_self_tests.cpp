#include "app/companion_self_tests.h"

#include "appserver/companion_command_policy.h"
#include "model/records.h"
#include "normalize/codex_normalizer.h"
#include "normalize/git_inspector.h"
#include "normalize/redactor.h"

#include <boost/json.hpp>

#include <chrono>
#include <iostream>

namespace orvane::CompanionSelfTests {
namespace {

constexpr std::string_view bearerToken = "abcdefghijklmnopqrstuvwxyz";
constexpr std::string_view passwordValue = "hunter7";
constexpr std::string_view threeSecrets =
    "Bearer abcdefghijklmnopqrstuvwxyz password=hunter7 postgres://u:p@host/db";
static_assert(threeSecrets.size() == 73);

bool secretRedaction()
{
    const auto result = Redactor::redact(threeSecrets, Redactor::transcriptLimit);
    return result.count == 3 && result.text.find(passwordValue) == std::string::npos
        && result.text.find(bearerToken.substr(0, 12)) == std::string::npos;
}

bool projectPathSanitization()
{
    return Redactor::projectName("/Users/testuser/Private/Poker Odds/") == "Poker Odds"
        && Redactor::projectName("C:\\Users\\testuser\\Planes") == "Planes";
}

bool gitNumstatParsing()
{
    const auto totals = GitInspector::parseNumstat("10\t2\tA.swift\n-\t-\timage.png\n4\t0\tREADME.md\n");
    return totals.files == 3 && totals.additions == 14 && totals.deletions == 2;
}

bool appServerMethodAllowlist()
{
    const auto &allowed = CompanionCommandPolicy::allowed();
    return allowed.contains("stop_thread") && allowed.contains("request_snapshot")
        && allowed.contains("mark_notification_seen") && !allowed.contains("shell")
        && !allowed.contains("thread/start");
}

bool normalizationHidesCommandAndPath()
{
    const auto now = std::chrono::system_clock::now();
    const double seconds = std::chrono::duration<double>(now.time_since_epoch()).count();
    const boost::json::value item{{"id", "item-1"}, {"type", "commandExecution"}, {"status", "inProgress"},
                                  {"command", "pnpm test --token qwerty"}};
    const boost::json::value turn{{"id", "turn-1"}, {"status", "inProgress"}, {"startedAt", seconds},
                                  {"items", boost::json::array{item}}};
    const boost::json::value raw{{"id", "thread-1"},
                                 {"preview", "Run tests"},
                                 {"cwd", "/Users/testuser/Private/Poker Odds"},
                                 {"updatedAt", seconds},
                                 {"status", {{"type", "active"}, {"activeFlags", boost::json::array{}}}},
                                 {"turns", boost::json::array{turn}}};
    const auto result = CodexNormalizer::thread(raw, SharingSettings{}, "gpt-test", "medium", now);
    if (!result)
        return false;
    const auto json = encode(result->view);
    return rawValue(result->view.status) == "testing" && result->view.projectName == "Poker Odds"
        && json.find("pnpm test") == std::string::npos && json.find("/Users/testuser") == std::string::npos;
}

bool passes(const Check &check)
{
    try {
        return check.passes();
    } catch (...) {
        return false;
    }
}

} // namespace

std::vector<Check> checks()
{
    return {
        {"secret redaction", secretRedaction},
        {"project path sanitization", projectPathSanitization},
        {"git numstat parsing", gitNumstatParsing},
        {"App Server method allowlist", appServerMethodAllowlist},
        {"normalization hides command and path", normalizationHidesCommandAndPath},
    };
}

bool run(std::span<const Check> checks, std::ostream &out)
{
    std::vector<std::string_view> failed;
    for (const auto &check : checks) {
        if (!passes(check))
            failed.push_back(check.name);
    }
    if (failed.empty()) {
        out << "Companion self-tests: " << checks.size() << " passed\n";
        return true;
    }
    for (const auto name : failed)
        out << "FAIL: " << name << '\n';
    return false;
}

bool run()
{
    const auto all = checks();
    return run(all, std::cout);
}

} // namespace orvane::CompanionSelfTests
