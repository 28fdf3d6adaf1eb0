// What `orvane` does besides running: its self-tests, and the one-line requests a later start
// sends to the running companion.
#include "app/companion_self_tests.h"
#include "app/instance_request.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <tuple>

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

// A desktop start hands the process over to the window program beside `orvane`; a copy of
// `orvane` without it says so and runs headless.
TEST(WindowLaunch, ADesktopStartBecomesTheWindowProgramOrRunsHeadlessWithoutIt)
{
    QTemporaryDir home;
    ASSERT_TRUE(QDir(home.path()).mkpath("bin") && QDir(home.path()).mkpath("run"));
    const QString alone = home.filePath("bin/orvane");
    ASSERT_TRUE(QFile::copy(ORVANE_BINARY, alone));
    auto environment = QProcessEnvironment::systemEnvironment();
    for (const auto *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
        environment.insert(name, home.path());
    environment.insert("XDG_RUNTIME_DIR", home.filePath("run"));
    environment.insert("DISPLAY", ":99");
    environment.insert("ORVANE_CREDENTIAL_STORE", "file");
    environment.insert("ORVANE_CODEX", home.filePath("no-codex"));

    for (const auto &[program, image, line] :
         {std::tuple(QString(ORVANE_BINARY), "orvane-window", ""),
          std::tuple(alone, "orvane", "orvane: the window program orvane-window is not installed beside orvane; running headless.\n")}) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, {});
        ASSERT_TRUE(process.waitForStarted());
        const QString exe = QStringLiteral("/proc/%1/exe").arg(process.processId());
        // Up once it answers a status request, with its quit signals handled.
        const auto serving = [&] {
            QProcess status;
            status.setProcessEnvironment(environment);
            status.start(ORVANE_BINARY, {"--status"});
            return status.waitForFinished(30000) && status.readAllStandardOutput().startsWith("Orvane is running");
        };
        for (const QDeadlineTimer deadline(60000); !serving() && !deadline.hasExpired();)
            process.waitForFinished(200);
        EXPECT_EQ(QFileInfo(exe).symLinkTarget().section('/', -1), image);
        process.terminate();
        EXPECT_TRUE(process.waitForFinished(60000)) << image;
        EXPECT_EQ(process.exitCode(), 0) << image;
        const QByteArray errors = process.readAllStandardError();
        EXPECT_TRUE(errors.startsWith(line)) << image << ": " << errors.toStdString();
    }
}

using Kind = InstanceRequest::Kind;

TEST(InstanceRequest, EachRequestIsOneLineThatReadsBackAsSentAndNothingElseReads)
{
    for (const auto &[request, line] : std::vector<std::pair<InstanceRequest, QByteArray>>{
             {{Kind::pair, "12 34-56"}, "pair 12 34-56\n"}, {{Kind::pair, "\u0661\u0662\u0663"}, "pair \u0661\u0662\u0663\n"},
             {{Kind::pair, ""}, "pair \n"}, {{Kind::unpair, {}}, "unpair\n"}, {{Kind::status, {}}, "status\n"},
             {{Kind::show, {}}, "show\n"}, {{Kind::snapshot, {}}, "snapshot\n"}, {{Kind::sharing, {}}, "sharing\n"},
             {{Kind::sharing, {}, {"transcript=none", "gitSummary=off"}}, "sharing transcript=none gitSummary=off\n"}}) {
        EXPECT_EQ(request.encode(), line);
        const auto read = InstanceRequest::decode(line.chopped(1));
        ASSERT_TRUE(read) << line.toStdString();
        EXPECT_EQ(std::tuple(read->kind, read->pin, read->choices), std::tuple(request.kind, request.pin, request.choices));
    }
    // Line breaks typed into a PIN cannot end the line early or add a second request.
    EXPECT_EQ((InstanceRequest{Kind::pair, "12\n34\r56"}).encode(), "pair 12 34 56\n");
    for (const QByteArray line : {"", "pair", "unpair now", "status ", "Status", "show\r", "quit", "snapshot now", " pair 123456"})
        EXPECT_FALSE(InstanceRequest::decode(line)) << line.toStdString();
}

TEST(InstanceReply, TheFirstLineSaysHowItWentAndTheRestIsTheText)
{
    for (const auto &[reply, bytes] : std::vector<std::pair<InstanceReply, QByteArray>>{
             {{true, "Orvane Companion 0.1.0\nCompanion: connected"}, "ok\nOrvane Companion 0.1.0\nCompanion: connected"},
             {{false, "Enter the six digits."}, "failed\nEnter the six digits."}, {{true, ""}, "ok\n"}}) {
        EXPECT_EQ(reply.encode(), bytes);
        const auto read = InstanceReply::decode(bytes);
        EXPECT_EQ(std::pair(read.succeeded, read.text), std::pair(reply.succeeded, reply.text)) << bytes.toStdString();
    }
    EXPECT_FALSE(InstanceReply::decode("garbage").succeeded || InstanceReply::decode("okay\nfine").succeeded);
}

} // namespace
} // namespace orvane
