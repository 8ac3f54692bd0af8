// The practice history end to end: an empty history shows its first step; a note-game round
// played through the microphone (a WAV file) and a play-along run are kept; after a restart
// of the host the Progress page shows them.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { startHost, openPlayer, currentMovie, screenshot, sleep, waitUntil, unnamedControls, pluck, silence, noteHz } from './harness.mjs';
import { expectAccessible, walkByKeyboard } from './a11y.mjs';

const C3 = 48;
const segments = [pluck(noteHz(C3), 1.2), silence(0.4)];
const dataHome = fs.mkdtempSync(path.join(os.tmpdir(), 'tunewick-e2e-history-'));

let host;
let player;

async function open() {
  host = await startHost({ segments, dataHome });
  player = await openPlayer(host.url);
  return currentMovie(player.page, 'Menu.html');
}

async function close() {
  if (player) await player.close();
  if (host) await host.stop();
  player = null;
  host = null;
}

before(async () => {
  await open();
});

after(async () => {
  await close();
  fs.rmSync(dataHome, { recursive: true, force: true });
});

const progressState = (frame) => frame.evaluate(() => ({
  state: document.body.dataset.state,
  rounds: Number(document.getElementById('rounds').textContent),
  today: Number(document.body.dataset.today || 0),
  streak: Number(document.body.dataset.streak || 0),
  missed: Number(document.getElementById('heat').dataset.missed || 0),
  songs: [...document.getElementById('song-choice').options].map((o) => o.value),
  next: [...document.querySelectorAll('#next-list button')].map((b) => b.dataset.kind),
  h1: document.querySelectorAll('h1').length,
}));

test('an empty history shows a first step, not empty charts', async () => {
  const menu = await currentMovie(player.page, 'Menu.html');
  await menu.click('#go-progress');
  const page = await currentMovie(player.page, 'Progress.html');
  await waitUntil(async () => (await page.evaluate(() => document.body.dataset.state)) === 'empty', 'the empty state');
  assert.equal(await page.isVisible('#full'), false);
  assert.match(await page.textContent('#empty'), /Start with one round of the string game/);
  assert.deepEqual(await unnamedControls(page), []);
  await expectAccessible(page, 'progress, empty');
  await walkByKeyboard(player.page, page, { expect: ['#empty [data-page="Notes.html"]', '#export', '#delete'] });
  await page.click('#empty [data-page="Notes.html"]');
  await currentMovie(player.page, 'Notes.html');
});

test('a round of the string game and a play-along run are kept across a restart', async () => {
  const notes = await currentMovie(player.page, 'Notes.html');
  const started = Date.now();
  await notes.evaluate(() => NotesGame.ask(1, 3)); // C on the A string, 3rd fret
  await waitUntil(async () => Number(await notes.evaluate(() => document.getElementById('game').dataset.hits)) > 0,
    'the hit', 15000);
  // What the Songs page sends after a lesson; its page is not here yet, so the call is made
  // from this one, through the same bridge.
  const kept = await notes.evaluate(() => Tunewick.call('recordResult', 'playalong', {
    song: 'Greensleeves', lesson: 'Bars 1-8', speed: 0.75, accuracy: 0.625, spread: 41,
    events: [
      { index: 0, bar: 1, verdict: 'hit', offset: -12 },
      { index: 1, bar: 2, verdict: 'late', offset: 64 },
      { index: 2, bar: 2, verdict: 'missed', offset: null, string: 2, fret: 2 },
    ],
  }));
  assert.equal(kept, true);
  assert.equal(await notes.evaluate(() => Tunewick.call('recordResult', 'playalong', { song: 'x' })), false,
    'a bad result is refused');
  // A session counts from five seconds on; leave the page to have it kept.
  await sleep(Math.max(0, 6000 - (Date.now() - started)));
  await notes.evaluate(() => Tunewick.goHome());
  await currentMovie(player.page, 'Menu.html');
  await sleep(300);

  await close();
  const menu = await open();
  await menu.click('#go-progress');
  const page = await currentMovie(player.page, 'Progress.html');
  const shown = await waitUntil(async () => {
    const s = await progressState(page);
    return s.state === 'shown' ? s : null;
  }, 'the history to be drawn');
  await screenshot(player.page, 'Progress');
  assert.ok(shown.rounds >= 1, `rounds: ${shown.rounds}`);
  assert.ok(shown.today > 0, 'the Notes visit counts as practice today');
  assert.equal(shown.streak, 1);
  assert.deepEqual(shown.songs, ['Greensleeves — Bars 1-8']);
  assert.ok(shown.missed >= 1, 'the missed place of the run is on the heatmap');
  assert.ok(shown.next.includes('lesson'), `practise next: ${shown.next}`);
  assert.equal(shown.h1, 1);
  assert.deepEqual(await unnamedControls(page), []);
  await expectAccessible(page, 'progress, shown');
  await walkByKeyboard(player.page, page, { expect: ['#goal', '#next-list button', '#song-choice', '#export', '#delete'] });
  assert.deepEqual(player.errors, []);
});
