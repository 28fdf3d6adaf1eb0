#include "app/codex_integration_test.h"
#include "app/command_line.h"
#include "app/companion_modes.h"
#include "app/companion_self_tests.h"
#include "app/gui_start.h"
#include "app/instance_lock.h"
#include "app/help_text.h"
#include "companion/companion_version.h"

#include <QCoreApplication>

#include <iostream>

int main(int argc, char **argv)
{
    using namespace orvane;
    const CommandLine commandLine(argc, argv);

    // Before any application object: the self-tests need no display, bus or event loop.
    if (commandLine.has("--self-test")) {
        const bool passed = CompanionSelfTests::run();
        std::cout.flush();
        return passed ? 0 : 1;
    }

    if (commandLine.has("--codex-integration-test"))
        return CompanionIntegrationTest::runAndExit(argc, argv);

    if (commandLine.has("--help")) {
        std::cout << helpText;
        return 0;
    }
    if (commandLine.has("--version")) {
        std::cout << "orvane " << companionVersion << '\n';
        return 0;
    }

    const bool commandMode = commandLine.has("--pair") || commandLine.has("--unpair") || commandLine.has("--status");
    if (!commandMode && !commandLine.has("--headless") && GuiStart::displayAvailable())
        return GuiStart::run(argc, argv, commandLine.has("--hidden"));

    // Every remaining mode runs without a display.
    QCoreApplication app(argc, argv);
    try {
        if (commandLine.has("--pair")) {
            const auto pin = commandLine.valueAfter("--pair");
            return CompanionModes::runCommand({InstanceRequest::Kind::pair, std::string(pin.value_or(""))});
        }
        if (commandLine.has("--unpair"))
            return CompanionModes::runCommand({InstanceRequest::Kind::unpair, {}});
        if (commandLine.has("--status"))
            return CompanionModes::runCommand({InstanceRequest::Kind::status, {}});
        return CompanionModes::runCompanion(commandLine.has("--headless"));
    } catch (const InstanceLock::Error &error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
}
