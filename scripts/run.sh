#!/usr/bin/env bash
# `make run`: the companion beside a local orvane-relay, with the pinned Codex CLI when the
# machine has none, and the two commands that pair it. Run from the repository root after the
# release build.
#   scripts/run.sh BUILD_DIR
set -euo pipefail
build=$1
relay="$build/tools/relay/orvane-relay"
orvane="$build/src/app/orvane"
relay_address=127.0.0.1:8787
# The first-run flow starts on the glasses page: its PIN, its pairing line, then the threads.
echo "Open http://$relay_address/ to see what your glasses see"

# Codex: the user's own when there is one, else the pinned CLI in the build tree.
if [[ -z "${ORVANE_CODEX:-}" ]] && ! command -v codex >/dev/null 2>&1; then
    scripts/install-codex.sh build/codex
    export PATH="$PWD/build/codex/node_modules/.bin:$PATH"
fi

listening() {
    (exec 3<>"/dev/tcp/${relay_address%:*}/${relay_address#*:}") 2>/dev/null
}

# The relay keeps running after the companion ends, so pairings survive restarts; its data
# live under ~/.local/share/orvane-relay.
if ! listening; then
    log="$build/orvane-relay.log"
    setsid "$relay" --listen "$relay_address" >"$log" 2>&1 < /dev/null &
    for _ in $(seq 50); do
        listening && break
        sleep 0.2
    done
    listening || { echo "orvane-relay did not start; see $log" >&2; exit 1; }
    echo "orvane-relay listens on $relay_address (pid $!, log $log)."
fi
export ORVANE_RELAY_URL="http://$relay_address"

# Without a Secret Service pairing could not be kept; say so and use the private file.
secret_service() {
    local bus=${DBUS_SESSION_BUS_ADDRESS:-}
    if [[ -z "$bus" && -S "${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/bus" ]]; then
        bus="unix:path=${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/bus"
    fi
    [[ -n "$bus" ]] || return 1
    command -v dbus-send >/dev/null 2>&1 || return 0
    local names
    names=$(dbus-send --bus="$bus" --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.ListNames 2>/dev/null
            dbus-send --bus="$bus" --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.ListActivatableNames 2>/dev/null) || true
    [[ "$names" == *'"org.freedesktop.secrets"'* ]]
}
if [[ -z "${ORVANE_CREDENTIAL_STORE:-}" ]] && ! secret_service; then
    export ORVANE_CREDENTIAL_STORE=file
    echo "No Secret Service here: the pairing is kept in ${XDG_CONFIG_HOME:-$HOME/.config}/orvane/credentials.json."
fi

echo "Without the page, ask the relay for a PIN: $relay --new-pin"
echo "and pair with it:                          $orvane --pair PIN"
if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
    exec "$orvane"
fi
exec "$orvane" --headless
