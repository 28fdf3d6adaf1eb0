#!/usr/bin/env bash
# Installs the Debian packages that building (and, with --test, testing) needs and that
# this machine lacks. A machine that has everything is left alone, so repeated runs are fast.
set -euo pipefail

build_packages=(
    cmake ninja-build g++ pkg-config make
    qt6-base-dev qt6-websockets-dev
    qcoro-qt6-dev libboost-json1.81-dev libpcre2-dev libicu-dev libsecret-1-dev libwslay-dev
    googletest libbenchmark-dev
    # orvane-relay: Boost.Beast (header-only) and SQLite for its channel store
    libboost1.81-dev libsqlite3-dev
    # Qt's SVG icon engine: the window's and the tray's icons are SVGs, sharp at any scale.
    libqt6svg6
)
# chromium: the browser the glasses page test drives.
test_packages=(xvfb xauth dbus dbus-x11 gnome-keyring libsecret-tools git chromium)
# libFuzzer and its sanitizer runtimes come with Debian's clang; it builds against g++'s libstdc++.
fuzz_packages=(clang libclang-rt-14-dev)

wanted=("${build_packages[@]}")
if [[ "${1:-}" == "--test" ]]; then
    wanted+=("${test_packages[@]}")
fi
if [[ "${1:-}" == "--fuzz" ]]; then
    wanted+=("${fuzz_packages[@]}")
fi
# npm comes with the machine's Node.js when there is one; Debian's otherwise.
if ! command -v npm >/dev/null 2>&1; then
    wanted+=(npm)
fi

missing=()
for package in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
