#include "appserver/app_server_transport.h"

#include "appserver/app_server_error.h"
#include "appserver/child_process.h"
#include "appserver/message_parsing.h"

#include <QCoroSignal>
#include <QTimer>

#include <boost/json/serialize.hpp>

#include <csignal>

namespace orvane {
namespace {

// How long a retired child may take to leave after its input closed and it was asked to.
constexpr std::chrono::seconds retireGrace{3};


}

AppServerTransport::AppServerTransport(std::chrono::milliseconds requestTimeout, QObject *parent)
    : QObject(parent), m_requestTimeout(requestTimeout)
{
}

AppServerTransport::~AppServerTransport()
{
    // No App Server may outlive its owner, retired ones included. This runs as the companion
    // ends, so it may block briefly: a clean exit first, then the kill.
    for (auto *process : findChildren<QProcess *>(Qt::FindDirectChildrenOnly)) {
        QObject::disconnect(process, nullptr, this, nullptr);
        if (process->state() == QProcess::NotRunning)
            continue;
        const qint64 pid = process->processId();
        process->closeWriteChannel();
        signalProcessGroup(pid, SIGTERM);
        if (!process->waitForFinished(int(std::chrono::milliseconds(retireGrace).count())))
            signalProcessGroup(pid, SIGKILL);
        process->waitForFinished();
        signalProcessGroup(pid, SIGKILL);
    }
}

bool AppServerTransport::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

qint64 AppServerTransport::processId() const
{
    return m_process ? m_process->processId() : 0;
}

QCoro::Task<void> AppServerTransport::start(QString path, QStringList arguments,
                                            std::unique_ptr<MessageFraming> framing)
{
    if (m_process)
        disconnect();
    QPointer<AppServerTransport> self(this);
    QPointer<QProcess> process = new QProcess(this);
    process->setProgram(path);
    process->setArguments(arguments);
    process->setStandardErrorFile(QProcess::nullDevice());
    leadOwnProcessGroup(*process);
    process->start(QIODevice::ReadWrite);
    const auto before = m_generation;
    const bool started = co_await launched(process);
    if (!self || !process)
        throw AppServerError::disconnected();
    if (!started) {
        const auto reason = process->errorString().toStdString();
        delete process.data();
        throw ProcessLaunchError(reason);
    }
    // Disconnected while the child was being launched: it must not take over.
    if (m_generation != before) {
        retire(process);
        throw AppServerError::disconnected();
    }

    const qint64 pid = process->processId();
    m_process = process;
    m_framing = std::move(framing);
    const auto generation = ++m_generation;
    connect(process, &QProcess::readyReadStandardOutput, this, &AppServerTransport::consume);
    connect(process, &QProcess::finished, this, [this, pid] {
        // Whatever the launcher left behind goes with it.
        signalProcessGroup(pid, SIGKILL);
        m_pending.failAll(std::make_exception_ptr(AppServerError::disconnected()));
        Q_EMIT framingSettled();
    });
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        // A child that cannot take our input is of no further use.
        if (error == QProcess::WriteError)
            disconnect();
    });

    if (const auto opening = m_framing->start(); !opening.empty())
        write(opening);
    if (m_framing->ready())
        co_return;
    co_await qCoro(this, &AppServerTransport::framingSettled, m_requestTimeout);
    if (!self)
        throw AppServerError::disconnected();
    if (m_generation != generation || !isRunning()) {
        disconnect();
        throw AppServerError::disconnected();
    }
    if (!m_framing->ready()) {
        disconnect();
        throw AppServerError::timeout();
    }
}

