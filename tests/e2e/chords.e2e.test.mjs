// The chords page in the host: the library's search and diagrams, the speaker button's strum,
// the trainer's sets and its refusal of a chord it cannot check, and the settings it keeps.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import { startHost, openPlayer, currentMovie, screenshot, waitUntil, unnamedControls, silence, readWav } from './harness.mjs';
import { expectAccessible } from './a11y.mjs';

const require = createRequire(import.meta.url);
const C = require('../../data/chords.js');

let host;
let player;
let page;

before(async () => {
  host = await startHost({ segments: [silence(1)] });
  player = await openPlayer(host.url);
  const menu = await currentMovie(player.page, 'Menu.html');
  await menu.click('#go-chords');
  page = await currentMovie(player.page, 'Chords.html');
  await waitUntil(() => page.evaluate(() => document.body.dataset.ready === 'true'), 'the chords page to start');
  await page.evaluate(() => {
    window.hostCalls = [];
    const call = Tunewick.call;
    Tunewick.call = async (name, ...args) => {
      const answer = await call(name, ...args);
      window.hostCalls.push({ name, args, answer });
      return answer;
    };
  });
});

after(async () => {
  if (player) await player.close();
  if (host) await host.stop();
});

const hostCalls = (name) => page.evaluate((n) => window.hostCalls.filter((c) => c.name === n), name);
const shownCards = () => page.$$eval('#voicings .voicing', (cards) => cards.map((c) => ({
  name: c.dataset.name,
  frets: c.dataset.frets,
  dots: c.querySelectorAll('.dot').length,
  barre: c.querySelectorAll('.barre').length,
  muted: c.querySelectorAll('.muted').length,
  open: c.querySelectorAll('.open').length,
})));

test('search shows the voicings of a chord, by sharp or flat, each with its diagram', async () => {
  const all = await shownCards();
  assert.ok(all.length >= 80, `${all.length} diagrams`);
  // Every diagram drawn marks each string once: a dot, the barre, open or muted.
  for (const card of all) {
    const frets = card.frets.length === 6 ? card.frets.split('') : card.frets.split(' ');
    assert.equal(card.muted, frets.filter((f) => f === 'x').length, `${card.name} ${card.frets}: muted`);
    assert.equal(card.open, frets.filter((f) => f === '0').length, `${card.name} ${card.frets}: open`);
    assert.ok(card.dots + (card.barre ? 2 : 0) <= frets.filter((f) => f !== 'x' && f !== '0').length, `${card.name} ${card.frets}: dots`);
  }
  const cases = [['Am7', ['Am7']], ['F#m', ['F#m']], ['Gbm', ['F#m']], ['Bb', ['Bb', 'Bb7', 'Bbm', 'Bbm7', 'Bbmaj7']], ['A#7', ['Bb7']], ['nothing', []]];
  for (const [query, names] of cases) {
    await page.fill('#search', query);
    const found = await shownCards();
    assert.deepEqual([...new Set(found.map((c) => c.name))].sort(), names.sort(), query);
    assert.match(await page.textContent('#library-count'), new RegExp(`^${found.length} of ${all.length} voicings`));
  }
  await page.fill('#search', 'Am');
  assert.deepEqual((await shownCards()).map((c) => c.frets), ['x02210', '577555']);
  assert.deepEqual(await unnamedControls(page), [], 'every control has an accessible name');
  await expectAccessible(page, 'chords, library');
});

test('the speaker button strums the voicing\'s notes through the sound player', async () => {
  await page.fill('#search', 'C');
  await page.click('#voicings .voicing[data-frets="x32010"] button');
  const call = await waitUntil(async () => (await hostCalls('playChord')).at(-1), 'the strum call');
  assert.deepEqual(call.args, [[48, 52, 55, 60, 64]]);
  assert.equal(call.answer, true);
  const wav = readWav(host.file('data', 'sound', 'chord.wav'));
  assert.equal(wav.channels, 1);
  assert.ok(wav.dataSize > wav.sampleRate, 'more than half a second of sound');
  await page.fill('#search', '');
  await screenshot(player.page, 'Chords-library');
});

