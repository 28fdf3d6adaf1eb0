// Raw App Server objects (a thread; an account and its rate limits) through the normalizers.
#include "normalize/codex_normalizer.h"

#include <boost/json/parse.hpp>

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace orvane;
    boost::system::error_code error;
    const auto json = boost::json::parse(std::string_view(reinterpret_cast<const char *>(data), size), error);
    if (error)
        return 0;
    const auto now = std::chrono::system_clock::time_point(std::chrono::seconds(1'780'000'000));
    SharingSettings settings;
    settings.transcript = TranscriptLevel::full;
    const auto noGit = [](const std::string &) { return std::optional<GitView>(); };
    std::vector<ThreadView> threads;
    if (const auto thread = CodexNormalizer::thread(json, settings, "gpt", "high", now, noGit))
        threads.push_back(thread->view);
    const auto *object = json.if_object();
    const auto *account = object ? object->if_contains("account") : nullptr;
    const auto *limits = object ? object->if_contains("rateLimits") : nullptr;
    const auto utcDay = [](std::chrono::system_clock::time_point moment) { return std::chrono::floor<std::chrono::days>(moment); };
    (void)CodexNormalizer::usage(account ? *account : json, limits ? *limits : json, threads, true, now, utcDay);
    return 0;
}
