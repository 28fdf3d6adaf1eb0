#include <algorithm>

#include "model/date_formatting.h"
#include "normalize/codex_normalizer.h"
#include "normalize/raw_json.h"
#include "normalize/redactor.h"
#include "normalize/thread_rules.h"

namespace orvane::CodexNormalizer {

namespace ThreadRules {

std::optional<std::int64_t> durationSeconds(const boost::json::object &turn,
                                            std::chrono::system_clock::time_point now)
{
    const auto durationMs = RawJson::number(turn, "durationMs");
    const auto started = RawJson::number(turn, "startedAt");
    const auto completed = RawJson::number(turn, "completedAt");
    std::optional<double> seconds;
    if (durationMs)
        seconds = *durationMs / 1000.0;
    else if (started && completed)
        seconds = *completed - *started;
    else if (started && RawJson::text(turn, "status") == "inProgress")
        seconds = RawJson::secondsSince1970(now) - *started;
    // A turn that has not ended where we can see it has no duration to show.
    if (!seconds)
        return std::nullopt;
    const auto whole = RawJson::truncatedInt(*seconds);
    if (!whole)
        return std::nullopt;
    return std::max<std::int64_t>(*whole, 0);
}

} // namespace ThreadRules

namespace {

constexpr std::int64_t titleLimit = 500;

std::string rawTitle(const boost::json::object &raw)
{
    for (const auto *key : {"name", "preview"}) {
        if (const auto text = RawJson::text(raw, key); text && !text->empty())
            return std::string(*text);
    }
    return "Untitled Codex task";
}

// The turn with the greatest "startedAt" (missing counts as 0); the first of equals wins.
const boost::json::object *latestTurn(const boost::json::object &raw)
{
    const auto *turns = RawJson::objectArray(raw, "turns");
    if (!turns)
        return nullptr;
    const boost::json::object *latest = nullptr;
    double latestStart = 0;
    for (const auto &element : *turns) {
        const auto &turn = element.get_object();
        const double start = RawJson::number(turn, "startedAt").value_or(0);
        if (!latest || start > latestStart) {
            latest = &turn;
            latestStart = start;
        }
    }
    return latest;
}

std::optional<std::string> timestampText(std::optional<double> seconds)
{
    if (!seconds)
        return std::nullopt;
    const auto moment = RawJson::momentFromSeconds(*seconds);
    if (!moment)
        return std::nullopt;
    return DateFormatting::iso(*moment);
}

struct Attention {
    bool required = false;
    std::optional<std::string> type;
};

Attention attentionFor(ThreadState state)
{
    switch (state) {
    case ThreadState::waitingForApproval:
        return {true, "approval"};
    case ThreadState::waitingForUser:
        return {true, "question"};
    case ThreadState::failed:
        return {true, "failure"};
    default:
        return {};
    }
}

const boost::json::object *lastAgentMessage(const boost::json::array &items)
{
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        const auto &item = it->get_object();
        if (RawJson::text(item, "type") == "agentMessage")
            return &item;
    }
    return nullptr;
}

std::optional<RedactionResult> finalSummary(ThreadState state, const boost::json::array &items,
                                           const RedactionContext &context)
{
    if (state != ThreadState::finished)
        return std::nullopt;
    const auto *message = lastAgentMessage(items);
    const auto text = message ? RawJson::text(*message, "text") : std::nullopt;
    if (!text)
        return std::nullopt;
    return Redactor::redact(*text, Redactor::summaryLimit, context);
}

} // namespace

std::optional<NormalizedThreadResult> thread(const boost::json::object &raw,
                                             const SharingSettings &settings,
                                             const std::optional<std::string> &model,
                                             const std::optional<std::string> &effort,
                                             std::chrono::system_clock::time_point now,
                                             const GitSummary &gitSummary)
{
    const auto id = RawJson::text(raw, "id");
    // A moment the clock cannot hold is as unusable as a missing one.
    const auto updatedAt = timestampText(RawJson::number(raw, "updatedAt"));
    if (!id || !updatedAt)
        return std::nullopt;

    const auto cwdText = RawJson::text(raw, "cwd");
    const std::optional<std::string> cwd = cwdText ? std::optional<std::string>(*cwdText) : std::nullopt;
    const auto *turn = latestTurn(raw);
    const ThreadState state = ThreadRules::deriveState(raw, turn);
    static const boost::json::array noItems;
    const auto *turnItems = turn ? RawJson::objectArray(*turn, "items") : nullptr;
    const auto &items = turnItems ? *turnItems : noItems;
    const Attention attention = attentionFor(state);
    // Paths in every text leave relative to the workspace or the home; without a shared
    // nickname the workspace is only "Project".
    RedactionContext context = Redactor::context(cwd.value_or(""), Redactor::userHome());
    if (!settings.projectNickname && !context.workspace.empty())
        context.nickname = "Project";

    ThreadView view;
    view.id = std::string(*id);
    std::int64_t redactions = 0;
    view.title = "Codex task";
    if (settings.threadTitles) {
        auto title = Redactor::redact(rawTitle(raw), titleLimit, context);
        view.title = std::move(title.text);
        redactions += title.count;
    }
    if (settings.projectNickname && cwd)
        view.projectName = Redactor::projectName(*cwd);
    view.status = state;
    if (settings.activityStatus)
        view.activityText = std::string(activity(state));
    if (settings.elapsedTime && turn) {
        view.startedAt = timestampText(RawJson::number(*turn, "startedAt"));
        view.completedAt = timestampText(RawJson::number(*turn, "completedAt"));
        view.durationSeconds = ThreadRules::durationSeconds(*turn, now);
    }
    view.updatedAt = *updatedAt;
    view.requiresAttention = attention.required;
    view.attentionType = attention.type;
    if (settings.modelAndReasoning) {
        view.model = model;
        view.reasoningEffort = effort;
    }
    if (auto summary = settings.finalSummary ? finalSummary(state, items, context) : std::nullopt) {
        view.summary = std::move(summary->text);
        redactions += summary->count;
    }
    view.transcriptAvailability = settings.transcript;
    view.transcript = ThreadRules::buildTranscript(items, settings.transcript, *updatedAt, context);
    if (view.transcript) {
        for (const auto &entry : *view.transcript)
            redactions += entry.redactionCount;
    }
    if (settings.gitSummary && cwd && gitSummary)
        view.git = gitSummary(*cwd);
    if (settings.checkStatus)
        view.checks = ThreadRules::checkSummary(items);
    view.cancellationSupported = true;

    std::optional<std::string> activeTurnID;
    if (turn) {
        if (const auto turnId = RawJson::text(*turn, "id"))
            activeTurnID = std::string(*turnId);
    }
    return NormalizedThreadResult{std::move(view), std::move(activeTurnID), cwd, redactions};
}

std::optional<NormalizedThreadResult> thread(const boost::json::value &raw,
                                             const SharingSettings &settings,
                                             const std::optional<std::string> &model,
                                             const std::optional<std::string> &effort,
                                             std::chrono::system_clock::time_point now,
                                             const GitSummary &gitSummary)
{
    const auto *object = raw.if_object();
    if (!object)
        return std::nullopt;
    return thread(*object, settings, model, effort, now, gitSummary);
}

namespace ThreadRules {

const boost::json::object *latestTurn(const boost::json::object &rawThread)
{
    return CodexNormalizer::latestTurn(rawThread);
}

} // namespace ThreadRules

} // namespace orvane::CodexNormalizer
