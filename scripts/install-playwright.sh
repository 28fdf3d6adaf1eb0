#!/usr/bin/env bash
# Installs the pinned playwright-core (the browser driver of the glasses page test) into the
# given prefix, once. The browser is the system's Chromium: nothing else is downloaded.
set -euo pipefail
prefix=$1
version=1.65.2
installed="$prefix/node_modules/playwright-core/package.json"
if [[ -f "$installed" ]] && grep -q "\"version\": \"$version\"" "$installed"; then
    exit 0
fi
echo "Installing playwright-core $version into $prefix"
mkdir -p "$prefix"
PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm install --prefix "$prefix" --no-audit --no-fund --loglevel=error \
    "playwright-core@$version"
