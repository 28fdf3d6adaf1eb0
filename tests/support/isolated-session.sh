#!/usr/bin/env bash
# Runs one test command in a private world: its own D-Bus session bus, its own temporary
# HOME and XDG directories, no display, and with --keyring an unlocked gnome-keyring as the
# Secret Service. Tests never touch the real user's files, and run side by side.
#   isolated-session.sh [--keyring] -- command [args...]
set -euo pipefail

keyring=0
if [[ ${1:-} == --keyring ]]; then keyring=1; shift; fi
if [[ ${1:-} == -- ]]; then shift; fi

root=$(mktemp -d "${TMPDIR:-/tmp}/orvane-test.XXXXXX")
trap 'rm -rf "$root"' EXIT
export HOME="$root/home"
export XDG_CONFIG_HOME="$root/config" XDG_DATA_HOME="$root/data" XDG_CACHE_HOME="$root/cache"
export XDG_STATE_HOME="$root/state" XDG_RUNTIME_DIR="$root/runtime"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
export ORVANE_TEST_KEYRING=$keyring

# The inner shell starts inside the new bus, so the keyring registers on it. Not exec'd, so
# the trap above removes the temporary directories when the test ends.
status=0
dbus-run-session -- bash -c '
    if [[ $ORVANE_TEST_KEYRING == 1 ]]; then
        # An empty password would leave the login collection uncreated.
        printf "orvane-test" | gnome-keyring-daemon --unlock --components=secrets >/dev/null
    fi
    exec "$@"
' isolated-session "$@" 2> >(grep -v "Failed to set fd limit" >&2) || status=$?
exit "$status"
