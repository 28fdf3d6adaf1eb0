// docs/glasses-protocol.md against the code: its examples are sent through orvane-relay to a
// companion playing the fake App Server, and what comes back has the documented shape.
// Blocks fenced as "json glasses-sends" are sent as they stand ("<subscriberToken>" filled
// in), "json dropped" holds commands that must go unanswered, and "json glasses-receives" shows
// frames whose keys and value types must match what arrives.
#include "companion_harness.h"
#include "fake_codex.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <QFile>
#include <QRegularExpression>

#include <map>
#include <set>

namespace orvane::test {
namespace {

using namespace std::chrono_literals;

std::multimap<std::string, json::value> documentedExamples()
{
    QFile file(ORVANE_GLASSES_PROTOCOL_DOC);
    file.open(QIODevice::ReadOnly);
    static const QRegularExpression block(R"(```json ([a-z-]+)\n(.*?)\n```)",
                                          QRegularExpression::DotMatchesEverythingOption);
    std::multimap<std::string, json::value> examples;
    for (const auto &match : block.globalMatch(QString::fromUtf8(file.readAll())))
        examples.emplace(match.captured(1).toStdString(), json::parse(match.captured(2).toStdString()));
    return examples;
}

// Every key path with its value's kind, array elements merged: the frame's shape, not its data.
void collectShape(const json::value &value, const std::string &path, std::set<std::string> &shape)
{
    if (const auto *object = value.if_object()) {
        for (const auto &member : *object)
            collectShape(member.value(), path + "." + std::string(member.key()), shape);
    } else if (const auto *array = value.if_array()) {
        for (const auto &element : *array)
            collectShape(element, path + "[]", shape);
    } else {
        const char *kind = value.is_string() ? "text" : value.is_bool() ? "bool" : value.is_number() ? "number" : "null";
        shape.insert(path + ": " + kind);
    }
}

std::set<std::string> shape(const json::value &value)
{
    std::set<std::string> result;
    collectShape(value, "", result);
    return result;
}

TEST(GlassesProtocolDoc, ExamplesTravelThroughTheRelayAndTheCompanionAsDocumented)
{
    const auto examples = documentedExamples();
    std::map<std::string, json::object> received; // documented frames by type
    std::vector<json::object> sent, dropped;
    for (const auto &[role, example] : examples) {
        if (role == "glasses-receives")
            received.emplace(example.at("type").as_string(), example.as_object());
        else if (role == "glasses-sends")
            sent.push_back(example.as_object());
        else if (role == "dropped")
            for (const auto &command : example.as_array())
                dropped.push_back(command.as_object());
    }
    ASSERT_EQ(sent.size(), 3u) << "authenticate, request_snapshot, stop_thread";
    ASSERT_EQ(received.size(), 5u) << "authenticated, publisher, snapshot, event, error";
    ASSERT_GE(dropped.size(), 6u);

    FakeCodex codex({{"version", {{"output", "codex-cli 0.171.0\n"}}},
                     {"stdio", session({{"t1", "thinking", 1796590100}, {"t2", "finished", 1796590000}})}});
    Glasses glasses;
    auto model = std::make_unique<CompanionModel>(testOptions());
    model->start();
    ASSERT_TRUE(waitUntil([&] { return model->relayConnected(); }, 20s));

    // The documented expiry, 14:03:00, stands for a minute ahead of sending.
    const auto send = [&](json::object frame) {
        if (frame["token"] == "<subscriberToken>")
            frame["token"] = glasses.pairing.subscriberToken.toStdString();
        const QString aMinuteAhead = QDateTime::currentDateTimeUtc().addSecs(60).toString(Qt::ISODate).chopped(1);
        glasses.socket.send(QByteArray::fromStdString(json::serialize(frame)).replace("2026-12-07T14:03:00", aMinuteAhead.toUtf8()));
    };
    const auto expectDocumented = [&](const std::optional<json::object> &frame) {
        ASSERT_TRUE(frame);
        const std::string type(frame->at("type").as_string());
        ASSERT_TRUE(received.contains(type)) << type;
        EXPECT_EQ(shape(*frame), shape(received[type])) << "documented:\n"
                                                         << json::serialize(received[type]) << "\nactual:\n"
                                                         << json::serialize(*frame);
    };

    ASSERT_TRUE(glasses.socket.open(glasses.relay.socketUrl(glasses.pairing)));
    send(sent[0]);
    EXPECT_EQ(json::parse(glasses.socket.next().value_or("null").toStdString()), received["authenticated"]);
    const auto publisher = nextOfType(glasses.socket, "publisher", 15s, true);
    expectDocumented(publisher);
    EXPECT_EQ(publisher->at("online"), true);
    // The relay keeps the snapshot from before the first refresh; a connected one follows.
    std::optional<json::object> snapshot;
    while ((snapshot = nextOfType(glasses.socket, "snapshot")) && snapshot->at("snapshot").at("companion").at("connected") != true) {
    }
    expectDocumented(snapshot);

    // Each dropped one goes unanswered, so the snapshot asked for next is the first answer.
    for (const auto &command : dropped)
        send(command);
    send(sent[1]);
    const auto answer = nextOfType(glasses.socket, "snapshot", 15s, true);
    expectDocumented(answer);
    EXPECT_EQ(answer->at("snapshot").at("sequence"), snapshot->at("snapshot").at("sequence").as_int64() + 1) << "a dropped one was answered";
    send(sent[2]);
    const auto result = nextOfType(glasses.socket, "event", 15s, true);
    expectDocumented(result);
    for (const char *key : {"type", "status", "message", "commandId"})
        EXPECT_EQ(result->at("event").at(key), received["event"].at("event").at(key)) << key;

    TestSocket stranger;
    ASSERT_TRUE(stranger.open(glasses.relay.socketUrl(glasses.pairing)));
    stranger.send(R"({"type":"authenticate","role":"subscriber","token":"wrong"})");
    const auto refusal = stranger.next();
    ASSERT_TRUE(refusal);
    expectDocumented(json::parse(refusal->toStdString()).as_object());
    model.reset();
}

} // namespace
} // namespace orvane::test
