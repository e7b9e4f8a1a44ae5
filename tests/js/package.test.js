'use strict';
// The package as another project gets it: npm pack (which makes a fresh prebuilt binary), then npm
// install of the tarball into a fresh project with no compiler, make or other tools on PATH and
// CC and CXX naming a program that fails (so the prebuilt binary must do, and nothing is built),
// then require() by name, listMonitors() and a real show and hide on a private X server. Skipped,
// with the reason, only when npm itself is missing or the registry packages it needs can be
// neither found in its cache nor fetched.
const test = require('node:test');
const assert = require('node:assert/strict');
const { execFile } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { startXServer } = require('./support/xserver');

const root = path.join(__dirname, '..', '..');
const pkg = require(path.join(root, 'package.json'));

function run(command, args, options) {
  return new Promise((resolve) => {
    execFile(command, args, { maxBuffer: 64 * 1024 * 1024, ...options }, (error, stdout, stderr) => {
      resolve({ code: error ? (error.code ?? error.signal) : 0, stdout, stderr });
    });
  });
}

const NETWORK = /\b(ENOTCACHED|ENOTFOUND|EAI_AGAIN|ECONNREFUSED|ECONNRESET|ETIMEDOUT|ENETUNREACH)\b/;

test('the packed tarball installs into a fresh project without a compiler, builds nothing, and works there', { timeout: 300000 }, async (t) => {
  const npm = await run('npm', ['--version'], {});
  if (npm.code !== 0) {
    t.skip(`npm is not available (${npm.stderr.trim() || npm.code}), so the package cannot be packed`);
    return;
  }
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'indicator-package-'));
  t.after(() => fs.rmSync(work, { recursive: true, force: true }));

  // prepack's prebuild prints its build log on standard output, ahead of pack's JSON.
  const packed = await run('npm', ['pack', '--json', '--pack-destination', work], { cwd: root });
  assert.equal(packed.code, 0, packed.stderr);
  const [{ filename, files }] = JSON.parse(packed.stdout.slice(packed.stdout.lastIndexOf('\n[\n') + 1));
  const shipped = files.map((file) => file.path);
  for (const needed of ['package.json', 'README.md', 'lib/index.js', 'lib/indicator.js', 'lib/binding.js',
    'index.d.ts', 'binding.gyp', 'scripts/build.sh', 'scripts/install.js', 'src/addon/addon.cpp',
    'src/nativeui/NativeUIController.cpp', 'src/wayland/WaylandShowing.cpp',
    'src/wayland/protocols/wlr-layer-shell-unstable-v1.xml', 'src/accessibility/AccessibleIndicator.cpp',
    'prebuilds/linux-x64/screen-share-indicator.node']) {
    assert.ok(shipped.includes(needed), `${needed} is missing from the tarball`);
  }
  const stray = shipped.filter((file) => /^(tests|build|node_modules|artifacts|build-native)\//.test(file) ||
    (/^prebuilds\//.test(file) && file !== 'prebuilds/linux-x64/screen-share-indicator.node'));
  assert.deepEqual(stray, [], 'files that users do not need are in the tarball');

  // PATH holds node, npm and the shell that npm runs scripts with, nothing else; a compiler asked
  // for anyway leaves its mark and fails.
  const bin = path.join(work, 'bin');
  fs.mkdirSync(bin);
  fs.symlinkSync(process.execPath, path.join(bin, 'node'));
  fs.symlinkSync('/bin/sh', path.join(bin, 'sh'));
  const npmCli = fs.realpathSync((await run('sh', ['-c', 'command -v npm'], {})).stdout.trim());
  fs.symlinkSync(npmCli, path.join(bin, 'npm'));
  const compiled = path.join(work, 'compiler-was-run');
  const compiler = path.join(work, 'no-compiler');
  fs.writeFileSync(compiler, `#!/bin/sh\necho "$0 $*" >> ${compiled}\nexit 1\n`, { mode: 0o755 });
  const bare = { ...process.env, PATH: bin, CC: compiler, CXX: compiler, npm_config_loglevel: 'error' };

  const project = path.join(work, 'project');
  fs.mkdirSync(project);
  fs.writeFileSync(path.join(project, 'package.json'),
    JSON.stringify({ name: 'consumer', version: '1.0.0', private: true }));
  const installed = await run(path.join(bin, 'npm'),
    ['install', '--prefer-offline', '--no-audit', '--no-fund', path.join(work, filename)],
    { cwd: project, env: bare });
  if (installed.code !== 0 && NETWORK.test(installed.stderr)) {
    t.skip(`the dependencies are neither in npm's cache nor reachable: ${NETWORK.exec(installed.stderr)[0]}`);
    return;
  }
  assert.equal(installed.code, 0, `npm install failed:\n${installed.stdout}\n${installed.stderr}`);
  assert.equal(fs.existsSync(compiled), false, `a compiler was run: ${fs.existsSync(compiled) && fs.readFileSync(compiled)}`);
  const installedDir = path.join(project, 'node_modules', pkg.name);
  assert.equal(fs.existsSync(path.join(installedDir, 'build')), false, 'the install built something');

  const server = await startXServer('xvfb');
  t.after(() => server.stop());
  const used = await run(process.execPath, ['-e', `
    const indicatorPackage = require(${JSON.stringify(pkg.name)});
    const { ScreenShareIndicator, NativeUIWrapper } = indicatorPackage;
    const result = {
      resolved: require.resolve(${JSON.stringify(pkg.name)}),
      binary: require('node-gyp-build').path(require('path').dirname(require.resolve(${JSON.stringify(pkg.name)} + '/package.json'))),
      monitors: indicatorPackage.listMonitors(),
      exports: Object.keys(indicatorPackage).sort(),
      rawMethods: Object.getOwnPropertyNames(NativeUIWrapper.prototype).sort(),
      types: require(${JSON.stringify(pkg.name)} + '/package.json').types,
    };
    const indicator = new ScreenShareIndicator();
    indicator.show(0).then(() => {
      result.shown = indicator.visible;
      indicator.hide();
      result.hidden = !indicator.visible;
      process.stdout.write('\\n@@' + JSON.stringify(result) + '\\n');
      process.exit(0);
    }, (error) => {
      process.stdout.write('\\n@@' + JSON.stringify({ ...result, error: error.message }) + '\\n');
      process.exit(1);
    });
  `], { cwd: project, env: { ...bare, DISPLAY: server.display }, timeout: 60000 });
  assert.equal(used.code, 0, `${used.stdout}\n${used.stderr}`);
  // The add-on prints diagnostics of its own on standard output.
  const line = used.stdout.split('\n').find((text) => text.startsWith('@@'));
  assert.ok(line, `no result from the consumer:\n${used.stdout}\n${used.stderr}`);
  const result = JSON.parse(line.slice(2));
  assert.equal(result.resolved, path.join(fs.realpathSync(project), 'node_modules', pkg.name, 'lib', 'index.js'));
  assert.deepEqual(result.exports, ['NativeUIWrapper', 'ScreenShareIndicator', 'listMonitors']);
  assert.equal(result.binary, path.join(fs.realpathSync(installedDir), 'prebuilds', 'linux-x64', 'screen-share-indicator.node'));
  assert.deepEqual(result.monitors, [
    { index: 0, x: 0, y: 0, width: 1920, height: 1080, rotation: 1, outputs: ['screen'], primary: false },
  ]);
  assert.deepEqual(result.rawMethods, ['Visible', '_internal_registerShowingEventCallback', '_internal_showWindow', 'constructor',
    'hideControlBar', 'registerHideControlBarCallback', 'registerLogCallback', 'registerShowControlBarCallback',
    'registerStopSharingClickEvent', 'showControlBar']);
  assert.ok(fs.existsSync(path.join(project, 'node_modules', pkg.name, result.types)), 'the types file is not installed');
  assert.equal(result.shown, true);
  assert.equal(result.hidden, true);
});

// node-gyp-build alone takes the first .node file of build/Release, and the test-only add-on
// sorts before the shipped one: a clone whose tests were built loaded the test add-on.
test('a clone whose tests were built loads the shipped add-on, by the package and by its install step', async (t) => {
  const release = path.join(root, 'build', 'Release');
  if (!fs.existsSync(path.join(release, 'dispatcherTest.node'))) {
    t.skip('the test add-on is not built here');
    return;
  }
  const loaded = await run(process.execPath, ['-e', `
    const { addonFile } = require(${JSON.stringify(path.join(root, 'lib', 'addon-file.js'))});
    const binding = require(${JSON.stringify(path.join(root, 'lib', 'binding.js'))});
    console.log(JSON.stringify({ file: addonFile(${JSON.stringify(root)}), exports: Object.keys(binding) }));
  `], {});
  assert.equal(loaded.code, 0, loaded.stderr);
  assert.deepEqual(JSON.parse(loaded.stdout.trim().split('\n').at(-1)),
    { file: path.join(release, 'nativeUIWrapper.node'), exports: ['NativeUIWrapper'] });
});
