'use strict';
// Runs a scenario in a Node process of its own (a fresh controller, its own exit), with DISPLAY
// set, and resolves to { code, signal, stdout, stderr, timedOut }. A child that outlives the
// deadline is killed and reported as timedOut: a hang is a failure, not a wait.
const { spawn } = require('node:child_process');
const path = require('node:path');

const root = path.join(__dirname, '..', '..', '..');
const addons = {
  shipped: path.join(root, 'build', 'Release', 'nativeUIWrapper.node'),
  test: path.join(root, 'build', 'Release', 'dispatcherTest.node'),
};

// source: the scenario's JavaScript. It sees `addon` (the path of the add-on chosen by `which`),
// `report(value)` (one JSON line on standard output, prefixed so that the controller's own
// lines can be told apart) and `until(predicate)` (resolves once predicate() holds, checked
// after every turn of the loop).
function runScenario(source, {
  display,
  which = 'shipped',
  nodeArgs = [],
  timeoutMs = 60000,
  env = {},
} = {}) {
  const prelude = `'use strict';
const addon = ${JSON.stringify(addons[which])};
const report = (value) => process.stdout.write('@@' + JSON.stringify(value) + '\\n');
const until = (predicate) => new Promise((resolve) => {
  const check = () => (predicate() ? resolve() : setImmediate(check));
  check();
});
`;
  const childEnv = { ...process.env, ...env };
  if (display) childEnv.DISPLAY = display;
  else delete childEnv.DISPLAY;
  return new Promise((resolve, reject) => {
    const child = spawn(process.execPath, [...nodeArgs, '-e', prelude + source], {
      env: childEnv,
      stdio: ['ignore', 'pipe', 'pipe'],
    });
    let stdout = '';
    let stderr = '';
    let timedOut = false;
    child.stdout.on('data', (chunk) => { stdout += chunk; });
    child.stderr.on('data', (chunk) => { stderr += chunk; });
    const timer = setTimeout(() => {
      timedOut = true;
      child.kill('SIGKILL');
    }, timeoutMs);
    child.once('error', reject);
    child.once('close', (code, signal) => {
      clearTimeout(timer);
      const reports = stdout.split('\n').filter((l) => l.startsWith('@@'))
        .map((l) => JSON.parse(l.slice(2)));
      resolve({ code, signal, stdout, stderr, timedOut, reports });
    });
  });
}

module.exports = { runScenario, addons };
