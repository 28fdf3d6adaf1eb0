#include "model/records.h"


namespace json = boost::json;

namespace orvane {

void tag_invoke(json::value_from_tag, json::value &json, ThreadState state)
{
    json = json::string(rawValue(state));
}

ThreadState tag_invoke(json::value_to_tag<ThreadState>, const json::value &json)
{
    const auto state = threadStateFromRaw(record_json::read<std::string>(json));
    if (!state)
        record_json::reject("unknown thread state");
    return *state;
}

void tag_invoke(json::value_from_tag, json::value &json, TranscriptLevel level)
{
    json = json::string(rawValue(level));
}

TranscriptLevel tag_invoke(json::value_to_tag<TranscriptLevel>, const json::value &json)
{
    const auto level = transcriptLevelFromRaw(record_json::read<std::string>(json));
    if (!level)
        record_json::reject("unknown transcript level");
    return *level;
}

} // namespace orvane
