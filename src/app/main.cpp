#include "app/codex_integration_test.h"
#include "app/command_line.h"
#include "app/companion_modes.h"
#include "app/companion_self_tests.h"
#include "app/instance_lock.h"
#include "app/help_text.h"
#include "app/sharing_choices.h"
#include "app/window_launch.h"
#include "companion/companion_version.h"
#include "companion/relay_base_url.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <iostream>
#include <variant>

int main(int argc, char **argv)
{
    using namespace orvane;
    const CommandLine commandLine(argc, argv);
    for (const std::string &option : commandLine.unknownOptions())
        std::cerr << "orvane: ignoring unknown option " << SharingChoices::shown(option) << "; see orvane --help\n";

    if (commandLine.has("--help")) {
        std::cout << helpText;
        return 0;
    }
    if (commandLine.has("--version")) {
        std::cout << "orvane " << companionVersion << '\n';
        return 0;
    }
    // A relay address that cannot be used is refused in every mode, never replaced silently.
    if (const auto refusal = RelayBaseUrl::refusal(RelayBaseUrl::configuredInEnvironment())) {
        std::cerr << *refusal << '\n';
        return 1;
    }

    // Before any application object: the self-tests need no display, bus or event loop.
    if (commandLine.has("--self-test")) {
        const bool passed = CompanionSelfTests::run();
        std::cout.flush();
        return passed ? 0 : 1;
    }

    if (commandLine.has("--codex-integration-test"))
        return CompanionIntegrationTest::runAndExit(argc, argv);

    const bool commandMode = commandLine.has("--pair") || commandLine.has("--unpair") || commandLine.has("--status")
                             || commandLine.has("--sharing") || commandLine.has("--snapshot");
    if (!commandMode && !commandLine.has("--headless") && WindowLaunch::displayAvailable())
        std::cerr << "orvane: " << WindowLaunch::handOver(argv) << "; running headless.\n";

    // Every remaining mode runs without a display.
    QCoreApplication app(argc, argv);
    // A relay on this computer is reached without TLS, yet Qt's TLS plugin loads OpenSSL (a
    // sixth of a headless companion's memory) as soon as a WebSocket exists. No other plugin
    // serves these modes.
    if (RelayBaseUrl::fromEnvironment().scheme() == QLatin1String("http")) {
        QCoreApplication::setLibraryPaths({});
        QLoggingCategory::setFilterRules(QStringLiteral("qt.network.ssl.warning=false"));
    }
    try {
        if (commandLine.has("--pair")) {
            const auto pin = commandLine.valueAfter("--pair");
            return CompanionModes::runCommand({InstanceRequest::Kind::pair, std::string(pin.value_or("")), {}});
        }
        if (commandLine.has("--unpair"))
            return CompanionModes::runCommand({InstanceRequest::Kind::unpair, {}, {}});
        if (commandLine.has("--status"))
            return CompanionModes::runCommand({InstanceRequest::Kind::status, {}, {}});
        if (commandLine.has("--sharing")) {
            const auto choices = commandLine.valuesAfter("--sharing");
            // Checked here too, so a mistyped choice never reaches the running companion.
            const auto checked = SharingChoices::apply({}, choices);
            if (const auto *problem = std::get_if<std::string>(&checked)) {
                std::cerr << *problem << '\n';
                return 1;
            }
            return CompanionModes::runCommand({InstanceRequest::Kind::sharing, {}, choices});
        }
        if (commandLine.has("--snapshot"))
            return CompanionModes::runCommand({InstanceRequest::Kind::snapshot, {}, {}});
        return CompanionModes::runCompanion(commandLine.has("--headless"));
    } catch (const InstanceLock::Error &error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
}
