// The notes page against the host's note recognizer, with a synthetic open A string.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startHost, openPlayer, currentMovie, screenshot, stringTone, waitUntil } from './harness.mjs';

let host;
let player;
let notes;

before(async () => {
  host = await startHost({ segments: [{ seconds: 2, partials: stringTone(110) }] });
  player = await openPlayer(host.url);
  const menu = await currentMovie(player.page, 'Menu.html');
  await menu.click('#go-notes');
  notes = await currentMovie(player.page, 'Notes.html');
});

after(async () => {
  if (player) await player.close();
  if (host) await host.stop();
});

const litStrings = () => notes.evaluate(() =>
  [...document.querySelectorAll('#board .string.lit')].map((g) => Number(g.dataset.tone)));

test('an open A string lights the A string and no other', async () => {
  await waitUntil(async () => (await litStrings()).length > 0, 'a string to light up', 20000);
  assert.deepEqual(await litStrings(), [2]);
  assert.match(await notes.locator('#heard').textContent(), /hears the A string/);
  await screenshot(player.page, 'Notes');
});

test('the string game counts a hit when the asked string is played, then moves on', async () => {
  const game = () => notes.evaluate(() => {
    const g = document.getElementById('game');
    return { target: Number(g.dataset.target), hits: Number(g.dataset.hits) };
  });
  // Ask for another string until the game wants the A string (tone 2) that is sounding.
  await waitUntil(async () => {
    const now = await game();
    if (now.target === 2 || now.hits > 0) return true;
    await notes.click('#skip');
    return false;
  }, 'the game to ask for the A string', 20000, 100);
  const hit = await waitUntil(async () => {
    const now = await game();
    return now.hits === 1 ? now : null;
  }, 'the hit to be counted', 20000);
  assert.equal(hit.hits, 1);
  assert.match(await notes.locator('#feedback').textContent(), /A string/);
  await waitUntil(async () => (await game()).target !== 2, 'the game to move on');
  // The A string keeps sounding, but only the asked string counts.
  await new Promise((r) => setTimeout(r, 1500));
  assert.equal((await game()).hits, 1);
  assert.deepEqual(player.errors, []);
});
