#include "appserver/line_framing.h"

namespace orvane {

MessageFraming::Fed LineFraming::feed(std::string_view bytes)
{
    Fed fed;
    // Only the new bytes can hold a line feed: the buffered tail was searched before.
    std::size_t searchFrom = m_buffer.size();
    m_buffer.append(bytes);
    std::size_t lineStart = 0;
    for (std::size_t end; (end = m_buffer.find('\n', searchFrom)) != std::string::npos;) {
        if (end - lineStart > m_maxLine)
            break;
        fed.messages.emplace_back(m_buffer, lineStart, end - lineStart);
        lineStart = end + 1;
        searchFrom = lineStart;
    }
    m_buffer.erase(0, lineStart);
    // The same whether the line came in one chunk or many.
    if (m_buffer.size() > m_maxLine) {
        m_buffer = std::string();
        fed.failed = true;
    }
    return fed;
}

std::string LineFraming::encode(std::string_view message)
{
    std::string line;
    line.reserve(message.size() + 1);
    line.append(message);
    line.push_back('\n');
    return line;
}

}
