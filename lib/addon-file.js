'use strict';
// Which compiled add-on the package loads: nativeUIWrapper.node, by name, from build/ when it was
// built from source, else the prebuilt binary for this platform (node-gyp-build chooses). Never
// node-gyp-build's first .node file of build/Release: in a checkout where the tests were built
// that is the test-only add-on, which sorts first.
const fs = require('node:fs');
const path = require('node:path');
const nodeGypBuild = require('node-gyp-build');

const SHIPPED = 'nativeUIWrapper.node';

// The add-on's path under the package's root; throws when there is none.
function addonFile(root) {
  for (const kind of ['Release', 'Debug']) {
    const built = path.join(root, 'build', kind, SHIPPED);
    if (fs.existsSync(built)) return built;
  }
  const found = nodeGypBuild.path(root);
  if (path.relative(path.join(root, 'build'), found).startsWith('..')) return found;
  // A build/ with other add-ons only hides the prebuilt binaries from node-gyp-build.
  throw new Error(`${path.join(root, 'build')} holds ${path.basename(found)} but no ${SHIPPED}`);
}

module.exports = { addonFile };
