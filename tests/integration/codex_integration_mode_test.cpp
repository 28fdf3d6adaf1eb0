// `orvane --codex-integration-test` as a whole process, against the fake and the real Codex CLI.
#include "appserver/app_server_transport.h"
#include "appserver/line_framing.h"

#include "await_task.h"
#include "fake_codex.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace orvane {
namespace {

using namespace std::chrono_literals;
namespace json = boost::json;

struct Run {
    int status = -1;
    QString out;
    QString err;
};

// Every process whose environment holds this exact entry: the children of a run, by their HOME.
std::vector<qint64> processesWith(const QByteArray &entry)
{
    std::vector<qint64> found;
    for (const auto &name : QDir("/proc").entryList(QDir::Dirs)) {
        bool number = false;
        const auto pid = name.toLongLong(&number);
        QFile environ("/proc/" + name + "/environ");
        if (number && environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(entry))
            found.push_back(pid);
    }
    return found;
}

bool noneLeft(const QByteArray &entry, std::chrono::milliseconds limit)
{
    QElapsedTimer clock;
    clock.start();
    while (!processesWith(entry).empty()) {
        if (clock.elapsed() > limit.count())
            return false;
        QThread::msleep(50);
    }
    return true;
}

// A home of its own, with an empty PATH folder so no codex can be found by accident.
class Sandbox {
public:
    Sandbox()
    {
        QDir(m_dir.path()).mkpath("home");
        QDir(m_dir.path()).mkpath("empty");
        QDir(m_dir.path()).mkpath("tmp");
    }
    QString home() const { return m_dir.filePath("home"); }
    QProcessEnvironment environment(const QString &path) const
    {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.remove("ORVANE_CODEX");
        environment.insert("HOME", home());
        environment.insert("TMPDIR", m_dir.filePath("tmp"));
        environment.insert("PATH", path.isEmpty() ? m_dir.filePath("empty") : path);
        return environment;
    }

private:
    QTemporaryDir m_dir;
};

Run runOrvane(const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(ORVANE_EXECUTABLE, {"--codex-integration-test"});
    Run run;
    if (!process.waitForFinished(60'000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

struct ModeCase {
    const char *name;
    const char *scenario; // for the fake, or nullptr for no codex at all
    const char *out;
    const char *err;
    int status;
};

class IntegrationMode : public testing::TestWithParam<ModeCase> {};

TEST_P(IntegrationMode, PrintsOneLineAndExits)
{
    const auto &row = GetParam();
    Sandbox sandbox;
    auto environment = sandbox.environment({});
    std::optional<test::FakeCodex> fake;
    if (row.scenario) {
        fake.emplace(json::parse(row.scenario).as_object());
        environment.insert("ORVANE_CODEX", test::FakeCodex::executable());
        environment.insert("ORVANE_FAKE_SCENARIO", fake->scenarioPath());
    } else {
        environment.insert("ORVANE_CODEX", sandbox.home() + "/missing/codex");
    }
    const auto run = runOrvane(environment);
    EXPECT_EQ(run.out.toStdString(), row.out);
    EXPECT_EQ(run.err.toStdString(), row.err);
    EXPECT_EQ(run.status, row.status);
    EXPECT_TRUE(noneLeft(("HOME=" + sandbox.home()).toUtf8(), 5s));
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, IntegrationMode,
    testing::Values(
        ModeCase{"noCodex", nullptr, "",
                 "Codex integration failed: Codex was not found. Install or update the official Codex app or CLI.\n", 1},
        ModeCase{"rateLimitsMissing",
                 R"({"version":{"output":"codex-cli 1.2.3\n"},
                     "stdio":{"methods":{"initialize":{"result":{}},
                                         "thread/list":{"result":{"data":[{"id":"t1","updatedAt":1}]}},
                                         "account/read":{"result":{"account":null}}}}})",
                 "Codex integration: connected; version=codex-cli 1.2.3; listed=1; optionalAccountMethods=1/2; "
                 "mode=Dedicated stdio\n",
                 "", 0},
        ModeCase{"emptyVersion",
                 R"({"version":{"output":"\n"},
                     "stdio":{"methods":{"initialize":{"result":{}},
                                         "thread/list":{"result":{"data":[]}},
                                         "account/read":{"result":{}},
                                         "account/rateLimits/read":{"result":{}}}}})",
                 "Codex integration: connected; version=unknown; listed=0; optionalAccountMethods=2/2; "
                 "mode=Dedicated stdio\n",
                 "", 0},
        ModeCase{"listFails",
                 R"({"stdio":{"methods":{"initialize":{"result":{}},"thread/list":{"result":{"threads":[]}}}}})", "",
                 "Codex integration failed: The Codex App Server returned an unsupported response.\n", 1}),
    [](const auto &info) { return std::string(info.param.name); });

QString realCodexDir()
{
    return QStringLiteral(ORVANE_TEST_CODEX_DIR);
}

TEST(RealCodex, IntegrationModeConnectsWithoutAnAccount)
{
    if (realCodexDir().isEmpty())
        GTEST_SKIP() << "ORVANE_TEST_CODEX_DIR is not set";
    Sandbox sandbox;
    const auto run = runOrvane(sandbox.environment(realCodexDir() + ":/usr/local/bin:/usr/bin:/bin"));
    EXPECT_EQ(run.out.toStdString(),
              "Codex integration: connected; version=codex-cli 0.171.0; listed=0; optionalAccountMethods=1/2; "
              "mode=Dedicated stdio\n");
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(noneLeft(("HOME=" + sandbox.home()).toUtf8(), 5s));
}

TEST(RealCodex, DisconnectLeavesNoAppServerBehindTheNpmLauncher)
{
    if (realCodexDir().isEmpty())
        GTEST_SKIP() << "ORVANE_TEST_CODEX_DIR is not set";
    Sandbox sandbox;
    const auto environment = sandbox.environment(realCodexDir() + ":/usr/local/bin:/usr/bin:/bin");
    for (const auto &name : {"HOME", "TMPDIR", "PATH"})
        qputenv(name, environment.value(name).toUtf8());
    AppServerTransport transport(30s);
    test::awaitTask(transport.start(realCodexDir() + "/codex", {"app-server", "--stdio"}, std::make_unique<LineFraming>()));
    const auto result = test::awaitTask(transport.request("initialize", json::value{{"clientInfo", {{"name", "orvane"}, {"title", "Orvane Companion"}, {"version", "0.1.0"}}}, {"capabilities", {{"experimentalApi", false}}}}));
    EXPECT_TRUE(result.is_object());
    const auto home = ("HOME=" + sandbox.home()).toUtf8();
    // The launcher and the App Server it started.
    EXPECT_GE(processesWith(home).size(), 2u);
    transport.disconnect();
    EXPECT_TRUE(noneLeft(home, 5s));
}

}
}
