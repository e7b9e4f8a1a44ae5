#!/usr/bin/env bash
# Makes prebuilds/linux-x64/screen-share-indicator.node with prebuildify (one N-API binary for
# every Node.js from 18.17 on), the binary that the packed package installs without a compiler.
# npm pack runs it (prepack), so a tarball always carries a fresh one; it is never committed.
#
# The build runs in a copy of the shipped sources, so that build/ of this checkout (which the
# tests load) is left alone, and the test add-on, which lives under tests/, is not built. Like
# scripts/build.sh it compiles against the installed Node.js headers and downloads nothing.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
nodedir=$(node -p 'require("path").resolve(process.execPath, "../..")')
if [ ! -f "$nodedir/include/node/node_api.h" ]; then
  echo "prebuild: no Node.js headers under $nodedir/include/node" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r package.json binding.gyp src "$work/"
ln -s "$root/node_modules" "$work/node_modules"
rm -rf prebuilds
npm_config_nodedir="$nodedir" npm_config_jobs=2 \
  node_modules/.bin/prebuildify --napi --strip --target="node@$(node -p process.versions.node)" \
  --cwd "$work" --out "$root"
ls prebuilds/*/*.node
