#include "companion_harness.h"

#include "model/date_formatting.h"
#include "relay/keychain_store.h"

#include <QtGlobal>

namespace orvane::test {

std::string turnId(const std::string &threadId)
{
    return "turn-" + threadId;
}

json::object fullThread(const ThreadSpec &spec)
{
    json::array items{json::object{
        {"type", "userMessage"},
        {"id", spec.id + "-ask"},
        {"content", json::array{json::object{{"type", "text"}, {"text", "Work on " + spec.id}, {"text_elements", json::array()}}}}}};
    for (int index = 0; index < spec.answers; ++index) {
        std::string text = spec.id + " answer " + std::to_string(index) + " ";
        text.resize(std::max(spec.answerLength, text.size()), 'a');
        items.push_back(json::object{{"type", "agentMessage"}, {"id", spec.id + "-" + std::to_string(index)}, {"text", text}});
    }
    const bool running = spec.state == "thinking";
    json::object turn{{"id", turnId(spec.id)},
                      {"status", running ? "inProgress" : "completed"},
                      {"startedAt", spec.updatedAt - 60},
                      {"items", std::move(items)}};
    if (!running) {
        turn["completedAt"] = spec.updatedAt;
        turn["durationMs"] = 60000;
    }
    auto thread = listEntry(spec);
    thread["status"] = json::object{{"type", running ? "active" : "idle"}};
    thread["turns"] = json::array{std::move(turn)};
    return thread;
}

json::object listEntry(const ThreadSpec &spec)
{
    return {{"id", spec.id},
            {"preview", "Task " + spec.id},
            {"name", nullptr},
            {"createdAt", spec.updatedAt - 600},
            {"updatedAt", spec.updatedAt},
            {"cwd", "/nonexistent/orvane-test/" + spec.id},
            {"status", {{"type", "notLoaded"}}},
            {"turns", json::array()}};
}

json::object session(const std::vector<ThreadSpec> &threads)
{
    json::array listed;
    json::object methods;
    for (const auto &spec : threads) {
        listed.push_back(listEntry(spec));
        methods["thread/read#" + spec.id] = json::object{{"result", {{"thread", fullThread(spec)}}}};
    }
    methods["initialize"] = json::object{{"result", {{"userAgent", "fake"}}}};
    methods["thread/list"] = json::object{{"result", {{"data", std::move(listed)}, {"nextCursor", nullptr}}}};
    methods["account/read"] = json::object{
        {"result", {{"account", {{"type", "chatgpt"}, {"email", "tester@example.invalid"}, {"planType", "plus"}}},
                    {"requiresOpenaiAuth", true}}}};
    methods["account/rateLimits/read"] = json::object{
        {"result", {{"rateLimits", {{"primary", {{"usedPercent", 25}, {"windowDurationMins", 300}, {"resetsAt", 1796600000}}}}}}}};
    methods["config/read"] = json::object{
        {"result", {{"config", {{"model", "gpt-from-config"}, {"model_reasoning_effort", "high"}}}}}};
    methods["turn/interrupt"] = json::object{{"result", json::object()}};
    return {{"methods", std::move(methods)}};
}

CompanionModelOptions testOptions(std::chrono::milliseconds polling)
{
    CompanionModelOptions options;
    options.pollingInterval = polling;
    options.relayTiming.reconnectDelay = [](int) { return std::chrono::milliseconds(50); };
    options.appServer.requestTimeout = std::chrono::seconds(5);
    return options;
}

Glasses::Glasses()
{
    relay.start();
    pairing = relay.pair();
    qputenv("ORVANE_RELAY_URL", relay.baseUrl().toString().toUtf8());
    KeychainStore::save(encode(pairing.credentials), CompanionModel::credentialAccount);
}

Glasses::~Glasses()
{
    qunsetenv("ORVANE_RELAY_URL");
    KeychainStore::remove(CompanionModel::credentialAccount);
}

bool Glasses::connect()
{
    return socket.authenticate(socketUrl(relay.baseUrl(), QString::fromStdString(pairing.credentials.channelId)),
                               QStringLiteral("subscriber"), pairing.subscriberToken);
}

std::optional<json::object> Glasses::next(std::string_view type, bool strict, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        const auto message = socket.next(left);
        if (!message)
            return std::nullopt;
        auto parsed = json::parse(message->toStdString()).as_object();
        if (const auto &kind = parsed.at("type"); kind.is_string() && kind.as_string() == type)
            return parsed;
        if (strict)
            return std::nullopt;
    }
}

std::optional<json::object> Glasses::nextSnapshot(std::chrono::milliseconds limit)
{
    auto message = next("snapshot", false, limit);
    if (!message)
        return std::nullopt;
    return message->at("snapshot").as_object();
}

void Glasses::sendCommand(const json::object &command)
{
    socket.send(QByteArray::fromStdString(json::serialize(json::object{{"type", "command"}, {"command", command}})));
}

std::string isoWholeSeconds(std::chrono::system_clock::time_point moment)
{
    auto text = DateFormatting::iso(moment);
    return text.erase(text.size() - 5, 4);
}

json::object command(std::string type, std::string commandId, std::chrono::seconds lifetime)
{
    return {{"type", std::move(type)},
            {"commandId", std::move(commandId)},
            {"expiresAt", isoWholeSeconds(std::chrono::system_clock::now() + lifetime)}};
}

} // namespace orvane::test

namespace orvane::test {

void destroyWhenIdle(std::unique_ptr<CompanionModel> &model)
{
    // Every refresh ends by assigning lastError and publishing, all without suspending.
    bool ended = false;
    QObject::connect(model.get(), &CompanionModel::lastErrorChanged, [&ended] { ended = true; });
    waitUntil([&] { return ended; }, std::chrono::seconds(20));
    model.reset();
}

std::vector<json::object> requests(const std::vector<std::string> &received, std::string_view method)
{
    std::vector<json::object> found;
    for (const auto &line : received) {
        auto message = json::parse(line).as_object();
        if (const auto *name = message.if_contains("method"); name && name->is_string() && name->as_string() == method)
            found.push_back(std::move(message));
    }
    return found;
}

} // namespace orvane::test
