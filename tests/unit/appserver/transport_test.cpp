// The transport against the fake App Server over real pipes.
#include "appserver/app_server_error.h"
#include "appserver/app_server_transport.h"
#include "appserver/line_framing.h"

#include "await_task.h"
#include "fake_codex.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <csignal>

namespace orvane {
namespace {

using namespace std::chrono_literals;
namespace json = boost::json;

using test::awaitTask;
using test::FakeCodex;

json::object stdioSession(json::object session) { return {{"stdio", std::move(session)}}; }

void startFake(AppServerTransport &transport, std::unique_ptr<MessageFraming> framing = std::make_unique<LineFraming>())
{
    awaitTask(transport.start(FakeCodex::executable(), {"app-server", "--stdio"}, std::move(framing)));
}

// The value a request ended with, or the text of the error it failed with.
struct Outcome {
    std::optional<json::value> value;
    std::string error;
};

Outcome outcomeOf(QCoro::Task<json::value> request)
{
    auto wrapped = [](QCoro::Task<json::value> inner) -> QCoro::Task<Outcome> {
        // Awaited into a named local: GCC 12 mishandles co_await inside an aggregate initializer.
        Outcome outcome;
        try {
            outcome.value = co_await std::move(inner);
        } catch (const std::exception &error) {
            outcome.error = error.what();
        }
        co_return outcome;
    };
    return awaitTask(wrapped(std::move(request)));
}

// Gone, or a zombie left for a parent that is not ours to reap.
bool gone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const auto text = stat.readAll();
    const auto close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) == "Z";
}

bool waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds limit)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > limit.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

const std::string timedOut = AppServerError::timeout().what();
const std::string disconnected = AppServerError::disconnected().what();

struct ResponseCase {
    const char *name;
    json::object reply; // the fake's answer to the one request
    std::optional<json::value> value;
    std::string error;
};

class ResponseMatching : public testing::TestWithParam<ResponseCase> {};

TEST_P(ResponseMatching, CompletesTheRequestAsTheAnswerSays)
{
    const auto &row = GetParam();
    FakeCodex fake(stdioSession({{"methods", {{"probe", row.reply}}}}));
    // Short only where the time-out is the expected outcome, so a loaded machine cannot fake one.
    AppServerTransport transport(row.error == timedOut ? 400ms : 10s);
    startFake(transport);
    const auto outcome = outcomeOf(transport.request("probe"));
    EXPECT_EQ(outcome.value, row.value);
    EXPECT_EQ(outcome.error, row.error);
    transport.disconnect();
}

const json::value answer = {{"ok", true}};

