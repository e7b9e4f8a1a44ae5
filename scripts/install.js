'use strict';
// npm's install step for this package: nothing to do when the prebuilt binary fits this platform
// and loads (no compiler, make or -dev package needed); otherwise, or with
// --build-from-source, a build from source exactly as `bash scripts/build.sh` does it.
const { spawnSync } = require('node:child_process');
const path = require('node:path');

const root = path.join(__dirname, '..');

function prebuiltLoads() {
  let file;
  try {
    file = require('../lib/addon-file').addonFile(root);
  } catch {
    return false; // none for this platform
  }
  try {
    require(file);
    return true;
  } catch (error) {
    console.warn(`install: ${file} does not load here (${error.message}); building from source`);
    return false;
  }
}

if (process.env.npm_config_build_from_source === 'true' || !prebuiltLoads()) {
  const build = spawnSync('bash', [path.join(__dirname, 'build.sh')], { cwd: root, stdio: 'inherit' });
  process.exitCode = build.status === null ? 1 : build.status;
}