test('the trainer sets the chord to check, keeps its set, and refuses a chord of one string', async () => {
  await page.click('#tab-trainer');
  await page.click('.sets [data-set="openMinor"]');
  const am = C.targetNotes({ frets: C.parseFrets('x02210') });
  const target = await waitUntil(async () => {
    const last = (await hostCalls('setChordTarget')).filter((c) => Array.isArray(c.args[0])).at(-1);
    return last && JSON.stringify(last.args[0]) === JSON.stringify(am) ? last : null;
  }, 'the open Am as the chord to check');
  assert.equal(target.answer, true);
  assert.equal(await page.textContent('#target-name'), 'Am');
  const set = await waitUntil(async () => (await hostCalls('setSetting')).find((c) => c.args[0] === 'chordSet'), 'the set kept');
  assert.deepEqual([set.args, set.answer], [['chordSet', 'openMinor'], true]);

  await page.fill('#custom-list', 'xxxxx3, Dm, Hm');
  await page.click('#custom-use');
  await waitUntil(async () => /Dm/.test(await page.textContent('#target-name')), 'the custom list');
  const message = await page.textContent('#trainer-message');
  assert.match(message, /xxxxx3: a chord needs at least two strings to be checked/);
  assert.match(message, /Hm: no chord of that name/);
  const settings = await page.evaluate(() => Tunewick.call('getSettings'));
  assert.equal(settings.chordList, 'xxxxx3, Dm, Hm');
  assert.equal(settings.chordSet, 'custom');
  assert.deepEqual(await unnamedControls(page), []);
  await expectAccessible(page, 'chords, trainer');
  await page.click('#tab-namer');
  await expectAccessible(page, 'chords, namer');
});

test('the drill keeps its tempo within 40 to 160 and leaving the page stops listening', async () => {
  await page.click('#tab-drill');
  await page.fill('#drill-tempo', '200');
  await page.click('#drill-start');
  assert.match(await page.textContent('#drill-line'), /tempo from 40 to 160/);
  assert.equal((await hostCalls('startPractice')).length, 0);
  assert.deepEqual(await unnamedControls(page), []);
  await expectAccessible(page, 'chords, drill');
  assert.deepEqual(player.errors, []);
  assert.ok(fs.existsSync(host.file('data', 'sound', 'chord.wav')));
});

test('a pair or a chord chosen on the Progress page opens the drill or the trainer with it', async () => {
  const cases = [
    { item: { kind: 'pair', detail: { pair: 'C-G' } }, part: 'drill', shown: ['C', 'G'] },
    { item: { kind: 'chord', detail: { chord: 'F' } }, part: 'trainer', shown: ['F'] },
  ];
  for (const c of cases) {
    await page.evaluate((item) => {
      sessionStorage.setItem('tunewick.practiseNext', JSON.stringify(item));
      Tunewick.goHome();
    }, c.item);
    const menu = await currentMovie(player.page, 'Menu.html');
    await menu.click('#go-chords');
    page = await currentMovie(player.page, 'Chords.html');
    await waitUntil(() => page.evaluate(() => document.body.dataset.ready === 'true'), 'the chords page to start');
    const state = await page.evaluate(() => {
      const named = (select) => ChordsPage.library().voicings[Number(document.getElementById(select).value)].name;
      return {
        part: document.body.dataset.part,
        chords: document.body.dataset.part === 'drill' ? [named('drill-first'), named('drill-second')] : [ChordsPage.trainer.voicing.name],
        left: sessionStorage.getItem('tunewick.practiseNext'),
      };
    });
    assert.deepEqual(state, { part: c.part, chords: c.shown, left: null }, JSON.stringify(c.item));
  }
});