INSTANTIATE_TEST_SUITE_P(
    Answers, ResponseMatching,
    testing::Values(
        ResponseCase{"result", {{"result", answer}}, answer, ""},
        ResponseCase{"nullResult", {{"result", nullptr}}, json::value(nullptr), ""},
        ResponseCase{"errorWithMessage", {{"error", {{"code", -1}, {"message", "no such thread"}}}}, {}, "no such thread"},
        ResponseCase{"errorWithoutMessage", {{"error", {{"code", -1}}}}, json::value(nullptr), ""},
        ResponseCase{"errorNotAnObjectButResult", {{"raw", R"({"id":{id},"error":"bad","result":7})"}}, json::value(7), ""},
        ResponseCase{"onlyAnIdIsNoResponse", {{"raw", R"({"id":{id}})"}}, {}, timedOut},
        ResponseCase{"stringId", {{"raw", R"({"id":"{id}","result":1})"}}, {}, timedOut},
        ResponseCase{"fractionalId", {{"raw", R"({"id":{id}.0,"result":1})"}}, {}, timedOut},
        ResponseCase{"unknownId", {{"raw", R"({"id":999,"result":1})"}}, {}, timedOut},
        ResponseCase{"splitAcrossWrites", {{"result", answer}, {"chunks", 4}}, answer, ""},
        ResponseCase{"afterGarbageLines",
                     {{"before", {"", "not json", "[1,2]", "42", "{\"id\":", R"({"method":7})"}}, {"result", answer}},
                     answer, ""},
        ResponseCase{"garbageSplitToo",
                     {{"before", {"{{{", "[]"}}, {"result", answer}, {"chunks", 3}}, answer, ""},
        ResponseCase{"childExitsMidRequest", {{"exit", 3}}, {}, disconnected},
        ResponseCase{"neverAnswered", {{"silent", true}}, {}, timedOut}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Transport, LargeResultsOfSeveralMegabytesArriveWhole)
{
    FakeCodex fake(stdioSession({{"methods", {{"read", {{"result", answer}, {"padding", 24 << 20}}}}}}));
    AppServerTransport transport(20s);
    startFake(transport);
    const auto outcome = outcomeOf(transport.request("read"));
    ASSERT_TRUE(outcome.value) << outcome.error;
    EXPECT_EQ(outcome.value->at("padding").as_string().size(), std::size_t{24 << 20});
    transport.disconnect();
}

TEST(Transport, NotificationsAndServerRequestsReachTheHandlerAndAreNeverAnswered)
{
    const json::object notification{{"method", "thread/status/changed"}, {"params", {{"threadId", "t1"}}}};
    const json::object serverRequest{{"id", 7}, {"method", "item/tool/requestUserInput"}, {"params", {{"q", 1}}}};
    FakeCodex fake(stdioSession({{"onStart", {notification, R"({"method":"bare"})"}},
                                 {"methods", {{"ping", {{"before", {serverRequest}}, {"result", 1}}}}}}));
    AppServerTransport transport(5s);
    std::vector<std::pair<std::string, std::optional<json::value>>> events;
    transport.eventHandler = [&](const std::string &method, const std::optional<json::value> &params) {
        events.emplace_back(method, params);
    };
    startFake(transport);
    EXPECT_EQ(outcomeOf(transport.request("ping")).value, json::value(1));
    const decltype(events) expected{{"thread/status/changed", json::value{{"threadId", "t1"}}},
                                    {"bare", std::nullopt},
                                    {"item/tool/requestUserInput", json::value{{"q", 1}}}};
    EXPECT_EQ(events, expected);
    transport.disconnect();
    EXPECT_EQ(fake.received(), std::vector<std::string>{R"({"method":"ping","id":1,"params":null})"});
}

TEST(Transport, ALateResponseAfterTheTimeOutChangesNothing)
{
    FakeCodex fake(stdioSession(
        {{"methods",
          {{"slow", {{"delayMs", 1500}, {"result", 1}, {"after", {R"({"method":"late"})"}}}}, {"fast", {{"result", 2}}}}}}));
    AppServerTransport transport(1s);
    std::vector<std::string> events;
    transport.eventHandler = [&](const std::string &method, const std::optional<json::value> &) {
        events.push_back(method);
    };
    startFake(transport);
    EXPECT_EQ(outcomeOf(transport.request("slow")).error, timedOut);
    // The marker comes in the same write as the late answer, so the answer has been seen.
    ASSERT_TRUE(waitUntil([&] { return !events.empty(); }, 5s));
    EXPECT_EQ(events, std::vector<std::string>{"late"});
    EXPECT_EQ(outcomeOf(transport.request("fast")).value, json::value(2));
    transport.disconnect();
}

TEST(Transport, AKilledChildFailsEveryWaitingRequestAtOnce)
{
    FakeCodex fake(stdioSession({{"default", {{"silent", true}}}}));
    AppServerTransport transport(60s);
    startFake(transport);
    auto both = [&]() -> QCoro::Task<std::vector<std::string>> {
        auto first = transport.request("a");
        auto second = transport.request("b");
        ::kill(static_cast<pid_t>(transport.processId()), SIGKILL);
        std::vector<std::string> errors;
        for (auto *request : {&first, &second})
            try {
                co_await std::move(*request);
            } catch (const std::exception &error) {
                errors.emplace_back(error.what());
            }
        co_return errors;
    };
    EXPECT_EQ(awaitTask(both(), 10s), (std::vector<std::string>{disconnected, disconnected}));
    EXPECT_FALSE(transport.isRunning());
    EXPECT_EQ(outcomeOf(transport.request("c")).error, disconnected);
}

TEST(Transport, AChildThatStopsReadingFailsTheRequestWithoutWaitingForTheTimer)
{
    // The fake closes its input and lives on: the next write meets a broken pipe, which must
    // neither end this process nor leave the request to the timer.
    FakeCodex fake(stdioSession({{"methods", {{"close", {{"closeInput", true}, {"result", 1}}}}},
                                 {"default", {{"silent", true}}}}));
    AppServerTransport transport(60s);
    startFake(transport);
    EXPECT_EQ(outcomeOf(transport.request("close")).value, json::value(1));
    std::string bulk(1 << 20, 'x');
    Outcome outcome;
    for (int attempt = 0; attempt < 50 && outcome.error.empty(); ++attempt)
        outcome = outcomeOf([&]() -> QCoro::Task<json::value> {
            co_return co_await transport.request("bulk", json::value(bulk));
        }());
    EXPECT_EQ(outcome.error, disconnected);
}

TEST(Transport, IdsNeverRepeatAndAbsentParamsAreNullInRequestsButLeftOutOfNotifications)
{
    FakeCodex fake(stdioSession({{"default", {{"result", nullptr}}}}));
    AppServerTransport transport(5s);
    startFake(transport);
    outcomeOf(transport.request("first"));
    transport.notify("bare");
    transport.notify("given", json::value{{"x", 1}});
    outcomeOf(transport.request("second", json::value{{"limit", 1}}));
    transport.disconnect();
    EXPECT_EQ(outcomeOf(transport.request("idle")).error, disconnected);
    startFake(transport);
    outcomeOf(transport.request("third"));
    transport.disconnect();
    const std::vector<std::string> expected{
        R"({"method":"first","id":1,"params":null})", R"({"method":"bare"})",
        R"({"method":"given","params":{"x":1}})", R"({"method":"second","id":2,"params":{"limit":1}})",
        R"({"method":"third","id":4,"params":null})"};
    EXPECT_EQ(fake.received(), expected);
}

TEST(Transport, ARunawayLineDisconnectsInsteadOfGrowing)
{
    FakeCodex fake(stdioSession({{"methods", {{"flood", {{"silent", true}, {"flood", 3 << 20}}}}}}));
    AppServerTransport transport(60s);
    startFake(transport, std::make_unique<LineFraming>(1 << 20));
    EXPECT_EQ(outcomeOf(transport.request("flood")).error, disconnected);
    EXPECT_FALSE(transport.isRunning());
}

TEST(Transport, DisconnectLeavesNoAppServerBehindALauncherThatIgnoresTerminate)
{
    FakeCodex fake(stdioSession({{"launcher", true}, {"ignoreTerminate", true}, {"default", {{"result", 1}}}}));
    AppServerTransport transport(5s);
    startFake(transport);
    EXPECT_EQ(outcomeOf(transport.request("ping")).value, json::value(1));
    std::vector<qint64> pids;
    for (const auto &event : fake.events())
        if (event.at("event") == "serving" || event.at("event") == "launcher")
            pids.push_back(event.at("pid").as_int64());
    ASSERT_EQ(pids.size(), 2u);
    transport.disconnect();
    // Well inside the grace before the kill: closing the input is what ends them.
    for (auto pid : pids)
        EXPECT_TRUE(waitUntil([pid] { return gone(pid); }, 2s)) << pid;
}

// A framing whose handshake the fake never answers, or ends.
class SilentHandshake : public MessageFraming {
public:
    explicit SilentHandshake(bool closes) : m_closes(closes) {}
    std::string start() override { return "hello\n"; }
    bool ready() const override { return false; }
    Fed feed(std::string_view) override { return {{}, {}, m_closes, false}; }
    std::string encode(std::string_view message) override { return std::string(message); }

private:
    bool m_closes;
};

TEST(Transport, AHandshakeThatNeverCompletesIsAFailedStart)
{
    for (const bool closes : {false, true}) {
        FakeCodex fake(stdioSession({{"onStart", {"not a handshake"}}}));
        AppServerTransport transport(closes ? 5s : 300ms);
        std::string error;
        try {
            startFake(transport, std::make_unique<SilentHandshake>(closes));
        } catch (const AppServerError &failure) {
            error = failure.what();
        }
        EXPECT_EQ(error, closes ? disconnected : timedOut);
        EXPECT_FALSE(transport.isRunning());
    }
}

TEST(Transport, ADisconnectDuringTheLaunchKeepsTheNewChildOut)
{
    FakeCodex fake(stdioSession({{"default", {{"result", 1}}}}));
    AppServerTransport transport(1s);
    auto starting = transport.start(FakeCodex::executable(), {"app-server", "--stdio"}, std::make_unique<LineFraming>());
    transport.disconnect();
    std::string error;
    try {
        awaitTask(std::move(starting));
    } catch (const AppServerError &failure) {
        error = failure.what();
    }
    EXPECT_EQ(error, disconnected);
    EXPECT_FALSE(transport.isRunning());
}

TEST(Transport, ALaunchFailureIsThrownWithTheSystemsReason)
{
    AppServerTransport transport(1s);
    EXPECT_THROW(awaitTask(transport.start("/nonexistent/codex", {}, std::make_unique<LineFraming>())),
                 ProcessLaunchError);
    EXPECT_FALSE(transport.isRunning());
}

}
}
