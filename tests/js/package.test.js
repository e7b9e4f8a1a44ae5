'use strict';
// The package as another project gets it: npm pack, then npm install of the tarball into a fresh
// project (its install script builds the add-on from source, offline), then require() by name and
// a real show and hide on a private X server. Skipped, with the reason, only when npm itself is
// missing or the registry packages it needs can be neither found in its cache nor fetched.
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

test('the packed tarball installs into a fresh project, builds, and works there', { timeout: 300000 }, async (t) => {
  const npm = await run('npm', ['--version'], {});
  if (npm.code !== 0) {
    t.skip(`npm is not available (${npm.stderr.trim() || npm.code}), so the package cannot be packed`);
    return;
  }
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'indicator-package-'));
  t.after(() => fs.rmSync(work, { recursive: true, force: true }));

  const packed = await run('npm', ['pack', '--json', '--ignore-scripts', '--pack-destination', work], { cwd: root });
  assert.equal(packed.code, 0, packed.stderr);
  const [{ filename, files }] = JSON.parse(packed.stdout);
  const shipped = files.map((file) => file.path);
  for (const needed of ['package.json', 'README.md', 'lib/index.js', 'lib/indicator.js', 'lib/binding.js',
    'index.d.ts', 'binding.gyp', 'scripts/build.sh', 'src/addon/addon.cpp', 'src/nativeui/NativeUIController.cpp']) {
    assert.ok(shipped.includes(needed), `${needed} is missing from the tarball`);
  }
  const stray = shipped.filter((file) => /^(tests|build|node_modules|artifacts|build-native)\//.test(file));
  assert.deepEqual(stray, [], 'files that users do not need are in the tarball');

  const project = path.join(work, 'project');
  fs.mkdirSync(project);
  fs.writeFileSync(path.join(project, 'package.json'),
    JSON.stringify({ name: 'consumer', version: '1.0.0', private: true }));
  const installed = await run('npm',
    ['install', '--prefer-offline', '--no-audit', '--no-fund', path.join(work, filename)],
    { cwd: project, env: { ...process.env, npm_config_loglevel: 'error' } });
  if (installed.code !== 0 && NETWORK.test(installed.stderr)) {
    t.skip(`the dependencies are neither in npm's cache nor reachable: ${NETWORK.exec(installed.stderr)[0]}`);
    return;
  }
  assert.equal(installed.code, 0, `npm install failed:\n${installed.stdout}\n${installed.stderr}`);

  const server = await startXServer('xvfb');
  t.after(() => server.stop());
  const used = await run(process.execPath, ['-e', `
    const indicatorPackage = require(${JSON.stringify(pkg.name)});
    const { ScreenShareIndicator, NativeUIWrapper } = indicatorPackage;
    const result = {
      resolved: require.resolve(${JSON.stringify(pkg.name)}),
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
  `], { cwd: project, env: { ...process.env, DISPLAY: server.display }, timeout: 60000 });
  assert.equal(used.code, 0, `${used.stdout}\n${used.stderr}`);
  // The add-on prints diagnostics of its own on standard output.
  const line = used.stdout.split('\n').find((text) => text.startsWith('@@'));
  assert.ok(line, `no result from the consumer:\n${used.stdout}\n${used.stderr}`);
  const result = JSON.parse(line.slice(2));
  assert.equal(result.resolved, path.join(fs.realpathSync(project), 'node_modules', pkg.name, 'lib', 'index.js'));
  assert.deepEqual(result.exports, ['NativeUIWrapper', 'ScreenShareIndicator', 'listMonitors']);
  assert.deepEqual(result.rawMethods, ['Visible', '_internal_registerShowingEventCallback', 'constructor',
    'hideControlBar', 'registerHideControlBarCallback', 'registerLogCallback', 'registerShowControlBarCallback',
    'registerStopSharingClickEvent', 'showControlBar']);
  assert.ok(fs.existsSync(path.join(project, 'node_modules', pkg.name, result.types)), 'the types file is not installed');
  assert.equal(result.shown, true);
  assert.equal(result.hidden, true);
});
