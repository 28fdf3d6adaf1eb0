// A companion on a dedicated child moves to the managed daemon once one appears, the fake App
// Server playing both, and the glasses then see another client's turns live; the headless
// report tells the move, and a relay that goes away and comes back.
#include "app/headless_report.h"
#include "companion_harness.h"
#include "fake_codex.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <sstream>

#include <signal.h>

namespace orvane::test {
namespace {

using namespace std::chrono_literals;

constexpr auto recheck = 300ms;
const std::string probe = "app-server daemon version";

json::object scenario(bool daemonRuns)
{
    auto scenario = fixture("daemon-move.json").as_object();
    // A probe outlasting the recheck interval: only the probe's own guard keeps a second away.
    scenario["daemon"] = {{"exitCode", daemonRuns ? 0 : 1}, {"delayMs", recheck.count() + 100}};
    return scenario;
}

std::size_t launchesOf(const FakeCodex &codex, const std::string &arguments)
{
    return std::ranges::count(codex.launches(), arguments);
}

// The connection mode and each thread's status, in the snapshot's order.
std::string shown(const json::object &snapshot)
{
    std::string line(snapshot.at("companion").at("connectionMode").as_string());
    for (const auto &thread : snapshot.at("threads").as_array())
        line += " " + std::string(thread.at("id").as_string()) + "=" + std::string(thread.at("status").as_string());
    return line;
}

// Whether the headless report printed a line whose text after "HH:MM:SS " matches `pattern`.
bool told(const std::ostringstream &out, const std::string &pattern)
{
    const QRegularExpression line("^\\d\\d:\\d\\d:\\d\\d " + QString::fromStdString(pattern) + "$",
                                  QRegularExpression::MultilineOption);
    return waitUntil([&] { return line.match(QString::fromStdString(out.str())).hasMatch(); });
}

TEST(CompanionDaemon, ADedicatedChildGivesWayToTheDaemonAndTheGlassesSeeLiveTurnsThenTheRelayReturns)
{
    FakeCodex codex(scenario(false));
    Glasses glasses;
    std::vector<std::string> errors;
    auto options = testOptions(100ms);
    options.daemonRecheckInterval = recheck;
    options.notificationRefreshSpacing = 50ms;
    auto model = std::make_unique<CompanionModel>(options);
    QObject::connect(model.get(), &CompanionModel::lastErrorChanged, [&] {
        if (model->lastError())
            errors.push_back(*model->lastError());
    });
    std::ostringstream printed;
    HeadlessReport report(*model, printed);
    const auto started = std::chrono::steady_clock::now();
    model->start();
    ASSERT_TRUE(glasses.connect());

    // Without a daemon the dedicated child cannot see the other client's turns run, but they
    // are not shown as stopped either.
    auto snapshot = glasses.connectedSnapshot();
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(shown(*snapshot), "Dedicated stdio t-run=unknown t-approve=unknown t-done=finished");

    // Probed again while dedicated, never more often than the interval, never two at once.
    ASSERT_TRUE(waitUntil([&] { return launchesOf(codex, probe) >= 3; }, 15s));
    // The one connecting makes, then one per recheck interval at most.
    EXPECT_LE(launchesOf(codex, probe), 1 + std::size_t((std::chrono::steady_clock::now() - started) / recheck));
    EXPECT_EQ(launchesOf(codex, "app-server proxy"), 0u);

    codex.replace(scenario(true));

    // Every snapshot until the move says connected and comes from full reads: a refresh the
    // move cut short stays quiet.
    while ((snapshot = nextSnapshot(glasses.socket)) && !shown(*snapshot).starts_with("Managed daemon proxy")) {
        ASSERT_TRUE(snapshot->at("companion").at("connected").as_bool()) << json::serialize(*snapshot);
        EXPECT_TRUE(shown(*snapshot).ends_with("t-done=finished")) << shown(*snapshot);
    }
    ASSERT_TRUE(snapshot);
    EXPECT_TRUE(told(printed, "Codex: through the managed daemon\\.")) << printed.str();
    EXPECT_TRUE(model->codexConnected());
    // The proxy is kept and no more probes run; no refresh the move overtook shows what the
    // dedicated child could not see.
    const auto probesAfterMove = launchesOf(codex, probe);
    const auto moved = std::chrono::steady_clock::now();
    do {
        EXPECT_EQ(shown(*snapshot), "Managed daemon proxy t-run=thinking t-approve=waiting_for_approval t-done=finished")
            << snapshot->at("sequence");
        snapshot = nextSnapshot(glasses.socket);
        ASSERT_TRUE(snapshot);
    } while (std::chrono::steady_clock::now() - moved < 3 * recheck);
    EXPECT_EQ(launchesOf(codex, probe), probesAfterMove);
    EXPECT_EQ(launchesOf(codex, "app-server proxy"), 1u);
    EXPECT_EQ(launchesOf(codex, "app-server --stdio"), 1u);
    for (const auto &event : codex.events())
        if (event.at("event") == "launch" && event.at("args") == "app-server --stdio") {
            const auto pid = static_cast<pid_t>(event.at("pid").as_int64());
            EXPECT_TRUE(waitUntil([pid] { return ::kill(pid, 0) != 0; })) << "dedicated child " << pid << " lives on";
        }
    EXPECT_TRUE(codex.logged("overlap", "event").empty()) << "two daemon probes ran at once";
    EXPECT_TRUE(errors.empty()) << errors.front();

    // The relay goes away: each try is told with its reason and wait, then the return.
    glasses.relay.stop();
    EXPECT_TRUE(told(printed, "Relay not connected: Could not reach the relay at .+ Next try in 1 s\\.")) << printed.str();
    glasses.relay.start();
    EXPECT_TRUE(waitUntil([&] { return model->relayConnected(); }));
    EXPECT_TRUE(told(printed, "Relay not connected: .+\\n\\d\\d:\\d\\d:\\d\\d Relay connected\\.")) << printed.str();
    destroyWhenIdle(model);
}

} // namespace
} // namespace orvane::test
