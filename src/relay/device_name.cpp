#include "relay/device_name.h"

#include <QFile>
#include <QSysInfo>

namespace orvane::DeviceName {
namespace {

// machine-info is a shell-style assignment list; values may be quoted and backslash-escaped.
std::string prettyHostName(std::string_view machineInfo)
{
    constexpr std::string_view key = "PRETTY_HOSTNAME=";
    std::string name;
    while (!machineInfo.empty()) {
        const std::size_t end = machineInfo.find('\n');
        std::string_view line = machineInfo.substr(0, end);
        machineInfo = end == std::string_view::npos ? std::string_view() : machineInfo.substr(end + 1);
        if (!line.starts_with(key))
            continue;
        line.remove_prefix(key.size());
        name.clear();
        char quote = 0;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if (quote == 0 && (c == '"' || c == '\''))
                quote = c;
            else if (c == quote)
                quote = 0;
            else if (c == '\\' && quote != '\'' && i + 1 < line.size())
                name += line[++i];
            else
                name += c;
        }
    }
    return name;
}

} // namespace

std::string choose(std::string_view machineInfo, std::string_view hostName)
{
    if (std::string pretty = prettyHostName(machineInfo); !pretty.empty())
        return pretty;
    if (!hostName.empty())
        return std::string(hostName);
    return "Mac companion";
}

std::string localized()
{
    QFile file(QStringLiteral("/etc/machine-info"));
    const QByteArray machineInfo = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return choose(machineInfo.toStdString(), QSysInfo::machineHostName().toStdString());
}

} // namespace orvane::DeviceName
