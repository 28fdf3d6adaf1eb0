// `orvane --codex-integration-test` as a whole process, against the fake and the real Codex CLI.
#include "appserver/app_server_transport.h"
#include "appserver/line_framing.h"

#include "await_task.h"
#include "fake_codex.h"
#include "process_harness.h"

#include <gtest/gtest.h>

#include <QDir>

namespace orvane::test {
namespace {

using namespace std::chrono_literals;
namespace json = boost::json;

// A home of its own; PATH is `path`, or an empty folder so that no codex is found by accident.
struct Sandbox {
    QTemporaryDir dir;
    QProcessEnvironment environment;
    QByteArray homeEntry;
    explicit Sandbox(const QString &path = {})
    {
        for (const char *name : {"home", "empty", "tmp"})
            QDir(dir.path()).mkpath(name);
        environment = QProcessEnvironment::systemEnvironment();
        environment.remove("ORVANE_CODEX");
        environment.insert("HOME", dir.filePath("home"));
        environment.insert("TMPDIR", dir.filePath("tmp"));
        environment.insert("PATH", path.isEmpty() ? dir.filePath("empty") : path);
        homeEntry = ("HOME=" + dir.filePath("home")).toUtf8();
    }
};

struct ModeRow {
    const char *scenario; // for the fake, or nullptr for no codex at all
    const char *out;
    const char *err;
    int exitCode;
};

TEST(IntegrationMode, PrintsOneLineAndExitsLeavingNothingBehind)
{
    const ModeRow rows[]{
        {nullptr, "", "Codex integration failed: ORVANE_CODEX is set to \"%1\", which is not an executable file. Point it at the "
                      "codex executable, or unset it to look in the usual places and PATH.\n", 1},
        {R"({"version":{"output":"codex-cli 1.2.3\n"},"stdio":{"methods":{"initialize":{"result":{}},
            "thread/list":{"result":{"data":[{"id":"t1","updatedAt":1}]}},"account/read":{"result":{"account":null}}}}})",
         "Codex integration: connected; version=codex-cli 1.2.3; listed=1; optionalAccountMethods=1/2; mode=Dedicated stdio\n", "", 0},
        {R"({"version":{"output":"\n"},"stdio":{"methods":{"initialize":{"result":{}},"thread/list":{"result":{"data":[]}},
            "account/read":{"result":{}},"account/rateLimits/read":{"result":{}}}}})",
         "Codex integration: connected; version=unknown; listed=0; optionalAccountMethods=2/2; mode=Dedicated stdio\n", "", 0},
        {R"({"stdio":{"methods":{"initialize":{"result":{}},"thread/list":{"result":{"threads":[]}}}}})", "",
         "Codex integration failed: The Codex App Server returned an unsupported response.\n", 1},
    };
    for (const auto &row : rows) {
        Sandbox sandbox;
        std::optional<FakeCodex> fake;
        if (row.scenario) {
            fake.emplace(json::parse(row.scenario).as_object());
            sandbox.environment.insert("ORVANE_CODEX", FakeCodex::executable());
            sandbox.environment.insert("ORVANE_FAKE_SCENARIO", fake->scenarioPath());
        } else {
            sandbox.environment.insert("ORVANE_CODEX", sandbox.dir.filePath("home/missing/codex"));
        }
        const auto finished = run(ORVANE_EXECUTABLE, {"--codex-integration-test"}, sandbox.environment, 60s);
        EXPECT_EQ(finished.out, row.out);
        EXPECT_EQ(finished.err, QString(row.err).arg(sandbox.environment.value("ORVANE_CODEX")));
        EXPECT_EQ(finished.exitCode, row.exitCode) << row.out;
        EXPECT_TRUE(noneLeft(sandbox.homeEntry));
    }
}

TEST(RealCodex, ConnectsWithoutAnAccountAndLeavesNoAppServerBehindTheNpmLauncher)
{
    const QString codexDir = ORVANE_TEST_CODEX_DIR;
    if (codexDir.isEmpty())
        GTEST_SKIP() << "ORVANE_TEST_CODEX_DIR is not set";
    Sandbox sandbox(codexDir + ":/usr/local/bin:/usr/bin:/bin");
    const auto finished = run(ORVANE_EXECUTABLE, {"--codex-integration-test"}, sandbox.environment, 60s);
    EXPECT_EQ(finished.out, "Codex integration: connected; version=codex-cli 0.171.0; listed=0; "
                            "optionalAccountMethods=1/2; mode=Dedicated stdio\n");
    EXPECT_EQ(finished.exitCode, 0) << finished.err.toStdString();
    EXPECT_TRUE(noneLeft(sandbox.homeEntry));

    for (const char *name : {"HOME", "TMPDIR", "PATH"})
        qputenv(name, sandbox.environment.value(name).toUtf8());
    AppServerTransport transport(30s);
    awaitTask(transport.start(codexDir + "/codex", {"app-server", "--stdio"}, std::make_unique<LineFraming>()));
    const json::value client{{"clientInfo", {{"name", "orvane"}, {"title", "Orvane Companion"}, {"version", "0.1.0"}}},
                             {"capabilities", {{"experimentalApi", false}}}};
    EXPECT_TRUE(awaitTask(transport.request("initialize", client)).is_object());
    EXPECT_GE(processesWith(sandbox.homeEntry).size(), 2u); // the launcher and its App Server
    transport.disconnect();
    EXPECT_TRUE(noneLeft(sandbox.homeEntry));
}

} // namespace
} // namespace orvane::test
