// The window's side of the companion: how long the GUI thread stalls while the model refreshes
// twenty large threads behind an open window, and how much memory the windowed companion holds
// after a minute of polling. Threads are a real App Server answer (tool calls, messages, file
// changes) grown to a few hundred items each.
#include "companion/companion_model.h"
#include "fake_codex.h"
#include "ui/main_view.h"
#include "ui/menu_content.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <boost/json.hpp>

#include <algorithm>

namespace {

namespace json = boost::json;
using namespace orvane;

constexpr int threadCount = 20;
constexpr int turnsPerThread = 40;

json::object sampleThread()
{
    QFile file(QStringLiteral(ORVANE_SAMPLE_THREAD));
    file.open(QIODevice::ReadOnly);
    return json::parse(file.readAll().toStdString()).at("result").at("thread").as_object();
}

// Twenty copies of the sample, each with forty rounds of its turns, items renamed per copy.
json::object scenario()
{
    const json::object sample = sampleThread();
    const json::array &turns = sample.at("turns").as_array();
    json::array listed;
    json::object methods;
    for (int thread = 0; thread < threadCount; ++thread) {
        json::object copy = sample;
        const std::string id = "019db7a1-0000-7000-8000-" + std::to_string(100000000000 + thread);
        copy["id"] = id;
        copy["name"] = "Refactor the parser, part " + std::to_string(thread);
        copy["updatedAt"] = 1796597000 - thread * 60;
        json::array grown;
        for (int round = 0; round < turnsPerThread; ++round)
            for (const auto &turn : turns) {
                json::object renamed = turn.as_object();
                renamed["id"] = id + "-turn-" + std::to_string(grown.size());
                renamed["startedAt"] = 1796590000 + std::int64_t(grown.size());
                for (auto &item : renamed["items"].as_array())
                    item.as_object()["id"] = id + "-item-" + std::to_string(grown.size()) + "-" +
                                             std::string(item.at("id").as_string());
                grown.push_back(std::move(renamed));
            }
        copy["turns"] = std::move(grown);
        json::object entry = copy;
        entry["turns"] = json::array();
        listed.push_back(std::move(entry));
        methods["thread/read#" + id] = json::object{{"result", {{"thread", std::move(copy)}}}};
    }
    methods["initialize"] = json::object{{"result", {{"userAgent", "fake"}}}};
    methods["thread/list"] = json::object{{"result", {{"data", std::move(listed)}, {"nextCursor", nullptr}}}};
    methods["account/read"] = json::object{{"result", {{"account", {{"type", "chatgpt"}, {"planType", "plus"}}}}}};
    methods["config/read"] = json::object{{"result", {{"config", {{"model", "gpt-5.5"}}}}}};
    return {{"stdio", {{"methods", std::move(methods)}}}};
}

CompanionModelOptions options()
{
    CompanionModelOptions options;
    options.pollingInterval = std::chrono::hours(1);
    options.credentialStore.load = [](std::string_view) { return std::optional<std::string>(); };
    return options;
}

// The longest gap between turns of the event loop beyond the 1 ms a timer asks for.
class StallMeter
{
public:
    StallMeter()
    {
        clock_.start();
        ticker_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker_, &QTimer::timeout, [this] {
            longest_ = std::max(longest_, clock_.nsecsElapsed() - last_);
            last_ = clock_.nsecsElapsed();
        });
    }
    void start()
    {
        longest_ = 0;
        last_ = clock_.nsecsElapsed();
        ticker_.start(1);
    }
    double longestMs() const { return std::max<double>(0, double(longest_) / 1e6 - 1); }

private:
    QElapsedTimer clock_;
    QTimer ticker_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
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

void refreshBehindTheWindow(benchmark::State &state)
{
    test::FakeCodex codex(scenario());
    CompanionModel model(options());
    MenuContent menu(model, [] {});
    MainView window(model);
    window.show();
    runToEnd(model.refresh()); // launches the App Server
    if (model.threads().size() != threadCount)
        state.SkipWithError("the companion did not list every thread");
    window.select(QStringLiteral("debug")); // the page that redraws the most
    // The same meter over a second with nothing to do: what the machine itself adds.
    StallMeter meter;
    meter.start();
    QEventLoop idle;
    QTimer::singleShot(std::chrono::seconds(1), &idle, &QEventLoop::quit);
    idle.exec();
    state.counters["idle_stall_ms"] = meter.longestMs();
    double longest = 0;
    for (auto _ : state) {
        meter.start();
        runToEnd(model.refresh());
        longest = std::max(longest, meter.longestMs());
    }
    state.counters["longest_stall_ms"] = longest;
    state.counters["threads"] = double(model.threads().size());
}
BENCHMARK(refreshBehindTheWindow)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return 0;
}

// `orvane` as a desktop starts it, polling every four seconds, measured after a minute.
void windowedCompanionMinute(benchmark::State &state)
{
    test::FakeCodex codex(scenario());
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *folder : {"config", "data", "cache", "state", "runtime"})
        QDir(home.path()).mkpath(QString::fromLatin1(folder));
    QFile::setPermissions(home.filePath("runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("XDG_DATA_HOME", home.filePath("data"));
    environment.insert("XDG_CACHE_HOME", home.filePath("cache"));
    environment.insert("XDG_STATE_HOME", home.filePath("state"));
    environment.insert("XDG_RUNTIME_DIR", home.filePath("runtime"));
    environment.insert("ORVANE_CREDENTIAL_STORE", "file");
    environment.insert("DISPLAY", ":0");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    for (auto _ : state) {
        QProcess companion;
        companion.setProcessEnvironment(environment);
        companion.start(QStringLiteral(ORVANE_EXECUTABLE), {});
        companion.waitForStarted();
        QEventLoop loop;
        QTimer::singleShot(std::chrono::minutes(1), &loop, &QEventLoop::quit);
        loop.exec();
        const qint64 kib = residentKiB(companion.processId());
        if (kib == 0)
            state.SkipWithError("the companion did not keep running");
        state.counters["rss_mb_after_a_minute"] = double(kib) / 1024;
        companion.terminate();
        companion.waitForFinished(10'000);
    }
}
BENCHMARK(windowedCompanionMinute)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(1)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
