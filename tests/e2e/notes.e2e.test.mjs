// The notes page against the host's pitch tracker: a sequence of plucked notes as the
// microphone, then a wrong string followed by a brief glitch of the note the game asks for.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startHost, openPlayer, currentMovie, screenshot, sleep, waitUntil, unnamedControls, pluck, silence, noteHz } from './harness.mjs';

// [midi, the places it lights: "string:fret", string 0 the low E]
const SEQUENCE = [
  [45, '0:5 1:0'],            // A2
  [48, '0:8 1:3'],            // C3
  [52, '0:12 1:7 2:2'],       // E3
  [59, '2:9 3:4 4:0'],        // B3
];
const D3 = 50;
const G3 = 55;
const segments = [
  ...SEQUENCE.flatMap(([midi]) => [pluck(noteHz(midi), 0.9), silence(0.25)]),
  // The tempting part: the open G string played for a D, then 100 ms of D3, then silence.
  { seconds: 0.8, partials: pluck(noteHz(G3), 0.8).partials },
  { seconds: 0.1, partials: pluck(noteHz(D3), 0.1).partials },
  silence(1.0),
];
const LOOP_MS = 6500;

let host;
let player;
let notes;

before(async () => {
  host = await startHost({ segments });
  player = await openPlayer(host.url);
  const menu = await currentMovie(player.page, 'Menu.html');
  await menu.click('#go-notes');
  notes = await currentMovie(player.page, 'Notes.html');
});

after(async () => {
  if (player) await player.close();
  if (host) await host.stop();
});

const shown = () => notes.evaluate(() => ({
  lit: document.getElementById('board').dataset.lit || '',
  heard: document.getElementById('heard').dataset.heard,
}));
const game = () => notes.evaluate(() => {
  const g = document.getElementById('game');
  return {
    target: Number(g.dataset.target),
    hits: Number(g.dataset.hits),
    misses: Number(g.dataset.misses),
    result: g.dataset.result,
    wrong: g.dataset.wrong,
    feedback: document.getElementById('feedback').textContent,
    time: document.getElementById('time').textContent,
  };
});

test('the fretboard lights every place of each note of a sequence, and nothing else', async () => {
  // While the game waits for a note that never sounds long enough, it cannot score.
  await notes.evaluate(() => NotesGame.ask(2, 0));
  const seen = new Map();
  const end = Date.now() + LOOP_MS + 1000;
  while (Date.now() < end) {
    const now = await shown();
    if (now.lit) seen.set(now.lit, now.heard);
    await sleep(30);
  }
  // The sequence, the open G string of the tempting part and (perhaps) its brief D3.
  const played = new Set([...SEQUENCE.map(([, lit]) => lit), '1:10 2:5 3:0', '0:10 1:5 2:0']);
  for (const [, lit] of SEQUENCE) assert.ok(seen.has(lit), `lit ${lit} (seen: ${[...seen.keys()].join(' | ')})`);
  assert.deepEqual([...seen.keys()].filter((lit) => !played.has(lit)), [], 'no place lit for a note that was not played');
  assert.equal(seen.get('0:5 1:0'), 'A2');
  assert.equal(seen.get('2:9 3:4 4:0'), 'B3');
  assert.ok(seen.has('1:10 2:5 3:0'), 'the open G string of the tempting part lights too');
  assert.deepEqual(await unnamedControls(notes), [], 'every control has an accessible name');
});

test('the game does not score a wrong string followed by a brief glitch, and names what it heard', async () => {
  await notes.evaluate(() => NotesGame.ask(2, 0)); // the open D string
  const before = await game();
  assert.equal(before.target, D3);
  // Every note of the loop is a wrong one for this round; the open G string comes right
  // before the glitch.
  const wrong = await waitUntil(async () => {
    const g = await game();
    return g.result === 'wrong' && g.wrong === 'G3' ? g : null;
  }, 'the open G string to be named', LOOP_MS + 2000, 20);
  assert.match(wrong.feedback, /That was G3, not D3/);
  // Past the glitch (0.6 s of G3 are left, then 0.1 s of D3), before the loop's next note.
  await sleep(1100);
  const afterGlitch = await game();
  assert.equal(afterGlitch.hits, before.hits);
  assert.equal(afterGlitch.wrong, 'G3');
  // Two more passes of the glitch: never a hit.
  await sleep(2 * LOOP_MS);
  const after = await game();
  assert.equal(after.hits, before.hits, 'the brief D3 never scores');
  assert.equal(after.target, D3, 'the round goes on');
  assert.ok(after.misses >= 1);
});

test('a note held on the asked place scores, with the time to answer', async () => {
  await notes.evaluate(() => NotesGame.ask(1, 3)); // C on the A string, 3rd fret
  assert.match(await notes.textContent('#task'), /C on the A string, 3rd fret/);
  const hit = await waitUntil(async () => {
    const g = await game();
    return g.hits > 0 ? g : null;
  }, 'the hit', LOOP_MS + 2000);
  await screenshot(player.page, 'Notes');
  assert.equal(hit.hits, 1);
  assert.match(hit.feedback, /Well played! C3 in \d+\.\d s/);
  assert.match(hit.time, /^\d+\.\d s$/);
  await waitUntil(async () => (await game()).target !== 48, 'the next round');
  assert.deepEqual(player.errors, []);
});
