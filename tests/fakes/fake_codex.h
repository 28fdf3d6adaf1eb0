#pragma once
// A temporary home for one fake `codex`: writes its scenario, points ORVANE_CODEX and
// ORVANE_FAKE_SCENARIO at it, and reads back what it logged. CODEX_HOME points into it too,
// holding the daemon's control socket, so the daemon probe runs and the scenario answers it.
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <boost/json.hpp>

#include <string>
#include <string_view>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvane::test {

class FakeCodex {
public:
    explicit FakeCodex(boost::json::object scenario)
    {
        replace(std::move(scenario));
        qputenv("ORVANE_FAKE_SCENARIO", scenarioPath().toUtf8());
        qputenv("ORVANE_CODEX", executable());
        qputenv("CODEX_HOME", m_dir.filePath("codex-home").toUtf8());
        // The socket file stays after its descriptor is closed, as a killed daemon's does.
        const QString folder = m_dir.filePath("codex-home/app-server-control");
        QDir().mkpath(folder);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = (folder + "/app-server-control.sock").toUtf8();
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ::bind(descriptor, reinterpret_cast<const sockaddr *>(&address), sizeof address);
        ::close(descriptor);
    }
    ~FakeCodex()
    {
        qunsetenv("ORVANE_FAKE_SCENARIO");
        qunsetenv("ORVANE_CODEX");
        qunsetenv("CODEX_HOME");
    }

    void removeDaemonSocket() { QFile::remove(m_dir.filePath("codex-home/app-server-control/app-server-control.sock")); }

    // Every launch reads the scenario anew; the file is swapped whole, so a launch under way
    // reads the old one or the new one, never half of each.
    void replace(boost::json::object scenario)
    {
        scenario["log"] = m_dir.filePath("log.jsonl").toStdString();
        QSaveFile file(scenarioPath());
        file.open(QIODevice::WriteOnly);
        file.write(QByteArray::fromStdString(boost::json::serialize(scenario)));
        file.commit();
    }

    static QByteArray executable() { return ORVANE_FAKE_APP_SERVER; }
    QString scenarioPath() const { return m_dir.filePath("scenario.json"); }

    // Every event logged so far, in order.
    std::vector<boost::json::object> events() const
    {
        std::vector<boost::json::object> events;
        QFile file(m_dir.filePath("log.jsonl"));
        if (file.open(QIODevice::ReadOnly))
            for (const auto &line : file.readAll().split('\n'))
                if (!line.isEmpty())
                    events.push_back(boost::json::parse(line.toStdString()).as_object());
        return events;
    }

    // The `field` of every `event` logged so far, in order.
    std::vector<std::string> logged(std::string_view event, std::string_view field) const
    {
        std::vector<std::string> values;
        for (const auto &entry : events())
            if (entry.at("event").as_string() == event)
                values.emplace_back(entry.at(field).as_string());
        return values;
    }
    // The lines the App Servers received; a fake logs a line before it answers it.
    std::vector<std::string> received() const { return logged("in", "line"); }
    // The argument lists of every launch, short commands included, joined by blanks.
    std::vector<std::string> launches() const { return logged("launch", "args"); }

private:
    QTemporaryDir m_dir;
};

} // namespace orvane::test
