#pragma once

#include <string_view>

namespace orvane {

// `orvane --help`: every mode and flag with one line, the sharing choices, and the environment
// the companion reads.
inline constexpr std::string_view helpText =
    "Usage: orvane [--headless | --hidden | --pair PIN | --unpair | --status | --sharing [NAME=VALUE...] |\n"
    "               --snapshot | --self-test | --codex-integration-test | --help | --version]\n"
    "\n"
    "Orvane runs beside Codex and mirrors what it is doing to your paired glasses.\n"
    "\n"
    "Modes:\n"
    "  (none)                    start the companion, or ask the running one to show its window\n"
    "  --headless                start the companion without a window; state changes go to standard output\n"
    "  --hidden                  start the companion behind its tray item, without showing the window\n"
    "  --pair PIN, --pair=PIN    pair with the six-digit PIN the glasses show\n"
    "  --unpair                  revoke the pairing and delete the stored credentials\n"
    "  --status                  say whether a companion runs, then print its debug report\n"
    "  --sharing                 print the sharing choices\n"
    "  --sharing NAME=VALUE...   change sharing choices, as the window's sharing page would\n"
    "  --snapshot                print, as indented JSON, the snapshot the glasses would get now, paired or not\n"
    "  --self-test               run the built-in privacy and parsing checks and exit\n"
    "  --codex-integration-test  connect once to the Codex App Server, print one line and exit\n"
    "  -h, --help                print this help and exit\n"
    "  -V, --version             print the version and exit\n"
    "--pair, --unpair, --status, --sharing and --snapshot act on the running companion when there is\n"
    "one, else on a fresh start of their own. Other arguments are ignored; unknown options are named.\n"
    "\n"
    "Sharing choices (on or off unless said):\n"
    "  threadTitles, projectNickname, activityStatus, elapsedTime, finalSummary, modelAndReasoning,\n"
    "  gitSummary, checkStatus, usageMetrics, nativeNotifications, startAtLogin\n"
    "  transcript                none, messages, activity or full\n"
    "  Example: orvane --sharing transcript=none gitSummary=off\n"
    "\n"
    "Environment:\n"
    "  ORVANE_RELAY_URL          the relay's base URL, such as http://127.0.0.1:8787; one that is not an\n"
    "                            absolute URL is refused\n"
    "  ORVANE_CODEX              the codex executable to run, instead of looking in the usual places and PATH\n"
    "  ORVANE_CREDENTIAL_STORE   \"file\" keeps the pairing in $XDG_CONFIG_HOME/orvane/credentials.json\n"
    "                            instead of the Secret Service\n";

} // namespace orvane
