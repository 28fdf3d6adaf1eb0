#pragma once
// What the model's end-to-end tests share: threads and sessions for the fake App Server, and
// glasses reading the model's snapshots through an orvane-relay on loopback.
#include "companion/companion_model.h"
#include "process_harness.h"

#include <fixture.h>

#include <boost/json.hpp>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace orvane::test {

namespace json = boost::json;

// One thread as the App Server keeps it.
struct ThreadShape {
    std::string id;
    std::string state = "finished"; // "finished" (turn completed) or "thinking" (turn in progress)
    std::int64_t updatedAt = 1796590000;
    int answers = 1;               // agent messages in the latest turn
    std::size_t answerLength = 40; // characters of each
};

// As thread/read answers it, with its turn and items; as thread/list lists it, without.
json::object fullThread(const ThreadShape &shape);
json::object listEntry(const ThreadShape &shape);
inline std::string turnId(const std::string &threadId) { return "turn-" + threadId; }

// An App Server session holding `threads`: the list, one read per thread, an account, rate
// limits, and a configuration nesting "model" as the real one does.
json::object session(const std::vector<ThreadShape> &threads);

// Polling at `polling`, quick relay reconnects.
CompanionModelOptions testOptions(std::chrono::milliseconds polling = std::chrono::hours(1));

// Paired glasses: an in-process relay (ORVANE_RELAY_URL points at it while this lives), the
// pairing stored in the Secret Service for the next model, and a subscriber socket.
struct Glasses {
    Glasses();
    ~Glasses();
    // Authenticates the subscriber; call once the model has started.
    bool connect() { return socket.authenticate(relay.socketUrl(pairing), "subscriber", pairing.subscriberToken); }
    // The first snapshot made after the model connected to Codex.
    std::optional<json::object> connectedSnapshot();
    void sendCommand(const json::object &command);

    LocalRelay relay;
    LocalRelay::Pairing pairing;
    TestSocket socket;
};

// A command from the glasses, expiring `lifetime` from now.
json::object command(std::string type, std::string commandId = "6B29FC40-CA47-1067-B31D-00DD010662DA",
                     std::chrono::seconds lifetime = std::chrono::seconds(60));

// Destroys `model` right after a refresh ends, so no refresh is left half done.
void destroyWhenIdle(std::unique_ptr<CompanionModel> &model);

// The requests an App Server received for `method`, parsed, in order.
std::vector<json::object> requests(const std::vector<std::string> &received, std::string_view method);

} // namespace orvane::test
