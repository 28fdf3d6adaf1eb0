// The whole cost of mirroring, measured on the processes: an `orvane --headless` paired through an
// orvane-relay process with a subscriber playing the glasses, against the fake App Server holding
// twenty threads shaped like the real samples (about a hundred items, 260 kB each), in workspaces
// that are real git repositories. First nothing changes, then one thread changes every 4 s.
// Prints the median of several runs beside each budget. With --codex and --codex-home it measures
// the real App Server over a real Codex home instead, nothing changing.
#include "fake_codex.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtCore/qtestsupport_core.h>

#include <boost/json.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include <unistd.h>

namespace {

namespace json = boost::json;
using namespace std::chrono_literals;

constexpr int threadCount = 20;
constexpr std::size_t threadBytes = 260'000;
constexpr int workspaceCount = 4;

std::int64_t realtimeMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

bool waitFor(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    return QTest::qWaitFor(done, static_cast<int>(limit.count()));
}

json::object sampleThread()
{
    std::ifstream file(ORVANE_SAMPLE_THREAD);
    std::stringstream text;
    text << file.rdbuf();
    return json::parse(text.str()).at("result").at("thread").as_object();
}

// The sample's turns repeated with fresh identifiers, command outputs grown to the thread size.
json::object benchThread(const json::object &sample, int index, const QString &workspace)
{
    auto thread = sample;
    const std::string id = "01a24d93-0000-7000-8000-" + std::to_string(100000000000 + index);
    const std::int64_t updatedAt = 1796597000 - index * 60;
    thread["id"] = id;
    thread["updatedAt"] = updatedAt;
    thread["cwd"] = workspace.toStdString();
    thread["preview"] = "Task " + std::to_string(index) + ": run the unit tests";
    json::array turns;
    int commands = 0;
    for (int round = 0; round < 10; ++round)
        for (const auto &turn : sample.at("turns").as_array()) {
            auto copy = turn.as_object();
            const std::string prefix = id + "-" + std::to_string(turns.size());
            copy["id"] = prefix;
            copy["startedAt"] = updatedAt - 3000 + static_cast<std::int64_t>(turns.size()) * 60;
            copy["completedAt"] = copy["startedAt"].as_int64() + 2;
            for (auto &item : copy["items"].as_array()) {
                auto &object = item.as_object();
                object["id"] = prefix + "-" + std::string(object["id"].as_string());
                commands += object["type"] == "commandExecution";
            }
            turns.push_back(std::move(copy));
        }
    thread["turns"] = std::move(turns);
    const auto grow = (threadBytes - std::min(threadBytes, json::serialize(thread).size())) / std::max(commands, 1);
    for (auto &turn : thread["turns"].as_array())
        for (auto &item : turn.as_object()["items"].as_array())
            if (item.as_object()["type"] == "commandExecution")
                item.as_object()["aggregatedOutput"] = std::string(grow, 'o');
    return thread;
}

struct Scenario {
    json::object scenario;
    std::size_t fullRefreshBytes = 0;
    std::string changingId;
};

Scenario makeScenario(const QTemporaryDir &dir, std::chrono::milliseconds changesFrom)
{
    const auto sample = sampleThread();
    Scenario made;
    json::array listed;
    json::object methods;
    for (int index = 0; index < threadCount; ++index) {
        const QString workspace = dir.filePath(QStringLiteral("workspace-%1").arg(index % workspaceCount));
        auto thread = benchThread(sample, index, workspace);
        auto entry = thread;
        entry["turns"] = json::array();
        entry["status"] = {{"type", "notLoaded"}};
        listed.push_back(entry);
        const std::string id(thread["id"].as_string());
        json::object reply{{"result", {{"thread", std::move(thread)}}}};
        made.fullRefreshBytes += json::serialize(json::object{{"id", 100}, {"result", reply["result"]}}).size() + 1;
        methods["thread/read#" + id] = std::move(reply);
        if (index == 3)
            made.changingId = id;
    }
    json::object list{{"result", {{"data", std::move(listed)}, {"nextCursor", nullptr}}}};
    made.fullRefreshBytes += json::serialize(json::object{{"id", 100}, {"result", list["result"]}}).size() + 1;
    methods["thread/list"] = std::move(list);
    methods["initialize"] = json::object{{"result", {{"userAgent", "fake"}}}};
    methods["account/read"] = json::object{{"result", {{"account", {{"type", "chatgpt"}, {"planType", "plus"}}}}}};
    methods["config/read"] = json::object{{"result", {{"config", {{"model", "gpt-5.5"}, {"model_reasoning_effort", "medium"}}}}}};
    made.scenario = {{"countBytes", true},
                     {"stdio", {{"methods", std::move(methods)},
                                {"changing", {{"thread", made.changingId}, {"everyMs", 4000}, {"startMs", changesFrom.count()}}}}}};
    return made;
}

void makeRepository(const QString &path)
{
    QDir().mkpath(path);
    const auto git = [&](const QStringList &arguments) {
        QProcess process;
        process.setWorkingDirectory(path);
        process.start("/usr/bin/git", arguments);
        process.waitForFinished(30'000);
    };
    git({"init", "-q"});
    for (int file = 0; file < 50; ++file) {
        QFile source(path + QStringLiteral("/file-%1.txt").arg(file));
        source.open(QIODevice::WriteOnly);
        source.write(QByteArray(2000, 'a' + char(file % 26)));
    }
    git({"add", "."});
    git({"-c", "user.name=Bench", "-c", "user.email=bench@example.invalid", "commit", "-q", "-m", "start"});
    QFile edited(path + "/file-1.txt");
    edited.open(QIODevice::Append);
    edited.write("\nchanged\n");
}

struct ProcStat {
    double selfMs = 0;
    double childrenMs = 0;
};

ProcStat cpuOf(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const auto fields = QString::fromUtf8(file.readAll()).section(')', 1).split(' ', Qt::SkipEmptyParts);
    const double tick = 1000.0 / double(::sysconf(_SC_CLK_TCK));
    // After the command name: state is field 0, utime 11, stime 12, cutime 13, cstime 14.
    return {(fields[11].toDouble() + fields[12].toDouble()) * tick, (fields[13].toDouble() + fields[14].toDouble()) * tick};
}

double rssMb(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    file.open(QIODevice::ReadOnly);
    const auto match = QRegularExpression("VmRSS:\\s+(\\d+) kB").match(QString::fromUtf8(file.readAll()));
    return match.captured(1).toDouble() / 1024;
}

QByteArray http(const QByteArray &method, const QUrl &url)
{
    QNetworkAccessManager network;
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, method, method == "POST" ? "{}" : QByteArray()));
    waitFor([&] { return reply->isFinished(); }, 15s);
    return reply->readAll();
}

