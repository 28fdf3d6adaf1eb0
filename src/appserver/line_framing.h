#pragma once
#include "appserver/message_framing.h"

#include <cstddef>

namespace orvane {

// One JSON message per line, ended by a line feed, in both directions.
class LineFraming final : public MessageFraming {
public:
    // A thread read with its turns runs to several MB; a line that outgrows this without a
    // line feed is a child gone wrong, not a message.
    static constexpr std::size_t defaultMaxLine = std::size_t{64} << 20;

    explicit LineFraming(std::size_t maxLine = defaultMaxLine) : m_maxLine(maxLine) {}

    Fed feed(std::string_view bytes) override;
    std::string encode(std::string_view message) override;

private:
    std::size_t m_maxLine;
    std::string m_buffer;
};

}