QCoro::Task<boost::json::value> AppServerTransport::request(std::string method,
                                                           std::optional<boost::json::value> params)
{
    const auto id = ++m_requestID;
    auto answer = m_pending.add(id);
    try {
        boost::json::object message;
        message["method"] = method;
        message["id"] = id;
        message["params"] = params ? std::move(*params) : boost::json::value(nullptr);
        send(message);
        QTimer::singleShot(m_requestTimeout, this, [this, id] {
            m_pending.fail(id, std::make_exception_ptr(AppServerError::timeout()));
        });
    } catch (...) {
        m_pending.fail(id, std::current_exception());
    }
    co_return co_await answer;
}

void AppServerTransport::notify(std::string_view method, std::optional<boost::json::value> params)
{
    boost::json::object message;
    message["method"] = method;
    if (params)
        message["params"] = std::move(*params);
    send(message);
}

void AppServerTransport::send(const boost::json::object &message)
{
    if (!isRunning() || !m_framing->ready())
        throw AppServerError::disconnected();
    if (!write(m_framing->encode(boost::json::serialize(message))))
        throw AppServerError::disconnected();
}

bool AppServerTransport::write(const std::string &bytes)
{
    // QProcess queues the bytes whole and writes them without raising SIGPIPE; a broken pipe
    // comes back as a WriteError.
    const auto size = static_cast<qint64>(bytes.size());
    return m_process->write(bytes.data(), size) == size;
}

void AppServerTransport::consume()
{
    const QByteArray bytes = m_process->readAllStandardOutput();
    if (bytes.isEmpty())
        return;
    const bool wasReady = m_framing->ready();
    auto fed = m_framing->feed(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    if (!fed.reply.empty())
        write(fed.reply);
    const auto generation = m_generation;
    for (const auto &message : fed.messages) {
        handle(message);
        if (m_generation != generation)
            return;
    }
    if (fed.failed || fed.closed) {
        disconnect();
        Q_EMIT framingSettled();
    } else if (!wasReady && m_framing->ready()) {
        Q_EMIT framingSettled();
    }
}

void AppServerTransport::handle(std::string_view line)
{
    auto parsed = parseMessage(line);
    if (!parsed)
        return;
    auto &message = *parsed;

    const auto *id = message.if_contains("id");
    const bool integerID = id && (id->is_int64() || id->is_uint64());
    if (integerID && (message.contains("result") || message.contains("error"))) {
        // No id this client hands out exceeds the signed range.
        if (!id->is_int64())
            return;
        if (const auto *failure = message.if_contains("error"); failure && failure->is_object())
            if (const auto *text = failure->as_object().if_contains("message"); text && text->is_string()) {
                m_pending.fail(id->as_int64(),
                               std::make_exception_ptr(AppServerError::rpc(std::string(text->as_string()))));
                return;
            }
        auto *result = message.if_contains("result");
        m_pending.resolve(id->as_int64(), result ? std::move(*result) : boost::json::value(nullptr));
        return;
    }

    const auto *method = message.if_contains("method");
    if (!method || !method->is_string())
        return;
    if (!eventHandler)
        return;
    std::optional<boost::json::value> params;
    if (auto *given = message.if_contains("params"))
        params = std::move(*given);
    eventHandler(std::string(method->as_string()), params, id != nullptr);
}

void AppServerTransport::disconnect()
{
    ++m_generation;
    if (auto *process = std::exchange(m_process, nullptr))
        retire(process);
    m_framing.reset();
    m_pending.failAll(std::make_exception_ptr(AppServerError::disconnected()));
}

void AppServerTransport::retire(QProcess *process)
{
    QObject::disconnect(process, nullptr, this, nullptr);
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    const qint64 pid = process->processId();
    // The npm launcher keeps a terminate signal to itself, but the App Server it started ends
    // when its input closes; so close first, then signal the whole group.
    process->closeWriteChannel();
    signalProcessGroup(pid, SIGTERM);
    connect(process, &QProcess::finished, process, [process, pid] {
        signalProcessGroup(pid, SIGKILL);
        process->deleteLater();
    });
    QTimer::singleShot(retireGrace, process, [pid] { signalProcessGroup(pid, SIGKILL); });
}

}