// What the fake App Server logged: the refreshes it served, the bytes it wrote, the changes.
struct LogCount {
    std::size_t refreshes = 0;
    std::size_t bytes = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> changes; // wall-clock ms, updatedAt
};

LogCount countLog(const orvane::test::FakeCodex &codex)
{
    LogCount count;
    for (const auto &event : codex.events()) {
        if (event.at("event") == "in" && event.at("line").as_string().find("\"thread/list\"") != std::string::npos)
            ++count.refreshes;
        else if (event.at("event") == "out")
            count.bytes += static_cast<std::size_t>(event.at("bytes").to_number<std::int64_t>());
        else if (event.at("event") == "changed")
            count.changes.emplace_back(event.at("atMs").to_number<std::int64_t>(), event.at("updatedAt").to_number<std::int64_t>());
    }
    return count;
}

struct Figures {
    double idleCpuPerRefreshMs = 0;
    double idleChildrenMsPerMinute = 0;
    double idleBytesShare = 0; // of a full refresh
    double idleRssMb = 0;
    double changingCpuPerRefreshMs = 0;
    double changingRssMb = 0;
    double delayMedianMs = 0;
    double delayWorstMs = 0;
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// An `orvane --headless` in a home of its own, paired through an orvane-relay process, with a
// subscriber playing the glasses that records every snapshot and when it came.
class PairedCompanion {
public:
    PairedCompanion(const QTemporaryDir &dir, const QProcessEnvironment &extra)
    {
        relay_.start(ORVANE_RELAY_EXECUTABLE, {"--listen", "127.0.0.1:0", "--data", dir.filePath("relay")});
        if (!relay_.waitForReadyRead(10'000))
            return;
        const QUrl base(QString::fromUtf8(relay_.readLine()).trimmed().section(' ', -1));
        auto environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
            QDir().mkpath(dir.filePath(name));
            environment.insert(name, dir.filePath(name));
        }
        environment.insert("ORVANE_CREDENTIAL_STORE", "file");
        environment.insert("ORVANE_RELAY_URL", base.toString());
        environment.remove("DBUS_SESSION_BUS_ADDRESS");
        environment.insert(extra);
        companion_.setProcessEnvironment(environment);
        companion_.start(ORVANE_EXECUTABLE, {"--headless"});
        if (!companion_.waitForStarted() || !waitFor([&] { return companion_.readAllStandardOutput().contains("Codex connected."); }, 120s))
            return;

        const auto pin = QJsonDocument::fromJson(http("POST", QUrl(base.toString() + "/v1/pairings"))).object();
        QProcess pairing;
        pairing.setProcessEnvironment(environment);
        pairing.start(ORVANE_EXECUTABLE, {"--pair", pin.value("pin").toString()});
        pairing.waitForFinished(30'000);
        const auto channel = QJsonDocument::fromJson(http("GET", QUrl(base.toString() + "/v1/pairings/" + pin.value("pairingId").toString()))).object();
        QObject::connect(&glasses_, &QWebSocket::textMessageReceived, [this](const QString &text) {
            auto message = json::parse(text.toStdString()).as_object();
            if (message["type"] == "snapshot")
                snapshots.emplace_back(realtimeMs(), std::move(message));
        });
        glasses_.open(QUrl("ws://" + base.authority() + "/v1/channels/" + channel.value("channelId").toString() + "/connect"));
        if (!waitFor([&] { return glasses_.state() == QAbstractSocket::ConnectedState; }, 10s))
            return;
        glasses_.sendTextMessage(QJsonDocument(QJsonObject{{"type", "authenticate"}, {"role", "subscriber"},
                                                           {"token", channel.value("subscriberToken")}}).toJson(QJsonDocument::Compact));
        ready_ = waitFor([&] { return !snapshots.empty(); }, 30s);
    }
    ~PairedCompanion()
    {
        companion_.terminate();
        companion_.waitForFinished(10'000);
        relay_.terminate();
        relay_.waitForFinished(10'000);
    }
    bool ready() const { return ready_; }
    qint64 pid() const { return companion_.processId(); }

    std::vector<std::pair<std::int64_t, json::object>> snapshots;

private:
    QProcess relay_;
    QProcess companion_;
    QWebSocket glasses_;
    bool ready_ = false;
};

std::optional<Figures> runOnce(std::chrono::seconds idle, std::chrono::seconds changing)
{
    QTemporaryDir dir;
    for (int workspace = 0; workspace < workspaceCount; ++workspace)
        makeRepository(dir.filePath(QStringLiteral("workspace-%1").arg(workspace)));
    // Changes start after the pairing and the idle window, which begins about 10 s after the start.
    const auto made = makeScenario(dir, std::chrono::duration_cast<std::chrono::milliseconds>(idle + 25s));
    orvane::test::FakeCodex codex(made.scenario);
    codex.removeDaemonSocket();
    PairedCompanion paired(dir, {});
    if (!paired.ready())
        return std::nullopt;
    const auto &snapshots = paired.snapshots;
    const qint64 pid = paired.pid();
    Figures figures;
    QTest::qWait(8000); // the first refreshes read everything
    const auto idleStart = countLog(codex);
    const auto idleCpu = cpuOf(pid);
    QTest::qWait(static_cast<int>(std::chrono::milliseconds(idle).count()));
    const auto idleEnd = countLog(codex);
    const auto idleCpuEnd = cpuOf(pid);
    const auto idleRefreshes = double(std::max<std::size_t>(1, idleEnd.refreshes - idleStart.refreshes));
    figures.idleCpuPerRefreshMs = (idleCpuEnd.selfMs - idleCpu.selfMs) / idleRefreshes;
    figures.idleChildrenMsPerMinute = (idleCpuEnd.childrenMs - idleCpu.childrenMs) * 60.0 / double(idle.count());
    figures.idleBytesShare = double(idleEnd.bytes - idleStart.bytes) / idleRefreshes / double(made.fullRefreshBytes);
    figures.idleRssMb = rssMb(pid);

    if (!waitFor([&] { return !countLog(codex).changes.empty(); }, 60s))
        return std::nullopt;
    const auto changeStart = countLog(codex);
    const auto changeCpu = cpuOf(pid);
    QTest::qWait(static_cast<int>(std::chrono::milliseconds(changing).count()));
    const auto changeEnd = countLog(codex);
    const auto changeCpuEnd = cpuOf(pid);
    figures.changingCpuPerRefreshMs = (changeCpuEnd.selfMs - changeCpu.selfMs)
                                      / double(std::max<std::size_t>(1, changeEnd.refreshes - changeStart.refreshes));
    figures.changingRssMb = rssMb(pid);

    // Each change's delay: until the first snapshot whose thread shows its "updatedAt".
    std::vector<double> delays;
    for (const auto &[at, updatedAt] : changeEnd.changes) {
        const auto iso = QDateTime::fromSecsSinceEpoch(updatedAt, Qt::UTC).toString("yyyy-MM-dd'T'HH:mm:ss.zzz'Z'").toStdString();
        for (const auto &[received, snapshot] : snapshots) {
            if (received < at)
                continue;
            const auto &threads = snapshot.at("snapshot").at("threads").as_array();
            if (std::any_of(threads.begin(), threads.end(), [&](const json::value &thread) {
                    return thread.at("id") == json::value(made.changingId) && thread.at("updatedAt").as_string() >= iso;
                })) {
                delays.push_back(double(received - at));
                break;
            }
        }
    }
    figures.delayMedianMs = median(delays);
    figures.delayWorstMs = delays.empty() ? 0 : *std::max_element(delays.begin(), delays.end());
    return figures;
}

// The CPU of every live process below `root`: the App Server child and whatever it started.
double descendantsCpuMs(qint64 root)
{
    std::map<qint64, qint64> parents;
    for (const auto &entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        QFile file("/proc/" + entry + "/stat");
        if (number && file.open(QIODevice::ReadOnly))
            parents[pid] = QString::fromUtf8(file.readAll()).section(')', 1).split(' ', Qt::SkipEmptyParts).value(1).toLongLong();
    }
    double total = 0;
    for (const auto &[pid, parent] : parents) {
        for (qint64 up = parent; up > 1 && parents.contains(up); up = parents[up])
            if (up == root) {
                total += cpuOf(pid).selfMs;
                break;
            }
    }
    return total;
}

// The same companion against a real `codex` and a Codex home holding threads, nothing changing.
int runReal(const QString &codex, const QString &home, std::chrono::seconds idle)
{
    QTemporaryDir dir;
    QProcessEnvironment extra;
    extra.insert("ORVANE_CODEX", codex);
    extra.insert("HOME", home);
    PairedCompanion paired(dir, extra);
    if (!paired.ready()) {
        std::fprintf(stderr, "the companion, the relay or the glasses did not come up\n");
        return 1;
    }
    QTest::qWait(8000);
    const auto before = cpuOf(paired.pid());
    const double serverBefore = descendantsCpuMs(paired.pid());
    QTest::qWait(static_cast<int>(std::chrono::milliseconds(idle).count()));
    const auto after = cpuOf(paired.pid());
    const double server = descendantsCpuMs(paired.pid()) - serverBefore;
    const double polls = double(idle.count()) / 4.0;
    const double self = after.selfMs - before.selfMs, children = after.childrenMs - before.childrenMs;
    std::printf("Against %s, %lld s with nothing changing (per 4 s poll)\n", qPrintable(codex), static_cast<long long>(idle.count()));
    std::printf("%-48s %9.2f ms %12s\n", "companion CPU per poll", self / polls, "< 5 ms");
    std::printf("%-48s %9.1f ms %12s\n", "children's CPU per minute (git, probes)", children * 60 / double(idle.count()), "< 50 ms");
    std::printf("%-48s %9.2f ms\n", "App Server CPU per poll", server / polls);
    std::printf("%-48s %10.2f %% %12s\n", "whole cost, of one core", (self + children + server) / double(idle.count()) / 10, "< 1 %");
    std::printf("%-48s %9.1f MB %12s\n", "companion RSS", rssMb(paired.pid()), "< 25 MB");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const auto arguments = app.arguments();
    const auto option = [&](const QString &name, int fallback) {
        const auto at = arguments.indexOf(name);
        return at >= 0 && at + 1 < arguments.size() ? arguments[at + 1].toInt() : fallback;
    };
    const int runs = option("--runs", 3);
    const std::chrono::seconds idle(option("--idle", 60)), changing(option("--changing", 40));
    // --codex PATH --codex-home DIR: the real App Server over the threads of that home instead.
    if (const auto at = arguments.indexOf("--codex"); at >= 0 && at + 1 < arguments.size())
        return runReal(arguments[at + 1], arguments.value(arguments.indexOf("--codex-home") + 1), idle);

    std::vector<Figures> all;
    for (int run = 0; run < runs; ++run) {
        auto figures = runOnce(idle, changing);
        if (!figures) {
            std::fprintf(stderr, "run %d: the companion, the relay or the glasses did not come up\n", run + 1);
            return 1;
        }
        all.push_back(*figures);
    }
    const auto of = [&](double Figures::*field) {
        std::vector<double> values;
        for (const auto &figures : all)
            values.push_back(figures.*field);
        return median(values);
    };
    std::printf("Whole-process cost, median of %d runs (%lld s idle, %lld s with one thread changing every 4 s)\n", runs,
                static_cast<long long>(idle.count()), static_cast<long long>(changing.count()));
    std::printf("%-48s %12s %12s\n", "measure", "measured", "budget");
    std::printf("%-48s %9.2f ms %12s\n", "companion CPU per idle refresh", of(&Figures::idleCpuPerRefreshMs), "< 5 ms");
    std::printf("%-48s %9.1f ms %12s\n", "children's CPU per idle minute", of(&Figures::idleChildrenMsPerMinute), "< 50 ms");
    std::printf("%-48s %10.1f %% %12s\n", "App Server bytes per idle refresh, of a full one", of(&Figures::idleBytesShare) * 100, "< 10 %");
    std::printf("%-48s %9.1f MB %12s\n", "companion RSS, idle", of(&Figures::idleRssMb), "< 25 MB");
    std::printf("%-48s %9.1f MB %12s\n", "companion RSS, one thread changing", of(&Figures::changingRssMb), "< 25 MB");
    std::printf("%-48s %9.2f ms %12s\n", "companion CPU per refresh, one thread changing", of(&Figures::changingCpuPerRefreshMs), "-");
    std::printf("%-48s %9.0f ms %12s\n", "change to glasses, median", of(&Figures::delayMedianMs), "< 1500 ms");
    std::printf("%-48s %9.0f ms %12s\n", "change to glasses, worst", of(&Figures::delayWorstMs), "< 1500 ms");
    return 0;
}
