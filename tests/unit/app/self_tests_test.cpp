#include "app/companion_self_tests.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

using namespace orvane;

namespace {

std::string verdictOf(std::vector<CompanionSelfTests::Check> checks, bool expected)
{
    std::ostringstream out;
    EXPECT_EQ(CompanionSelfTests::run(checks, out), expected);
    return out.str();
}

// The real five checks, each replaced by a verdict of our choosing: only the reporting is
// under test here, not the checks.
std::vector<CompanionSelfTests::Check> withVerdicts(std::vector<bool> verdicts)
{
    auto checks = CompanionSelfTests::checks();
    for (std::size_t i = 0; i < checks.size(); ++i)
        checks[i].passes = [pass = bool(verdicts[i])] { return pass; };
    return checks;
}

TEST(SelfTests, TheShippedChecksPassInOrder)
{
    std::vector<std::string_view> names;
    for (const auto &check : CompanionSelfTests::checks())
        names.push_back(check.name);
    EXPECT_EQ(names, (std::vector<std::string_view>{"secret redaction", "project path sanitization",
                                                    "git numstat parsing", "App Server method allowlist",
                                                    "normalization hides command and path"}));
    EXPECT_EQ(verdictOf(CompanionSelfTests::checks(), true), "Companion self-tests: 5 passed\n");
}

TEST(SelfTests, VerdictNamesEachFailureInOrder)
{
    EXPECT_EQ(verdictOf(withVerdicts({true, true, false, true, true}), false), "FAIL: git numstat parsing\n");
    EXPECT_EQ(verdictOf(withVerdicts({false, true, true, true, false}), false),
              "FAIL: secret redaction\nFAIL: normalization hides command and path\n");

    auto checks = withVerdicts({true, true, true, true, true});
    checks[1].passes = []() -> bool { throw std::runtime_error("boom"); };
    EXPECT_EQ(verdictOf(checks, false), "FAIL: project path sanitization\n");
}

struct ProcessResult {
    int exitCode;
    QByteArray out;
    QByteArray err;
};

ProcessResult runOrvane(const QStringList &arguments)
{
    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    process.setProcessEnvironment(environment);
    process.start(ORVANE_BINARY, arguments);
    EXPECT_TRUE(process.waitForFinished(30000));
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

TEST(SelfTests, CommandLineModeNeedsNoDisplay)
{
    for (const auto &arguments : {QStringList{"--self-test"}, QStringList{"--codex-integration-test", "--self-test", "x"}}) {
        const auto result = runOrvane(arguments);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out, "Companion self-tests: 5 passed\n");
        EXPECT_EQ(result.err, "");
    }
}

} // namespace
