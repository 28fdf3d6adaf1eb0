#include "app/companion_self_tests.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

namespace orvane {
namespace {

// The five checks, the first ones given verdicts of our choosing ('1' passes, '0' fails, 'x'
// throws), so only the reporting is under test.
std::string verdictOf(std::string_view verdicts, bool expected)
{
    auto checks = CompanionSelfTests::checks();
    for (std::size_t i = 0; i < verdicts.size(); ++i)
        checks[i].passes = [verdict = verdicts[i]]() -> bool {
            return verdict == 'x' ? throw std::runtime_error("boom") : verdict == '1';
        };
    std::ostringstream out;
    EXPECT_EQ(CompanionSelfTests::run(checks, out), expected) << verdicts;
    return out.str();
}

TEST(SelfTests, TheShippedChecksPassAndEachFailureIsNamedInOrder)
{
    EXPECT_EQ(verdictOf("", true), "Companion self-tests: 5 passed\n");
    EXPECT_EQ(verdictOf("0x101", false),
              "FAIL: secret redaction\nFAIL: project path sanitization\nFAIL: App Server method allowlist\n");
}

TEST(SelfTests, CommandLineModeNeedsNoDisplayNorBusAndIgnoresUnknownArguments)
{
    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    for (const auto *name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"})
        environment.remove(name);
    process.setProcessEnvironment(environment);
    process.start(ORVANE_BINARY, {"--codex-integration-test", "--self-test", "x"});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(process.readAllStandardOutput(), "Companion self-tests: 5 passed\n");
    EXPECT_EQ(process.readAllStandardError(), "");
}

} // namespace
} // namespace orvane
