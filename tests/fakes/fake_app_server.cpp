// A stand-in for `codex` playing the scenario named by ORVANE_FAKE_SCENARIO (fake_app_server.md).
#include "websocket_server_peer.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <boost/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <vector>
#include <unistd.h>

namespace json = boost::json;

namespace {

json::object scenario;
std::map<std::string, int> callCounts;
std::string pending; // bytes received without a line feed yet
QSocketNotifier *input = nullptr;
// Set in proxy mode, which speaks the daemon's WebSocket on standard input and output.
std::optional<orvane::test::WebSocketServerPeer> websocket;
std::string opening; // messages written before the upgrade wait for it

void log(json::object event)
{
    const auto *path = scenario.if_contains("log");
    if (!path || !path->is_string())
        return;
    event["pid"] = static_cast<std::int64_t>(::getpid());
    std::ofstream(std::string(path->as_string()), std::ios::app) << json::serialize(event) << '\n';
}

void writeAll(std::string_view bytes)
{
    while (!bytes.empty()) {
        const auto written = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (written <= 0)
            std::_Exit(3);
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

orvane::test::WebSocketServerPeer::Answer handshakeAnswer(const json::object &session)
{
    using Answer = orvane::test::WebSocketServerPeer::Answer;
    const auto *name = session.if_contains("handshake");
    if (!name)
        return Answer::Accept;
    return *name == "wrongKey" ? Answer::WrongKey : *name == "silent" ? Answer::Silent : Answer::Accept;
}

// Newline-separated output as text frames, bytes after the last line feed as one more; a reply's
// `ping` goes before them and its `close` after.
std::string framed(std::string_view lines, const json::object &reply)
{
    std::string bytes;
    if (const auto *ping = reply.if_contains("ping"); ping && ping->is_string())
        bytes += websocket->ping(ping->as_string());
    while (!lines.empty()) {
        const auto end = lines.find('\n');
        bytes += websocket->text(lines.substr(0, end));
        lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
    }
    if (const auto *code = reply.if_contains("close"))
        bytes += websocket->close(static_cast<std::uint16_t>(code->as_int64()));
    return bytes;
}

// Bytes from the client: answers the upgrade and close frames and returns whole messages; a
// frame a server must reject ends the process.
std::vector<std::string> unframe(std::string_view bytes)
{
    const bool wasUpgraded = websocket->upgraded();
    auto received = websocket->feed(bytes);
    writeAll(received.reply);
    if (!wasUpgraded && websocket->upgraded())
        writeAll(framed(std::exchange(opening, {}), {}));
    for (const auto &payload : received.pongs)
        log({{"event", "pong"}, {"payload", payload}});
    if (received.failed)
        std::_Exit(4);
    return received.messages;
}

// A message given as a string is written as that raw line, "{id}" standing for the request's id;
// anything else as compact JSON.
std::string line(const json::value &message, const json::value &id = nullptr)
{
    if (!message.is_string())
        return json::serialize(message) + "\n";
    std::string text(message.as_string());
    if (const auto at = text.find("{id}"); at != std::string::npos)
        text.replace(at, 4, json::serialize(id));
    return text + "\n";
}

std::string messages(const json::object &reply, std::string_view key, const json::value &id = nullptr)
{
    std::string bytes;
    if (const auto *list = reply.if_contains(key); list && list->is_array())
        for (const auto &message : list->as_array())
            bytes += line(message, id);
    return bytes;
}

std::int64_t integer(const json::object &object, std::string_view key, std::int64_t fallback)
{
    const auto *value = object.if_contains(key);
    return value && value->is_int64() ? value->as_int64() : fallback;
}

// The reply for the n-th call of a method: a list plays its entries in turn, then repeats the last.
json::object replyFor(const json::object &session, const std::string &method)
{
    const auto *methods = session.if_contains("methods");
    const json::value *reply = methods && methods->is_object() ? methods->as_object().if_contains(method) : nullptr;
    if (!reply)
        reply = session.if_contains("default");
    if (!reply)
        return {{"error", {{"code", -32601}, {"message", "unknown method " + method}}}};
    if (reply->is_array()) {
        const auto &list = reply->as_array();
        const auto index = std::min<std::size_t>(static_cast<std::size_t>(callCounts[method]++), list.size() - 1);
        return list.at(index).as_object();
    }
    return reply->as_object();
}

void play(const json::object &reply, const json::value &id)
{
    std::string bytes = messages(reply, "before", id);
    if (const auto *code = reply.if_contains("exit")) {
        writeAll(websocket ? framed(bytes, {}) : bytes);
        std::_Exit(static_cast<int>(code->as_int64()));
    }
    if (!reply.contains("silent")) {
        json::object response{{"id", id}};
        if (const auto *error = reply.if_contains("error"))
            response["error"] = *error;
        else
            response["result"] = reply.contains("result") ? reply.at("result") : json::value(nullptr);
        bytes += json::serialize(response) + "\n";
    }
    bytes += messages(reply, "after", id);
    if (const auto flood = integer(reply, "flood", 0); flood > 0)
        bytes += std::string(static_cast<std::size_t>(flood), 'x');

    if (reply.contains("closeInput")) {
        // Stops reading but lives on: the client's next write meets a broken pipe.
        input->setEnabled(false);
        ::close(STDIN_FILENO);
    }
    if (websocket)
        bytes = framed(bytes, reply);
    // The cost benchmark's measure of what a refresh moves.
    if (scenario.contains("countBytes"))
        log({{"event", "out"}, {"bytes", bytes.size()}});
    writeAll(bytes);
}

void receive(const json::object &session, const std::string &text)
{
    log({{"event", "in"}, {"line", text}});
    json::error_code error;
    auto message = json::parse(text, error);
    if (error || !message.is_object())
        return;
    const auto *method = message.as_object().if_contains("method");
    const auto *id = message.as_object().if_contains("id");
    if (!method || !method->is_string() || !id)
        return;
    // A reply for one thread ("thread/read#<threadId>") comes before the method's own.
    std::string name(method->as_string());
    const auto *params = message.as_object().if_contains("params");
    const auto *thread = params && params->is_object() ? params->as_object().if_contains("threadId") : nullptr;
    const auto *methods = session.if_contains("methods");
    if (thread && thread->is_string() && methods && methods->is_object()
        && methods->as_object().contains(name + "#" + std::string(thread->as_string())))
        name += "#" + std::string(thread->as_string());
    auto reply = replyFor(session, name);
    const auto delay = integer(reply, "delayMs", 0);
    if (delay <= 0) {
        play(reply, *id);
        return;
    }
    QTimer::singleShot(static_cast<int>(delay), [reply, id = *id] { play(reply, id); });
}

// Like the npm launcher: a parent that keeps signals to itself and waits for the App Server it
// started, which shares its standard input and output.
void becomeLauncher()
{
    const pid_t child = ::fork();
    if (child == 0)
        return;
    std::signal(SIGTERM, SIG_IGN);
    int status = 0;
    ::waitpid(child, &status, 0);
    std::_Exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

std::int64_t realtimeMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// One more agent message in the thread's latest turn, a later "updatedAt" in its read and list
// replies, and the notification the App Server would send.
void changeThread(json::object &session, const std::string &id)
{
    auto &methods = session["methods"].as_object();
    auto &thread = methods["thread/read#" + id].as_object()["result"].as_object()["thread"].as_object();
    const auto updatedAt = thread["updatedAt"].to_number<std::int64_t>() + 1;
    thread["updatedAt"] = updatedAt;
    auto &items = thread["turns"].as_array().back().as_object()["items"].as_array();
    items.push_back(json::object{{"type", "agentMessage"}, {"id", id + "-change-" + std::to_string(updatedAt)},
                                 {"text", "Change " + std::to_string(updatedAt) + " made."}});
    for (auto &entry : methods["thread/list"].as_object()["result"].as_object()["data"].as_array())
        if (entry.as_object()["id"] == json::value(id))
            entry.as_object()["updatedAt"] = updatedAt;
    writeAll(line(json::object{{"method", "item/completed"}, {"params", {{"threadId", id}}}}));
    log({{"event", "changed"}, {"atMs", realtimeMs()}, {"updatedAt", updatedAt}});
}

int serve(int argc, char **argv, const json::object &scripted, bool proxy)
{
    json::object session = scripted;
    if (session.contains("launcher"))
        becomeLauncher();
    if (session.contains("ignoreTerminate"))
        std::signal(SIGTERM, SIG_IGN);
    const bool outlivesInput = session.contains("ignoreInputEnd");
    QCoreApplication app(argc, argv);
    if (proxy) {
        websocket.emplace(handshakeAnswer(session));
        opening = messages(session, "onStart");
    } else {
        writeAll(messages(session, "onStart"));
    }

    QTimer changes;
    if (const auto *changing = session.if_contains("changing"); changing && changing->is_object()) {
        const std::string id(changing->as_object().at("thread").as_string());
        QObject::connect(&changes, &QTimer::timeout, [&session, id] { changeThread(session, id); });
        changes.setInterval(static_cast<int>(integer(changing->as_object(), "everyMs", 4000)));
        QTimer::singleShot(static_cast<int>(integer(changing->as_object(), "startMs", 0)), &changes,
                           qOverload<>(&QTimer::start));
    }

    QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
    input = &notifier;
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char chunk[65536];
        const auto count = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (count <= 0) {
            // Like the App Server: the end of its input ends it.
            if (!outlivesInput)
                std::_Exit(0);
            notifier.setEnabled(false);
            return;
        }
        if (websocket) {
            for (const auto &message : unframe(std::string_view(chunk, static_cast<std::size_t>(count))))
                receive(session, message);
            return;
        }
        pending.append(chunk, static_cast<std::size_t>(count));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const auto text = pending.substr(0, end);
            pending.erase(0, end + 1);
            receive(session, text);
        }
    });
    return QCoreApplication::exec();
}

// `--version` and the daemon probe: print, exit with a status, or never exit.
int shortCommand(const json::value *scripted, std::string_view fallbackOutput, int fallbackStatus)
{
    const auto command = scripted ? scripted->as_object() : json::object();
    if (command.contains("launcher"))
        becomeLauncher();
    if (command.contains("hang"))
        for (;;)
            ::pause();
    std::this_thread::sleep_for(std::chrono::milliseconds(integer(command, "delayMs", 0)));
    const auto *output = command.if_contains("output");
    const auto *hex = command.if_contains("outputHex");
    writeAll(hex ? QByteArray::fromHex(hex->as_string().c_str()).toStdString()
                 : output ? std::string(output->as_string()) : std::string(fallbackOutput));
    return static_cast<int>(integer(command, "exitCode", fallbackStatus));
}

}

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    if (const char *path = std::getenv("ORVANE_FAKE_SCENARIO")) {
        std::ifstream file(path);
        scenario = json::parse(std::string(std::istreambuf_iterator<char>(file), {})).as_object();
    }
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string joined;
    for (const auto &argument : arguments)
        joined += (joined.empty() ? "" : " ") + argument;
    log({{"event", "launch"}, {"args", joined}});

    using Arguments = std::vector<std::string>;
    if (arguments == Arguments{"--version"})
        return shortCommand(scenario.if_contains("version"), "codex-cli 0.0.0-fake\n", 0);
    if (arguments == Arguments{"app-server", "daemon", "version"}) {
        // A probe that finds the lock taken runs beside another, and says so.
        const auto *logPath = scenario.if_contains("log");
        const auto lock = logPath ? std::string(logPath->as_string()) + ".probe" : std::string("/dev/null");
        if (::flock(::open(lock.c_str(), O_CREAT | O_RDWR, 0600), LOCK_EX | LOCK_NB) != 0)
            log({{"event", "overlap"}});
        return shortCommand(scenario.if_contains("daemon"), "", 1);
    }
    const char *mode = arguments == Arguments{"app-server", "--stdio"} ? "stdio"
                       : arguments == Arguments{"app-server", "proxy"} ? "proxy"
                                                                      : nullptr;
    const auto *session = mode ? scenario.if_contains(mode) : nullptr;
    if (!session || !session->is_object())
        return 2;
    return serve(argc, argv, session->as_object(), std::string_view(mode) == "proxy");
}
