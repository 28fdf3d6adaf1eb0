#include "app/gui_start.h"

#include "app/companion_actions.h"
#include "app/companion_modes.h"
#include "app/instance_server.h"
#include "companion/companion_model.h"
#include "ui/companion_shell.h"

#include <QApplication>

#include <iostream>

namespace orvane::GuiStart {
namespace {

int serve(bool hidden)
{
    CompanionModel model(CompanionModes::modelOptions());
    CompanionShell shell(model);
    InstanceServer server([&](InstanceRequest request) {
        if (request.kind == InstanceRequest::Kind::show)
            shell.showWindow();
        return CompanionActions::perform(model, std::move(request));
    });
    if (!server.listen()) {
        std::cerr << "Unable to listen on " << InstanceServer::socketPath().toStdString() << ".\n";
        return 1;
    }
    shell.start(hidden);
    return QApplication::exec();
}

} // namespace

bool displayAvailable()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

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
