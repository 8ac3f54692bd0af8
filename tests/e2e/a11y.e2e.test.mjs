// Every page as a keyboard, screen-reader or voice-control user meets it: axe-core's rules in
// each page's main states, and each page walked and used with the keyboard alone, from the
// menu and back. The microphone alternates a flat A and a sharp D, so the tuner's needle
// has somewhere to go and the notes game hears something.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startHost, openPlayer, currentMovie, loaderFrame, waitUntil, sleep, pluck, silence, noteHz } from './harness.mjs';
import { expectAccessible, walkByKeyboard, tabTo, hasFocus } from './a11y.mjs';

const segments = [pluck(noteHz(45, -20), 1.0), silence(0.4), pluck(noteHz(50, 20), 1.0), silence(0.4)];

let host;
let player;

before(async () => {
  host = await startHost({ segments });
  player = await openPlayer(host.url);
});

after(async () => {
  if (player) await player.close();
  if (host) await host.stop();
});

const press = (key) => player.page.keyboard.press(key);

// From the menu to a page by keyboard alone: Tab to its card, Enter.
async function openByKeyboard(card, name) {
  const shown = loaderFrame(player.page).childFrames()[0];
  if (!shown.url().endsWith('/Menu.html')) await press('Escape'); // a test before failed on its page
  const menu = await currentMovie(player.page, 'Menu.html');
  await tabTo(player.page, menu, card);
  await press('Enter');
  return currentMovie(player.page, name);
}

// Esc leaves a page for the menu.
async function leaveByEscape() {
  await press('Escape');
  return currentMovie(player.page, 'Menu.html');
}

const NAV = ['.nav-back', '.nav-home'];
const headingsOne = (frame) => frame.evaluate(() => [...document.querySelectorAll('h1')].map((h) => h.textContent));

test('menu: no serious rule broken; Tab reaches each card and Quit in order; Esc asks to quit and Esc takes it back', async () => {
  const menu = await currentMovie(player.page, 'Menu.html');
  await expectAccessible(menu, 'menu');
  assert.deepEqual(await headingsOne(menu), ['Menu']);
  // On the menu the history and home buttons are off, so the walk starts at the cards.
  const walk = await walkByKeyboard(player.page, menu, { expect: ['#go-tuner', '#go-notes', '#go-chords', '#go-songs', '#go-recorder', '#go-progress', '#go-maze', '#quit'] });
  assert.equal(walk[0], '#go-tuner');

  await menu.evaluate(() => document.activeElement.blur());
  await press('Escape');
  await waitUntil(() => menu.evaluate(() => document.getElementById('confirm-quit').open), 'the quit question');
  await expectAccessible(menu, 'menu, quit question');
  // The question keeps the keyboard to itself, and the safe answer comes first.
  assert.deepEqual(await walkByKeyboard(player.page, menu), ['#confirm-quit-no', '#confirm-quit-yes']);
  await press('Escape');
  await waitUntil(() => menu.evaluate(() => !document.getElementById('confirm-quit').open), 'the question to close');
  assert.ok(host.running, 'Esc on the question does not quit');
});

// What the tuner shows, sampled every few milliseconds.
async function watchTuner(tuner, ms) {
  const seen = [];
  const end = Date.now() + ms;
  while (Date.now() < end) {
    seen.push(await tuner.evaluate(() => {
      const m = document.getElementById('meter');
      const band = document.getElementById('band');
      return { ...m.dataset, band: getComputedStyle(band).backgroundPosition, offset: band.style.getPropertyValue('--still-offset') };
    }));
    await sleep(15);
  }
  return seen;
}

