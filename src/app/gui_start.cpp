#include "app/gui_start.h"

#include "app/companion_actions.h"
#include "app/companion_modes.h"
#include "app/instance_server.h"
#include "app/quit_signals.h"
#include "companion/companion_model.h"
#include "ui/companion_shell.h"

#include <QApplication>
#include <QDateTime>

#include <iostream>

namespace orvane::GuiStart {
namespace {

int serve(bool hidden)
{
    CompanionModel model(CompanionModes::modelOptions());
    CompanionShell shell(model);
    const CompanionActions::Runner runner{QCoreApplication::applicationPid(), QDateTime::currentDateTime()};
    InstanceServer server([&shell, &model, runner](InstanceRequest request) -> QCoro::Task<InstanceReply> {
        if (request.kind == InstanceRequest::Kind::show) {
            shell.showWindow();
            co_return InstanceReply{true, "Orvane is already running; its window was shown."};
        }
        co_return co_await CompanionActions::perform(model, std::move(request), runner);
    });
    if (!server.listen()) {
        std::cerr << "Unable to listen on " << InstanceServer::socketPath().toStdString() << ".\n";
        return 1;
    }
    QuitSignals quitSignals(CompanionModes::shutDownThenQuit(model));
    shell.start(hidden);
    return QApplication::exec();
}

} // namespace

int run(int &argc, char **argv, bool hidden)
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Orvane"));
    QApplication::setDesktopFileName(QStringLiteral("dev.orvane.companion"));
    try {
        return CompanionModes::runCompanion(false, [hidden](const InstanceLock &) { return serve(hidden); });
    } catch (const InstanceLock::Error &error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
}

} // namespace orvane::GuiStart
