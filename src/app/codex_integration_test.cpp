#include "app/codex_integration_test.h"

#include "appserver/app_server_client.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <iostream>

namespace orvane::CompanionIntegrationTest {
namespace {

QCoro::Task<int> run(AppServerClient &client)
{
    std::string failure;
    try {
        co_await client.connect();
        const auto threads = co_await client.listThreads(1);
        auto account = client.account();
        auto rateLimits = client.rateLimits();
        const auto accountRead = co_await std::move(account);
        const auto rateLimitsRead = co_await std::move(rateLimits);
        const int answered = int(accountRead.has_value()) + int(rateLimitsRead.has_value());
        std::cout << "Codex integration: connected; version=" << client.codexVersion().value_or("unknown")
                  << "; listed=" << threads.size() << "; optionalAccountMethods=" << answered
                  << "/2; mode=" << client.connectionMode() << '\n'
                  << std::flush;
        client.disconnect();
        co_return 0;
    } catch (const std::exception &error) {
        failure = error.what();
    }
    std::cerr << "Codex integration failed: " << failure << '\n' << std::flush;
    co_return 1;
}

}

int runAndExit(int &argc, char **argv)
{
    QCoreApplication app(argc, argv);
    AppServerClient client;
    // Started from inside the loop, so even a failure before the first suspension can end it.
    QMetaObject::invokeMethod(
        &app,
        [&client]() -> QCoro::Task<void> { QCoreApplication::exit(co_await run(client)); },
        Qt::QueuedConnection);
    return QCoreApplication::exec();
}

}