test('tuner while listening: no serious rule broken in either view, every control by keyboard in order', async () => {
  const tuner = await openByKeyboard('#go-tuner', 'Tuner.html');
  await waitUntil(() => tuner.evaluate(() => document.getElementById('meter').dataset.state !== 'idle'), 'a reading');
  const results = await expectAccessible(tuner, 'tuner, needle');
  // The speakers' spoken names begin with the word they show, so "click Play" reaches them.
  assert.ok(results.passes.some((r) => r.id === 'label-content-name-mismatch' && r.nodes.length >= 6),
    'the speaker buttons are checked for names that hold their text');
  assert.deepEqual(await headingsOne(tuner), ['Tuner']);

  const strings = [0, 1, 2, 3, 4, 5].flatMap((i) => [`.string[data-string="${i}"]`, `.speaker[data-string="${i}"]`]);
  await walkByKeyboard(player.page, tuner, {
    expect: [...NAV, '#tuning', '#mode-auto', '#mode-manual', '#reference-down', '#reference', '#reference-up',
      '#view-needle', '#view-strobe', ...strings],
  });

  // The reference pitch by its arrows, the view by Enter on its button.
  await tabTo(player.page, tuner, '#reference');
  await press('ArrowUp');
  await waitUntil(async () => (await tuner.getAttribute('#reference', 'aria-valuenow')) === '441', 'the reference at 441');
  await press('ArrowDown');
  await waitUntil(async () => (await tuner.getAttribute('#reference', 'aria-valuenow')) === '440', 'the reference at 440');
  await tabTo(player.page, tuner, '#view-strobe');
  await press('Enter');
  assert.equal(await tuner.getAttribute('#view-strobe', 'aria-pressed'), 'true');
  assert.ok(await hasFocus(tuner, '#view-strobe'), 'the focus stays where it was');
  await expectAccessible(tuner, 'tuner, strobe');
  await tabTo(player.page, tuner, '#view-needle');
  await press('Enter');
  assert.equal(await tuner.getAttribute('#view-needle', 'aria-pressed'), 'true');
});

test('tuner with reduced motion: the needle stands on each reading and the strobe band stands still', async () => {
  const tuner = await currentMovie(player.page, 'Tuner.html');
  await player.page.emulateMedia({ reducedMotion: 'reduce' });
  try {
    // Readings only: while the page asks for a string the needle rests at 0.
    const needle = (await watchTuner(tuner, 4000)).filter((s) => s.state !== 'idle' && s.offNote === 'false' && s.held === 'false');
    assert.ok(needle.some((s) => Number(s.cents) < -10) && needle.some((s) => Number(s.cents) > 10),
      `both the flat and the sharp string were read (${needle.length} samples)`);
    const astray = needle.filter((s) => Math.abs(Number(s.needle) - Number(s.cents)) > 0.6);
    assert.deepEqual(astray.map((s) => `${s.needle} for ${s.cents}`), [], 'the needle is on the reading, not on its way');

    await tabTo(player.page, tuner, '#view-strobe');
    await press('Enter');
    const band = (await watchTuner(tuner, 4000)).filter((s) => s.state !== 'idle' && s.offNote === 'false' && s.held === 'false');
    // One place of the band for each reading: it does not drift while the reading stays.
    const places = new Map();
    const offsets = new Map();
    for (const s of band) {
      places.set(s.cents, (places.get(s.cents) || new Set()).add(s.band));
      offsets.set(s.cents, parseFloat(s.offset));
    }
    const drifting = [...places].filter(([, at]) => at.size > 1);
    assert.deepEqual(drifting.map(([c, at]) => `${c}: ${[...at].join(' | ')}`), [], 'the band stands still');
    // Flat and sharp still look different: the band stands off to one side or the other.
    const offset = (cents) => offsets.get(cents);
    const flat = [...places.keys()].filter((c) => Number(c) < -10);
    const sharp = [...places.keys()].filter((c) => Number(c) > 10);
    assert.ok(flat.length && sharp.length, `flat and sharp readings in strobe view (${[...places.keys()].join(' ')})`);
    assert.ok(flat.every((c) => offset(c) < 0) && sharp.every((c) => offset(c) > 0), 'left when flat, right when sharp');
  } finally {
    await player.page.emulateMedia({ reducedMotion: 'no-preference' });
    await tabTo(player.page, tuner, '#view-needle');
    await press('Enter');
  }
  // Without the preference the needle swings towards each new reading again.
  const moving = (await watchTuner(tuner, 3000)).filter((s) => s.state !== 'idle' && s.offNote === 'false' && s.held === 'false');
  assert.ok(moving.some((s) => Math.abs(Number(s.needle) - Number(s.cents)) > 1), 'the needle moves when motion is welcome');
  await leaveByEscape();
});

