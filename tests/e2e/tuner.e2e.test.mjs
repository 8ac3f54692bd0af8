// The tuner page against the host's string tuner, with a synthetic string as the microphone.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { startHost, openPlayer, currentMovie, screenshot, sleep, stringTone, waitUntil } from './harness.mjs';

let host;
let player;
let tuner;

before(async () => {
  // Three seconds of a string sounding at 75 Hz, then three seconds of silence, looped.
  host = await startHost({ segments: [{ seconds: 3, partials: stringTone(75) }, { seconds: 3, partials: [] }] });
  player = await openPlayer(host.url);
  const menu = await currentMovie(player.page, 'Menu.html');
  await menu.click('#go-tuner');
  tuner = await currentMovie(player.page, 'Tuner.html');
});

after(async () => {
  if (player) await player.close();
  if (host) await host.stop();
});

const meter = () => tuner.evaluate(() => {
  const m = document.getElementById('meter');
  return {
    state: m.dataset.state,
    value: m.dataset.value,
    verdict: document.getElementById('verdict').textContent,
    needle: document.getElementById('needle').style.transform,
  };
});

const selectedString = () => tuner.evaluate(() =>
  [...document.querySelectorAll('#strings .string')].map((b) => b.classList.contains('selected') && b.getAttribute('aria-pressed') === 'true'));

test('a low E string sounding at 75 Hz reads as flat by half the scale', async () => {
  await tuner.click('#strings .string[data-string="0"]');
  assert.deepEqual(await selectedString(), [true, false, false, false, false, false]);
  const reading = await waitUntil(async () => {
    const now = await meter();
    return now.state === 'flat' ? now : null;
  }, 'a flat reading', 20000);
  // 82 Hz is the target and 68 Hz the end of the scale: (82 - 75) / 14 = 0.5.
  assert.equal(reading.value, '0.5');
  assert.match(reading.verdict, /Flat/);
  // Flat swings the needle to the left: half of its full 68 degrees.
  const angle = Number(/rotate\((-?[0-9.]+)deg\)/.exec(reading.needle)[1]);
  assert.equal(angle, -34);
  await sleep(600); // let the needle settle for the picture
  await screenshot(player.page, 'Tuner');
});

test('silence shows that no clear sound is heard', async () => {
  const reading = await waitUntil(async () => {
    const now = await meter();
    return now.state === 'none' ? now : null;
  }, 'the no-sound reading', 20000);
  assert.equal(reading.value, '');
  assert.equal(reading.verdict, 'No clear sound');
});

test('choosing another string highlights it and retunes the host\'s tuner', async () => {
  const readings = () => tuner.evaluate(() => Number(document.getElementById('meter').dataset.readings || 0));
  await tuner.click('#strings .string[data-string="1"]');
  assert.deepEqual(await selectedString(), [false, true, false, false, false, false]);
  // One reading a second: after a whole loop of the input the A string has been measured.
  const from = await readings();
  await waitUntil(async () => (await readings()) >= from + 7, 'seven more readings', 20000);
  // Leaving the page stops the tuner, which closes its record of what it measured: first
  // the low E string against 82 Hz, then the A string against 110 Hz.
  await tuner.click('.nav-home');
  await currentMovie(player.page, 'Menu.html');
  const lines = await waitUntil(() => {
    const file = host.file('statistic.txt');
    const text = fs.existsSync(file) ? fs.readFileSync(file, 'utf8') : '';
    return /targetp = 110/.test(text) && text.split('\n');
  }, 'the measurements against 110 Hz', 10000);
  const firstA = lines.findIndex((l) => /targetp = 110/.test(l));
  assert.ok(lines.slice(0, firstA).includes('targetp = 82, realp = 75, result = 0.500000'));
  assert.ok(lines.slice(firstA).every((l) => l === '' || /^targetp = 110, realp = \d+, result = -?\d+\.\d{6}$/.test(l)));
  assert.deepEqual(player.errors, []);
});
