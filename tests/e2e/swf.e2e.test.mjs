// Flash movies: the host on a folder of SWF test movies (built from tests/swf with haxe),
// played by Ruffle in the player in headless Chromium. One host and one browser serve every
// check here: a running movie costs about 200 MiB and a second to start.
//
// The page movies register "callHost(name, args)", which makes the movie's own
// ExternalInterface.call and answers with exactly the value the movie received, and
// "report()", what the page has seen; the Loader registers "loaderState()".
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { startHost, openPlayer, screenshot, stringTone, waitUntil } from './harness.mjs';

const movies = process.env.TUNEWICK_SWF_MOVIES;
if (!movies || !fs.existsSync(path.join(movies, 'Loader.swf'))) {
  throw new Error('TUNEWICK_SWF_MOVIES must name the folder of the built SWF test movies (ctest sets it)');
}

let host;
let player;

before(async () => {
  // The A string (110 Hz) plays all the time; the recognizer hears it once a page starts it.
  host = await startHost({ segments: [{ seconds: 2, partials: stringTone(110, 0.3) }], movies });
  player = await openPlayer(host.url);
});

after(async () => {
  if (player) await player.close();
  if (host) await host.stop();
});

// A callback the movie registered on its <ruffle-player>; '<none>' when there is none.
function movie(page, name, ...args) {
  return page.evaluate(([n, a]) => {
    const element = document.getElementById('swf');
    return element && typeof element[n] === 'function' ? element[n](...a) : '<none>';
  }, [name, args]);
}

// The movie's own ExternalInterface.call(name, ...args), and what the movie got back.
const callHost = (page, name, ...args) => movie(page, 'callHost', name, args);

// Waits until the Loader shows page NAME and that page has started (its callbacks are in).
async function shown(page, name) {
  return waitUntil(async () => {
    const state = await movie(page, 'loaderState');
    if (!state || state.shown !== name + '.swf') return null;
    const report = await movie(page, 'report');
    return report && report.page === name ? report : null;
  }, `the SWF page ${name} to be shown`, 30000);
}

test('the Loader loads the first page by name; the page gets its history and maze as it starts', async () => {
  const { page } = player;
  const report = await shown(page, 'Menu');
  assert.equal(await page.evaluate(() => document.getElementById('layer0').hidden), true, 'the HTML5 frame steps aside');
  assert.deepEqual(report.history, { canGoBack: false, canGoForward: false });
  assert.equal(typeof report.maze, 'string');
  assert.equal(report.maze.length, 21 * 19);
  assert.match(report.maze, /^[# EB]+$/);
  assert.equal(report.monospace, true, 'the maze font is monospaced');
  const state = await movie(page, 'loaderState');
  assert.equal(state.requests, 1);
  assert.equal(state.missing, null);
});

test('page calls get the right values synchronously; unknown names read as undefined', async () => {
  const { page } = player;
  await shown(page, 'Menu');
  const cases = [
    ['getHistoryInfo', [], { canGoBack: false, canGoForward: false }],
    ['goBack', [], false],
    ['goForward', [], false],
    ['setTunerString', [1], true],
    ['setTunerString', [9], false],
    ['startTuner', [], null],
  ];
  for (const [name, args, expected] of cases) {
    assert.deepEqual(await callHost(page, name, ...args), expected, name);
  }
  // An unknown name stays undefined in the page: the movie gets undefined, which AS3 reads
  // as it reads null (undefined == null), and no request reaches the host.
  assert.equal(await callHost(page, 'noSuchCommand', 1, 'two'), undefined);
  const maze = await callHost(page, 'generateMaze', 7, 5);
  assert.equal(typeof maze, 'string');
  assert.equal(maze.length, 35);
  assert.deepEqual(await page.evaluate(() => [typeof window.getHistoryInfo, typeof window.noSuchCommand]), ['function', 'undefined']);
});

test('loadSwf, goBack and goForward switch SWF pages through the history', async () => {
  const { page } = player;
  await shown(page, 'Menu');
  assert.equal(await callHost(page, 'loadSwf', 'Second.swf'), null);
  let report = await shown(page, 'Second');
  assert.deepEqual(report.history, { canGoBack: true, canGoForward: false });

  assert.equal(await callHost(page, 'goBack'), true);
  report = await shown(page, 'Menu');
  assert.deepEqual(report.history, { canGoBack: false, canGoForward: true });

  assert.equal(await callHost(page, 'goForward'), true);
  report = await shown(page, 'Second');
  assert.deepEqual(report.history, { canGoBack: true, canGoForward: false });
  assert.equal(await callHost(page, 'goForward'), false);
});

test('Esc and Enter reach the movie', async () => {
  const { page } = player;
  await shown(page, 'Second');
  assert.equal(await page.evaluate(() => document.activeElement && document.activeElement.id), 'swf', 'the player gives the movie the focus');
  await page.keyboard.press('Escape');
  await page.keyboard.press('Enter');
  await page.keyboard.press('ArrowDown');
  await waitUntil(async () => (await movie(page, 'report')).keys.length >= 3, 'three keys to reach the movie');
  assert.deepEqual((await movie(page, 'report')).keys, ['Escape', 'Enter', 'ArrowDown']);
});

test('the recognizer\'s setTone reaches a child movie\'s callback while an A string plays', async () => {
  const { page } = player;
  await shown(page, 'Second');
  assert.equal(await callHost(page, 'startRecognizer'), null);
  const report = await waitUntil(async () => {
    const now = await movie(page, 'report');
    return now.tones.includes(2) ? now : null;
  }, 'the A string (tone 2) to reach the page', 30000);
  assert.ok(report.tones.every((tone) => tone === 2), `only the A string is heard: ${report.tones}`);
  // Calls from the movie go on being answered while the host calls in.
  for (let i = 0; i < 20; i += 1) {
    assert.deepEqual(await callHost(page, 'getHistoryInfo'), { canGoBack: true, canGoForward: false });
  }
  await screenshot(page, 'FlashPage');
});

test('a missing page movie leaves the Loader running and says so', async () => {
  const { page } = player;
  await shown(page, 'Second');
  assert.equal(await callHost(page, 'loadSwf', 'NoSuchPage.swf'), null);
  const state = await waitUntil(async () => {
    const now = await movie(page, 'loaderState');
    return now.missing === 'NoSuchPage.swf' ? now : null;
  }, 'the Loader to report the missing page');
  assert.match(state.notice, /NoSuchPage\.swf/);
  assert.equal(state.shown, 'Second.swf');
  // The Loader still takes the next page.
  assert.equal(await callHost(page, 'goBack'), true);
  const after = await waitUntil(async () => {
    const now = await movie(page, 'loaderState');
    return now.requests === state.requests + 1 && now.missing === null ? now : null;
  }, 'the Loader to show the page before the missing one again');
  assert.equal(after.shown, 'Second.swf');
  assert.equal(after.notice, null);
});

test('"exit" from a movie ends the host', async () => {
  const { page } = player;
  await shown(page, 'Second');
  assert.equal(await callHost(page, 'exit'), null);
  const { code } = await waitUntil(() => (host.running ? null : host.exited), 'the host to end', 20000);
  assert.equal(code, 0);
  await waitUntil(() => page.locator('#ended').isVisible(), 'the player to say that the program has ended');
  assert.deepEqual(player.errors, []);
});