test('notes in a round: no serious rule broken; every control by keyboard; a level chosen by Enter', async () => {
  const notes = await openByKeyboard('#go-notes', 'Notes.html');
  await waitUntil(() => notes.evaluate(() => document.getElementById('task').textContent.trim().length > 0), 'a round');
  await waitUntil(() => notes.evaluate(() => document.getElementById('heard').dataset.heard !== 'none'), 'a note heard');
  await expectAccessible(notes, 'notes, in a round');
  assert.deepEqual(await headingsOne(notes), ['Notes']);
  await walkByKeyboard(player.page, notes, {
    expect: [...NAV, '[data-level="0"]', '[data-level="1"]', '[data-level="2"]', '#skip', '#reset'],
  });
  const round = Number(await notes.textContent('#round'));
  await tabTo(player.page, notes, '#skip');
  await press('Enter');
  await waitUntil(async () => Number(await notes.textContent('#round')) > round, 'another round');
  await leaveByEscape();
});

test('recorder with a take: recorded, stopped and played by keyboard; the focus follows the deck', async () => {
  const recorder = await openByKeyboard('#go-recorder', 'Recorder.html');
  await expectAccessible(recorder, 'recorder, before a take');
  await tabTo(player.page, recorder, '#record');
  await press('Enter');
  // Record switches itself off: the focus moves on to Stop rather than getting lost.
  await waitUntil(() => hasFocus(recorder, '#stop'), 'the focus on Stop');
  await sleep(1500);
  await press('Enter');
  await waitUntil(() => recorder.evaluate(() => document.getElementById('take').dataset.state === 'shown'), 'the take', 20000);
  assert.ok(await hasFocus(recorder, '#play'), 'after Stop the focus is on Play');
  await expectAccessible(recorder, 'recorder, with a take');
  assert.deepEqual(await headingsOne(recorder), ['Recorder']);
  await walkByKeyboard(player.page, recorder, { expect: [...NAV, '#record', '#play'] });
  await tabTo(player.page, recorder, '#play');
  await press('Enter');
  await waitUntil(() => recorder.evaluate(() => document.getElementById('deck').dataset.state === 'playing'), 'playback');
  await expectAccessible(recorder, 'recorder, playing');
  await leaveByEscape();
});

test('maze: no serious rule broken; sizes by keyboard; Enter makes a new maze and the arrows walk', async () => {
  const maze = await openByKeyboard('#go-maze', 'Maze.html');
  const shown = () => maze.evaluate(() => document.getElementById('maze').dataset.maze || '');
  await waitUntil(async () => (await shown()).length > 0, 'a maze');
  await expectAccessible(maze, 'maze');
  assert.deepEqual(await headingsOne(maze), ['Maze']);
  const sizes = [11, 16, 21, 31].map((n) => `[data-size="${n}"]`);
  await walkByKeyboard(player.page, maze, { expect: [...NAV, ...sizes, '#new-maze'] });

  // A size by Enter keeps the focus on its button, where the keyboard user left it.
  await tabTo(player.page, maze, sizes[0]);
  await press('Enter');
  await waitUntil(async () => (await shown()).length === 11 * 11, 'an 11 × 11 maze');
  assert.ok(await hasFocus(maze, sizes[0]), 'the size keeps the focus');
  const moves = () => maze.evaluate(() => Number(document.getElementById('moves').textContent));
  const before = await moves();
  for (const key of ['ArrowDown', 'ArrowRight', 'ArrowDown', 'ArrowLeft']) await press(key);
  await waitUntil(async () => (await moves()) > before, 'the pick to move');
  const first = await shown();
  await maze.evaluate(() => document.activeElement.blur());
  await press('Enter');
  await waitUntil(async () => (await shown()) !== first || (await moves()) === 0, 'a new maze');
  await leaveByEscape();
});
