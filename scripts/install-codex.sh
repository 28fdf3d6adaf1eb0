#!/usr/bin/env bash
# Installs the pinned Codex CLI into the given prefix (inside the build tree), once.
set -euo pipefail
prefix=$1
version=0.171.0
if [[ -x "$prefix/node_modules/.bin/codex" ]] &&
   [[ "$("$prefix/node_modules/.bin/codex" --version 2>/dev/null)" == "codex-cli $version" ]]; then
    exit 0
fi
echo "Installing the Codex CLI $version into $prefix"
mkdir -p "$prefix"
npm install --prefix "$prefix" --no-audit --no-fund --loglevel=error "@openai/codex@$version"
