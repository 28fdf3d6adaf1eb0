#!/usr/bin/env bash
# Installs the pinned `ws` WebSocket client from npm into the given prefix (inside the build
# tree), once: the relay's permessage-deflate test talks to it as browsers' stacks would.
set -euo pipefail
prefix=$1
version=8.18.0
if [[ -f "$prefix/node_modules/ws/package.json" ]] &&
   grep -q "\"version\": \"$version\"" "$prefix/node_modules/ws/package.json"; then
    exit 0
fi
echo "Installing ws $version into $prefix"
mkdir -p "$prefix"
npm install --prefix "$prefix" --no-audit --no-fund --loglevel=error "ws@$version"
