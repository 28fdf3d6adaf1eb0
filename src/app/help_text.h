#pragma once

#include <string_view>

namespace orvane {

// `orvane --help`: every mode and flag with one line, and the environment the companion reads.
inline constexpr std::string_view helpText =
    "Usage: orvane [--headless | --hidden | --pair PIN | --unpair | --status | --self-test | --codex-integration-test]\n"
    "\n"
    "Orvane runs beside Codex and mirrors what it is doing to your paired glasses.\n"
    "\n"
    "Modes:\n"
    "  (none)                    start the companion, or ask the running one to show its window\n"
    "  --headless                start the companion without a window; state changes go to standard output\n"
    "  --hidden                  start the companion behind its tray item, without showing the window\n"
    "  --pair PIN                pair with the six-digit PIN the glasses show\n"
    "  --unpair                  revoke the pairing and delete the stored credentials\n"
    "  --status                  print the debug report\n"
    "  --self-test               run the built-in privacy and parsing checks and exit\n"
    "  --codex-integration-test  connect once to the Codex App Server, print one line and exit\n"
    "  --help                    print this help and exit\n"
    "  --version                 print the version and exit\n"
    "--pair, --unpair and --status act on the running companion when there is one.\n"
    "Other arguments are ignored.\n"
    "\n"
    "Environment:\n"
    "  ORVANE_RELAY_URL          the relay's base URL\n"
    "  ORVANE_CODEX              the codex executable to run, instead of looking in the usual places and PATH\n"
    "  ORVANE_CREDENTIAL_STORE   \"file\" keeps the pairing in $XDG_CONFIG_HOME/orvane/credentials.json\n"
    "                            instead of the Secret Service\n";

} // namespace orvane
