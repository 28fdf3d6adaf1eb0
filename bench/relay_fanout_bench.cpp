// Fan-out through an orvane-relay process: one publisher, 1 and 8 subscribers (plain and with
// permessage-deflate), 250 KB snapshots every 4 seconds and then a burst of 100 in a row. Prints
// the relay's CPU time per snapshot per subscriber, its resident memory, what reached the
// subscribers and the bytes per snapshot on the wire. Arguments are ignored.
#include "raw_relay_client.h"
#include "snapshot_frame.h"

#include <boost/json.hpp>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

extern char **environ;

namespace {

using namespace orvane::test;
using namespace std::chrono_literals;

struct RelayProcess {
    pid_t pid = -1;
    std::uint16_t port = 0;

    RelayProcess()
    {
        char data[] = "/tmp/orvane-relay-bench-XXXXXX";
        int output[2];
        if (!mkdtemp(data) || pipe(output) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const char *arguments[] = {ORVANE_RELAY_EXECUTABLE, "--listen", "127.0.0.1:0", "--data", data, nullptr};
        posix_spawn(&pid, arguments[0], &actions, nullptr, const_cast<char **>(arguments), environ);
        close(output[1]);
        char line[256] = {};
        const ssize_t size = read(output[0], line, sizeof line - 1);
        close(output[0]);
        const std::string text(line, size > 0 ? static_cast<std::size_t>(size) : 0);
        port = static_cast<std::uint16_t>(std::atoi(text.substr(text.rfind(':') + 1).c_str()));
    }
    ~RelayProcess()
    {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    // CPU seconds so far over all its threads, from the scheduler's nanosecond counts.
    double cpuSeconds() const
    {
        double nanoseconds = 0;
        const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
        for (const auto &task : std::filesystem::directory_iterator(tasks)) {
            std::ifstream schedstat(task.path() / "schedstat");
            double running = 0;
            schedstat >> running;
            nanoseconds += running;
        }
        return nanoseconds / 1e9;
    }
    long statusKilobytes(const std::string &key) const
    {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with(key + ":"))
                return std::atol(line.c_str() + key.size() + 1);
        return 0;
    }
};

std::string request(const std::string &method, const std::string &path, const std::string &body = "")
{
    return method + " " + path + " HTTP/1.1\r\nHost: relay\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

struct Channel {
    std::string id, publisherToken, subscriberToken;
};

Channel pair(std::uint16_t port)
{
    RawRelayClient client("127.0.0.1", port);
    const auto issued = boost::json::parse(client.http(request("POST", "/v1/pairings", "{}")).body).as_object();
    const std::string pin(issued.at("pin").as_string());
    const auto channel = boost::json::parse(client.http(request("POST", "/v1/pairings/complete", R"({"pin":")" + pin + "\"}")).body).as_object();
    const auto glasses = boost::json::parse(client.http(request("GET", "/v1/pairings/" + std::string(issued.at("pairingId").as_string()))).body).as_object();
    return {std::string(channel.at("channelId").as_string()), std::string(channel.at("publisherToken").as_string()),
            std::string(glasses.at("subscriberToken").as_string())};
}

std::unique_ptr<RawRelayClient> join(std::uint16_t port, const Channel &channel, bool publisher, bool deflate)
{
    auto client = std::make_unique<RawRelayClient>("127.0.0.1", port);
    client->upgrade("/v1/channels/" + channel.id + "/connect", deflate);
    client->sendText(std::string(R"({"type":"authenticate","role":")") + (publisher ? "publisher" : "subscriber") +
                     R"(","token":")" + (publisher ? channel.publisherToken : channel.subscriberToken) + "\"}");
    client->nextMessage();
    return client;
}

struct Delivery {
    int messages = 0;
    std::uint64_t wireBytes = 0;
};

// Sends `count` snapshots `interval` apart while every subscriber reads on its own thread.
std::vector<Delivery> publish(RawRelayClient &publisher, std::vector<std::unique_ptr<RawRelayClient>> &subscribers,
                              int count, std::chrono::milliseconds interval, int &sequence)
{
    std::vector<Delivery> delivered(subscribers.size());
    std::vector<std::thread> readers;
    for (std::size_t i = 0; i < subscribers.size(); ++i)
        readers.emplace_back([&, i] {
            const std::uint64_t before = subscribers[i]->wireBytes();
            while (delivered[i].messages < count && subscribers[i]->nextMessage(interval + 5s))
                ++delivered[i].messages;
            delivered[i].wireBytes = subscribers[i]->wireBytes() - before;
        });
    for (int i = 0; i < count; ++i) {
        publisher.sendText(snapshotFrame(++sequence, 250'000));
        std::this_thread::sleep_for(interval);
    }
    for (std::thread &reader : readers)
        reader.join();
    return delivered;
}

void scenario(std::size_t subscriberCount, bool deflate)
{
    RelayProcess relay;
    const Channel channel = pair(relay.port);
    auto publisher = join(relay.port, channel, true, false);
    std::vector<std::unique_ptr<RawRelayClient>> subscribers;
    for (std::size_t i = 0; i < subscriberCount; ++i)
        subscribers.push_back(join(relay.port, channel, false, deflate));
    int sequence = 0;
    const struct {
        const char *name;
        int count;
        std::chrono::milliseconds interval;
    } phases[] = {{"every 4 s", 5, 4000ms}, {"burst of 100", 100, 0ms}};
    for (const auto &phase : phases) {
        const double cpuBefore = relay.cpuSeconds();
        const auto delivered = publish(*publisher, subscribers, phase.count, phase.interval, sequence);
        const double cpu = relay.cpuSeconds() - cpuBefore;
        int messages = 0;
        std::uint64_t wire = 0;
        for (const Delivery &delivery : delivered) {
            messages += delivery.messages;
            wire += delivery.wireBytes;
        }
        std::printf("%zu subscriber(s) %-7s %-13s relay CPU %.3f ms per snapshot per subscriber, RSS %ld kB "
                    "(peak %ld kB), delivered %d of %zu, %.0f bytes per snapshot on the wire\n",
                    subscriberCount, deflate ? "deflate" : "plain", phase.name,
                    1000 * cpu / double(phase.count * subscriberCount), relay.statusKilobytes("VmRSS"),
                    relay.statusKilobytes("VmHWM"), messages, phase.count * subscriberCount,
                    messages ? double(wire) / messages : 0.0);
        std::fflush(stdout);
    }
}

} // namespace

int main()
{
    for (const bool deflate : {false, true})
        for (const std::size_t subscribers : {1u, 8u})
            scenario(subscribers, deflate);
}
