// What `orvane` does besides running: its self-tests, and the one-line requests a later start
// sends to the running companion.
#include "app/companion_self_tests.h"
#include "app/instance_request.h"

#include "process_harness.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fixture.h>

#include <csignal>
#include <sstream>
#include <stdexcept>

namespace orvane {
namespace {

using namespace std::chrono_literals;

// The first checks given verdicts of our choosing ('1' passes, '0' fails, 'x' throws), so only
// the reporting is under test; the shipped checks passing is headless_instance_test's.
TEST(SelfTests, EachFailureIsNamedInOrder)
{
    auto checks = CompanionSelfTests::checks();
    const std::string verdicts = "0x101";
    for (std::size_t i = 0; i < verdicts.size(); ++i)
        checks[i].passes = [verdict = verdicts[i]]() -> bool {
            return verdict == 'x' ? throw std::runtime_error("boom") : verdict == '1';
        };
    std::ostringstream out;
    EXPECT_FALSE(CompanionSelfTests::run(checks, out));
    EXPECT_EQ(out.str(), "FAIL: secret redaction\nFAIL: project path sanitization\nFAIL: App Server method allowlist\n");
}

// A desktop start hands the process over to the window program beside `orvane`; a copy of
// `orvane` alone says so and runs headless.
TEST(WindowLaunch, ADesktopStartBecomesTheWindowProgramWhereItIsInstalled)
{
    // The session wrapper gave this test a home and XDG folders of its own.
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", ":99");
    environment.insert("ORVANE_CREDENTIAL_STORE", "file");
    environment.insert("ORVANE_CODEX", "/nonexistent/orvane-test/codex");
    QTemporaryDir folder;
    const QString alone = folder.filePath("orvane");
    ASSERT_TRUE(QFile::copy(ORVANE_BINARY, alone));
    for (const auto &[program, image] : {std::pair(QString(ORVANE_BINARY), "/orvane-window"), std::pair(alone, "/orvane")}) {
        test::RunningCompanion started(program, environment, {});
        // Up once it answers a status request, with its quit signals handled.
        EXPECT_TRUE(test::waitUntil(
            [&] { return test::run(ORVANE_BINARY, {"--status"}, environment, 30s).out.startsWith("Orvane is running"); }, 60s));
        const QString running = QFileInfo(QStringLiteral("/proc/%1/exe").arg(started.pid())).symLinkTarget();
        EXPECT_TRUE(running.endsWith(image)) << running.toStdString();
        ::kill(static_cast<pid_t>(started.pid()), SIGTERM);
        EXPECT_TRUE(started.waitForExit(60s) && started.exitCode() == 0);
        const bool saysHeadless = started.errors().startsWith(
            "orvane: the window program orvane-window is not installed beside orvane; running headless.\n");
        EXPECT_EQ(saysHeadless, program == alone) << image;
    }
}

// Requests and replies through a running companion are headless_instance_test's; here, what
// reads and what does not.
TEST(InstanceRequest, EachRequestIsOneLineThatReadsBackAsSentAndNothingElseReads)
{
    const auto lines = test::fixture("instance-requests.json");
    for (const auto &line : lines.at("read").as_array()) {
        const QByteArray bytes(line.as_string().c_str());
        const auto read = InstanceRequest::decode(bytes);
        ASSERT_TRUE(read) << line;
        EXPECT_EQ(read->encode(), bytes + "\n");
    }
    for (const auto &line : lines.at("refused").as_array())
        EXPECT_FALSE(InstanceRequest::decode(QByteArray(line.as_string().c_str()))) << line;
    // Line breaks typed into a PIN cannot end the line early or add a second request.
    EXPECT_EQ((InstanceRequest{InstanceRequest::Kind::pair, "12\n34\r56", {}}).encode(), "pair 12 34 56\n");
}

} // namespace
} // namespace orvane
