#include <algorithm>
#include <cctype>

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include "normalize/raw_json.h"
#include "normalize/redactor.h"
#include "normalize/thread_rules.h"

namespace orvane::CodexNormalizer::ThreadRules {

namespace {

constexpr std::size_t transcriptCapacity = 100;

std::string freshUuid()
{
    thread_local boost::uuids::random_generator generator;
    std::string text = boost::uuids::to_string(generator());
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::optional<std::string> userText(const boost::json::object &item)
{
    const auto *content = RawJson::objectArray(item, "content");
    if (!content)
        return std::nullopt;
    std::string joined;
    bool first = true;
    for (const auto &element : *content) {
        const auto &part = element.get_object();
        if (RawJson::text(part, "type") != "text")
            continue;
        const auto text = RawJson::text(part, "text");
        if (!text)
            continue;
        if (!first)
            joined += '\n';
        joined += *text;
        first = false;
    }
    return joined;
}

// The entry an item adds to the transcript, if any.
std::optional<TranscriptEntry> entryFor(const boost::json::object &item, TranscriptLevel level,
                                        const std::string &updatedAt, const RedactionContext &context)
{
    const auto type = RawJson::text(item, "type");
    std::optional<std::string> text;
    std::string_view kind;
    if (type == "userMessage") {
        text = userText(item);
        kind = "user";
    } else if (const auto answer = RawJson::text(item, "text");
               type == "agentMessage" && answer && !answer->empty()) {
        text = std::string(*answer);
        kind = "assistant";
    } else if (level == TranscriptLevel::activity || level == TranscriptLevel::full) {
        text = activityLabel(type.value_or(""), item);
        kind = "activity";
    }
    if (!text || text->empty())
        return std::nullopt;
    auto redacted = Redactor::redact(*text, Redactor::transcriptLimit, context);
    const auto id = RawJson::text(item, "id");
    return TranscriptEntry{
        .id = id ? std::string(*id) : freshUuid(),
        .kind = std::string(kind),
        .text = std::move(redacted.text),
        .createdAt = updatedAt,
        .redactionCount = redacted.count,
    };
}

} // namespace

std::optional<std::string> activityLabel(std::string_view type, const boost::json::object &item)
{
    if (type == "commandExecution") {
        return RawJson::text(item, "status") == "failed" ? "A local command failed"
                                                         : "Ran a local command";
    }
    if (type == "fileChange")
        return "Edited local files";
    if (type == "mcpToolCall")
        return "Used a connected tool";
    if (type == "dynamicToolCall")
        return "Used an app tool";
    if (type == "webSearch")
        return "Searched the web";
    if (type == "imageView")
        return "Inspected an image";
    if (type == "contextCompaction")
        return "Compacted the thread context";
    return std::nullopt;
}

std::optional<std::vector<TranscriptEntry>> buildTranscript(const boost::json::array &items,
                                                            TranscriptLevel level,
                                                            const std::string &updatedAt,
                                                            const RedactionContext &context)
{
    if (level == TranscriptLevel::none)
        return std::nullopt;
    // Each item adds at most one entry of its own, so walking back from the newest and stopping
    // at the capacity keeps the same entries without redacting the ones that would be dropped.
    std::vector<TranscriptEntry> entries;
    for (auto it = items.rbegin(); it != items.rend() && entries.size() < transcriptCapacity; ++it) {
        const auto *item = it->if_object();
        if (!item)
            continue;
        if (auto entry = entryFor(*item, level, updatedAt, context))
            entries.push_back(std::move(*entry));
    }
    std::reverse(entries.begin(), entries.end());
    return entries;
}

} // namespace orvane::CodexNormalizer::ThreadRules
