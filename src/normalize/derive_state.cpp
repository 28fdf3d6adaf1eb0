#include <algorithm>

#include "normalize/raw_json.h"
#include "normalize/thread_rules.h"

namespace orvane::CodexNormalizer::ThreadRules {

namespace {

bool hasFlag(const boost::json::object &status, std::string_view flag)
{
    const auto *value = status.if_contains("activeFlags");
    const auto *flags = value ? value->if_array() : nullptr;
    if (!flags)
        return false;
    return std::any_of(flags->begin(), flags->end(), [flag](const boost::json::value &element) {
        return element.is_string() && element.get_string() == flag;
    });
}

std::optional<ThreadState> fromThreadStatus(const boost::json::object &rawThread)
{
    const auto *status = RawJson::object(rawThread, "status");
    if (!status)
        return std::nullopt;
    if (RawJson::text(*status, "type") == "systemError")
        return ThreadState::failed;
    if (hasFlag(*status, "waitingOnApproval"))
        return ThreadState::waitingForApproval;
    if (hasFlag(*status, "waitingOnUserInput"))
        return ThreadState::waitingForUser;
    return std::nullopt;
}

ThreadState fromLastItem(const boost::json::object &turn)
{
    const auto *items = RawJson::objectArray(turn, "items");
    if (!items || items->empty())
        return ThreadState::thinking;
    const auto &item = items->back().get_object();
    const auto type = RawJson::text(item, "type");
    if (type == "fileChange")
        return ThreadState::editing;
    if (type == "imageView" || type == "webSearch")
        return ThreadState::reading;
    if (type == "commandExecution") {
        const auto command = RawJson::text(item, "command").value_or("");
        if (isTestCommand(command))
            return ThreadState::testing;
        if (isBuildCommand(command))
            return ThreadState::building;
    }
    return ThreadState::thinking;
}

} // namespace

ThreadState deriveState(const boost::json::object &rawThread, const boost::json::object *turn)
{
    if (const auto fromStatus = fromThreadStatus(rawThread))
        return *fromStatus;
    if (!turn || turn->empty())
        return ThreadState::unknown;
    const auto status = RawJson::text(*turn, "status");
    if (!status)
        return ThreadState::unknown;
    if (*status == "completed")
        return ThreadState::finished;
    if (*status == "failed")
        return ThreadState::failed;
    if (*status == "interrupted") {
        // Another process's running turn, or one a crash cut off, also reads back as
        // interrupted, but only a turn that was really stopped has an end.
        return RawJson::number(*turn, "completedAt") ? ThreadState::stopped : ThreadState::unknown;
    }
    if (*status == "inProgress")
        return fromLastItem(*turn);
    return ThreadState::unknown;
}

} // namespace orvane::CodexNormalizer::ThreadRules
