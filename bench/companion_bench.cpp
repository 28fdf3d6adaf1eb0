// The companion's own cost against the fake App Server: one refresh of twenty threads of a few
// hundred items each (reads, normalization on the worker, ordering, snapshot building and
// trimming), and the CPU the whole process uses over a minute of polling with nothing changing.
#include "companion/companion_model.h"
#include "fake_codex.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <boost/json.hpp>

#include <ctime>

namespace {

namespace json = boost::json;
using namespace orvane;

constexpr int threadCount = 20;
constexpr int itemsPerThread = 300;

std::string paragraph(int seed, std::size_t length)
{
    std::string text = "Step " + std::to_string(seed) + ": checked the parser and the tests. ";
    while (text.size() < length)
        text += "The quick brown fox reads the workspace, edits a file and runs the suite again. ";
    return text;
}

// The item shapes of the real App Server, with ordinary outputs and answers.
json::object item(int thread, int index)
{
    const std::string id = "item-" + std::to_string(thread) + "-" + std::to_string(index);
    switch (index % 5) {
    case 0:
        return {{"type", "userMessage"}, {"id", id},
                {"content", json::array{{{"type", "text"}, {"text", paragraph(index, 200)}, {"text_elements", json::array()}}}}};
    case 1:
        return {{"type", "reasoning"}, {"id", id}, {"summary", json::array{paragraph(index, 400)}}, {"content", json::array()}};
    case 2:
        return {{"type", "commandExecution"}, {"id", id}, {"command", "/bin/bash -lc 'npm test'"},
                {"cwd", "/home/dev/projects/demo"}, {"status", "completed"},
                {"aggregatedOutput", paragraph(index, 1500)}, {"exitCode", 0}, {"durationMs", 1224}};
    case 3:
        return {{"type", "fileChange"}, {"id", id}, {"status", "completed"},
                {"changes", json::array{{{"path", "/home/dev/projects/demo/src/main.rs"}, {"diff", paragraph(index, 1000)}}}}};
    default:
        return {{"type", "agentMessage"}, {"id", id}, {"text", paragraph(index, 800)}};
    }
}

json::object scenario()
{
    json::array listed;
    json::object methods;
    for (int thread = 0; thread < threadCount; ++thread) {
        const std::string id = "01a24d93-77c0-7822-860c-" + std::to_string(100000000000 + thread);
        json::object entry{{"id", id}, {"preview", "Task " + std::to_string(thread)}, {"name", nullptr},
                           {"createdAt", 1796590000}, {"updatedAt", 1796597000 - thread * 60},
                           {"cwd", "/nonexistent/orvane-bench"}, {"status", {{"type", "notLoaded"}}}, {"turns", json::array()}};
        listed.push_back(entry);
        json::array items;
        for (int index = 0; index < itemsPerThread; ++index)
            items.push_back(item(thread, index));
        entry["status"] = json::object{{"type", "idle"}};
        entry["turns"] = json::array{json::object{{"id", "turn-" + std::to_string(thread)}, {"status", "completed"},
                                                  {"startedAt", 1796590100}, {"completedAt", 1796597000 - thread * 60},
                                                  {"durationMs", 60000}, {"items", std::move(items)}}};
        methods["thread/read#" + id] = json::object{{"result", {{"thread", std::move(entry)}}}};
    }
    methods["initialize"] = json::object{{"result", {{"userAgent", "fake"}}}};
    methods["thread/list"] = json::object{{"result", {{"data", std::move(listed)}, {"nextCursor", nullptr}}}};
    methods["account/read"] = json::object{{"result", {{"account", {{"type", "chatgpt"}, {"planType", "plus"}}}}}};
    methods["config/read"] = json::object{{"result", {{"config", {{"model", "gpt-5.5"}}}}}};
    return {{"stdio", {{"methods", std::move(methods)}}}};
}

// The credentials stay in memory: the benchmark needs no Secret Service.
CompanionModelOptions options()
{
    CompanionModelOptions options;
    options.credentialStore.load = [](std::string_view) { return std::optional<std::string>(); };
    options.credentialStore.save = [](std::string_view, std::string_view) {};
    options.credentialStore.remove = [](std::string_view) {};
    return options;
}

// An orvane-relay process on a free loopback port, with its data in a temporary folder.
class RelayProcess {
public:
    RelayProcess()
    {
        process_.start(QStringLiteral(ORVANE_RELAY_EXECUTABLE),
                       {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--data"), data_.path()});
        if (process_.waitForReadyRead(10'000))
            listen_ = QString::fromUtf8(process_.readLine()).trimmed().section(QLatin1Char(' '), -1);
    }
    ~RelayProcess()
    {
        process_.terminate();
        process_.waitForFinished(10'000);
    }
    QString baseUrl() const { return listen_; }
    // A PIN from the relay, as the glasses would show it.
    QString newPin() const
    {
        QProcess asking;
        asking.start(QStringLiteral(ORVANE_RELAY_EXECUTABLE),
                     {QStringLiteral("--listen"), QUrl(listen_).authority(), QStringLiteral("--new-pin")});
        asking.waitForFinished(10'000);
        return QString::fromUtf8(asking.readAllStandardOutput()).trimmed().right(6);
    }

private:
    QTemporaryDir data_;
    QProcess process_;
    QString listen_;
};

void runToEnd(QCoro::Task<void> task)
{
    QEventLoop loop;
    bool done = false;
    QCoro::connect(std::move(task), &loop, [&] {
        done = true;
        loop.quit();
    });
    if (!done)
        loop.exec();
}

double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A model paired with a running relay, its socket open.
std::unique_ptr<CompanionModel> pairedModel(const RelayProcess &relay)
{
    qputenv("ORVANE_RELAY_URL", relay.baseUrl().toUtf8());
    auto model = std::make_unique<CompanionModel>(options());
    model->setPairingPIN(relay.newPin());
    runToEnd(model->pair());
    return model;
}

void refreshTwentyThreads(benchmark::State &state)
{
    test::FakeCodex codex(scenario());
    RelayProcess relay;
    auto model = pairedModel(relay);
    runToEnd(model->refresh()); // launches the App Server
    if (!model->paired() || model->threads().size() != threadCount)
        state.SkipWithError("the companion did not pair or did not list every thread");
    for (auto _ : state)
        runToEnd(model->refresh());
    state.counters["threads"] = static_cast<double>(model->threads().size());
    state.counters["snapshots_sent"] = static_cast<double>(model->eventCount());
}
BENCHMARK(refreshTwentyThreads)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// A started, paired companion left alone for a minute: a refresh every four seconds.
void idleMinute(benchmark::State &state)
{
    test::FakeCodex codex(scenario());
    RelayProcess relay;
    for (auto _ : state) {
        auto model = pairedModel(relay);
        model->start();
        const double before = processCpuSeconds();
        QEventLoop loop;
        QTimer::singleShot(std::chrono::minutes(1), &loop, &QEventLoop::quit);
        loop.exec();
        const double used = processCpuSeconds() - before;
        state.counters["cpu_ms_per_minute"] = used * 1000;
        state.counters["percent_of_one_core"] = used / 60 * 100;
        state.counters["snapshots_sent"] = static_cast<double>(model->eventCount());
    }
}
BENCHMARK(idleMinute)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(1)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
