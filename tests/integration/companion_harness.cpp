#include "companion_harness.h"

#include "model/date_formatting.h"
#include "relay/keychain_store.h"


namespace orvane::test {

json::object fullThread(const ThreadShape &shape)
{
    json::array items{json::object{
        {"type", "userMessage"},
        {"id", shape.id + "-ask"},
        {"content", json::array{json::object{{"type", "text"}, {"text", "Work on " + shape.id}, {"text_elements", json::array()}}}}}};
    for (int index = 0; index < shape.answers; ++index) {
        std::string text = shape.id + " answer " + std::to_string(index) + " ";
        text.resize(std::max(shape.answerLength, text.size()), 'a');
        items.push_back(json::object{{"type", "agentMessage"}, {"id", shape.id + "-" + std::to_string(index)}, {"text", text}});
    }
    const bool running = shape.state == "thinking";
    json::object turn{{"id", turnId(shape.id)}, {"status", running ? "inProgress" : "completed"},
                      {"startedAt", shape.updatedAt - 60}, {"items", std::move(items)}};
    if (!running) {
        turn["completedAt"] = shape.updatedAt;
        turn["durationMs"] = 60000;
    }
    auto thread = listEntry(shape);
    thread["status"] = json::object{{"type", running ? "active" : "idle"}};
    thread["turns"] = json::array{std::move(turn)};
    return thread;
}

json::object listEntry(const ThreadShape &shape)
{
    return {{"id", shape.id}, {"preview", "Task " + shape.id}, {"name", nullptr},
            {"createdAt", shape.updatedAt - 600}, {"updatedAt", shape.updatedAt},
            {"cwd", "/nonexistent/orvane-test/" + shape.id}, {"status", {{"type", "notLoaded"}}}, {"turns", json::array()}};
}

json::object session(const std::vector<ThreadShape> &threads)
{
    auto methods = fixture("session.json").as_object();
    methods.erase("comment");
    json::array listed;
    for (const auto &shape : threads) {
        listed.push_back(listEntry(shape));
        methods["thread/read#" + shape.id] = json::object{{"result", {{"thread", fullThread(shape)}}}};
    }
    methods["thread/list"] = json::object{{"result", {{"data", std::move(listed)}, {"nextCursor", nullptr}}}};
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

std::optional<json::object> Glasses::connectedSnapshot()
{
    // The relay may keep one from before the first refresh.
    std::optional<json::object> snapshot;
    while ((snapshot = nextSnapshot(socket)) && snapshot->at("companion").at("connected") != true) {
    }
    return snapshot;
}

void Glasses::sendCommand(const json::object &command)
{
    socket.send(QByteArray::fromStdString(json::serialize(json::object{{"type", "command"}, {"command", command}})));
}

json::object command(std::string type, std::string commandId, std::chrono::seconds lifetime)
{
    auto expiry = DateFormatting::iso(std::chrono::system_clock::now() + lifetime);
    return {{"type", std::move(type)}, {"commandId", std::move(commandId)}, {"expiresAt", expiry.erase(expiry.size() - 5, 4)}};
}

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
        if (const auto *name = message.if_contains("method"); name && *name == json::value(method))
            found.push_back(std::move(message));
    }
    return found;
}

} // namespace orvane::test
