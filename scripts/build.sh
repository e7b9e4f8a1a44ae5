#!/usr/bin/env bash
# Builds build/Release/nativeUIWrapper.node against the headers of the installed Node.js, so
# node-gyp downloads nothing. Extra arguments go to node-gyp (e.g. --sanitize=address).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
nodedir=$(node -p 'require("path").resolve(process.execPath, "../..")')
if [ ! -f "$nodedir/include/node/node_api.h" ]; then
  echo "build: no Node.js headers under $nodedir/include/node" >&2
  exit 1
fi
gyp=node_modules/.bin/node-gyp
# Installed as a dependency, npm hoists node-gyp and puts its .bin directory on PATH instead.
[ -x "$gyp" ] || gyp=node-gyp
exec "$gyp" rebuild --nodedir="$nodedir" -j 2 "$@"
