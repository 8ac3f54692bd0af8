// The chords page listening through the host: fluidsynth renders of strummed chords as the
// microphone, for the namer, the trainer's string verdicts and the changes drill's count.
import { test, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { startHost, openPlayer, currentMovie, screenshot, sleep, waitUntil } from './harness.mjs';
import { renderStrums } from './strums.mjs';

const require = createRequire(import.meta.url);
const C = require('../../data/chords.js');
const library = new C.Library(JSON.parse(fs.readFileSync(new URL('../../data/chords.json', import.meta.url), 'utf8')));
const voicing = (name, frets) => library.voicings.find((v) => v.name === name && v.frets.join('') === frets);
const midis = (v) => C.targetNotes(v).map((n) => n.midi);

let host = null;
let player = null;

afterEach(async () => {
  if (player) await player.close();
  if (host) await host.stop();
  player = null;
  host = null;
});

/** The host with `strums` as its microphone, and the chords page open on its library. */
async function open(strums, seconds) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tunewick-strums-'));
  try {
    host = await startHost({ inputFile: renderStrums(path.join(dir, 'strums.wav'), strums, seconds) });
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
  player = await openPlayer(host.url);
  const menu = await currentMovie(player.page, 'Menu.html');
  await menu.click('#go-chords');
  const page = await currentMovie(player.page, 'Chords.html');
  await waitUntil(() => page.evaluate(() => document.body.dataset.ready === 'true'), 'the chords page to start');
  return page;
}

test('the namer names a sequence of twelve chords, the voicing played first among its diagrams', async () => {
  const SEQUENCE = [
    ['C', 'x32010'], ['G', '320003'], ['Am', 'x02210'], ['F', '133211'], ['D', 'xx0232'], ['Em', '022000'],
    ['E7', '020100'], ['A', '577655'], ['Dm', 'xx0231'], ['A7', 'x02020'], ['Bm', 'x24432'], ['E', '022100'],
  ];
  const GAP = 1.6;
  const strums = SEQUENCE.map(([name, frets], i) => ({ time: 1 + i * GAP, midis: midis(voicing(name, frets)), length: GAP - 0.05 }));
  const page = await open(strums, 1 + SEQUENCE.length * GAP + 0.5);
  await page.click('#tab-namer');
  const heard = [];
  let count = 0;
  const deadline = Date.now() + (SEQUENCE.length * GAP + 4) * 1000;
  while (heard.length < SEQUENCE.length && Date.now() < deadline) {
    const now = await page.evaluate(() => {
      const h = document.getElementById('heard');
      const first = document.querySelector('#namer-diagrams .voicing.first');
      return { count: Number(h.dataset.count || 0), name: h.dataset.name, first: first && first.dataset.frets, notes: document.getElementById('heard-notes').textContent };
    });
    if (now.count !== count) {
      count = now.count;
      heard.push(now);
      if (heard.length === 4) await screenshot(player.page, 'Chords-namer');
    }
    await sleep(40);
  }
  assert.deepEqual(heard.map((h) => h.name), SEQUENCE.map(([name]) => name), 'the chords named, in order, once each');
  // The first diagram is of the chord heard and holds each note heard, in some octave. Which
  // voicing was played is not always told by the notes heard: octaves hide in the partials of
  // the notes under them (the barre A's A3 and A4 under its A2), so it may come after the open
  // shape that holds the same notes.
  const pitchClass = (name) => name.replace(/-?\d+$/, '');
  for (const h of heard) {
    const first = voicing(h.name, h.first);
    assert.ok(first, `a diagram of ${h.name} first, not ${h.first}`);
    const held = new Set(midis(first).map((m) => pitchClass(C.noteName(m))));
    const notes = h.notes.replace(/^Notes heard: /, '').replace(/♯/g, '#').split(' ').map(pitchClass);
    assert.ok(notes.every((n) => held.has(n)), `${h.name} ${h.first} holds ${h.notes}`);
  }
  assert.ok(SEQUENCE.filter(([, frets], i) => heard[i].first === frets).length >= 10, 'the voicing played is mostly the first diagram');
  assert.match(heard[0].notes, /^Notes heard: .*C3.*E3.*G3/);
});

test('the trainer flags a muted string and a wrong fret on the right strings, and passes a clean strum', async () => {
  const c = voicing('C', 'x32010');
  const notes = midis(c);                                    // C3 E3 G3 C4 E4
  const strums = [
    { time: 1.0, midis: notes.filter((m) => m !== 55) },      // the open G string muted
    { time: 3.0, midis: notes.map((m) => (m === 52 ? 53 : m)) }, // the D string at the 3rd fret
    { time: 5.0, midis: notes },                              // clean
  ];
  const page = await open(strums.map((s) => ({ ...s, length: 1.95 })), 7);
  await page.evaluate(() => ChordsPage.chooseSet('openMajor'));
  assert.equal(await page.evaluate(() => ChordsPage.trainer.voicing.frets.join('')), 'x32010');
  await page.click('#tab-trainer');
  const results = [];
  for (let strum = 1; strum <= 3; strum += 1) {
    await waitUntil(() => page.evaluate((n) => Number(document.getElementById('trainer').dataset.strums || 0) >= n, strum), `strum ${strum} judged`, 6000);
    results.push(await page.evaluate(() => ({
      rows: Object.fromEntries([...document.querySelectorAll('#strings tr')].map((tr) => [tr.dataset.string, `${tr.dataset.verdict}: ${tr.cells[1].textContent}`])),
      advice: document.getElementById('advice').textContent,
      hits: document.getElementById('hits').textContent,
    })));
    if (strum === 2) await screenshot(player.page, 'Chords-trainer');
  }
  const [muted, wrong, clean] = results;
  assert.deepEqual(muted.rows, { 6: 'silent: not played', 5: 'ok: rang right', 4: 'ok: rang right', 3: 'muted: muted', 2: 'ok: rang right', 1: 'ok: rang right' });
  assert.match(muted.advice, /the G string is muted: arch the second finger/);
  assert.deepEqual(wrong.rows, { 6: 'silent: not played', 5: 'ok: rang right', 4: 'wrong: wrong note: F3, not E3', 3: 'ok: rang right', 2: 'ok: rang right', 1: 'ok: rang right' });
  assert.match(wrong.advice, /the D string sounded F3: move the second finger from the 3rd to the 2nd fret/);
  assert.match(clean.advice, /^Clean/);
  assert.deepEqual([muted.hits, wrong.hits, clean.hits], ['0', '0', '1']);
});

// The drill's verdict lines by beat, for the check of the late one after the run.
const drillLines = new Map();
const LATE = 9;                     // this strum comes 130 ms after its beat

test('the drill counts the clean changes of a two-chord run exactly, and not a late one', async () => {
  const am = voicing('Am', 'x02210');
  const e = voicing('E', '022100');
  const BPM = 120;
  const BEATS = 16;                 // eight seconds
  const beat = 60 / BPM;
  const startDelay = 4 * beat;      // the page's count-in
  // The file starts when the drill's call reaches the host, the first to listen.
  const strums = Array.from({ length: BEATS }, (_, i) => ({
    time: startDelay + i * beat + (i === LATE ? 0.13 : 0),
    midis: midis(i % 2 ? e : am),
    length: 0.4,
  }));
  const page = await open(strums, startDelay + BEATS * beat + 1);
  await page.click('#tab-drill');
  await page.evaluate(() => { ChordsPage.drill.seconds = 8; });
  await page.fill('#drill-tempo', String(BPM));
  // Every verdict line as the page shows it, however quickly the next one follows.
  await page.evaluate(() => {
    window.drillLog = [];
    const drill = document.getElementById('drill');
    new MutationObserver(() => window.drillLog.push([drill.dataset.last, document.getElementById('drill-line').textContent]))
      .observe(drill, { attributes: true, attributeFilter: ['data-last'] });
  });
  await page.click('#drill-start');
  const lines = drillLines;
  let shot = false;
  await waitUntil(async () => {
    const now = await page.evaluate(() => ({ log: window.drillLog, state: document.getElementById('drill').dataset.state }));
    for (const [last, line] of now.log) if (last) lines.set(Number(last.split(':')[0]), `${last.split(':')[1]}: ${line}`);
    if (lines.size >= 6 && !shot) {
      shot = true;
      await screenshot(player.page, 'Chords-drill');
    }
    return now.state === 'done';
  }, 'the drill to end', (startDelay + BEATS * beat + 5) * 1000, 30);
  const result = await page.evaluate(() => ({ ...document.getElementById('drill').dataset, line: document.getElementById('drill-line').textContent }));
  assert.equal(result.changes, String(BEATS - 1));
  assert.equal(result.clean, String(BEATS - 2), `every change but the late one is clean (${[...lines].join(' | ')})`);
  assert.notEqual((lines.get(LATE) || 'none').split(':')[0], 'hit', 'the late strum is no clean change');
  assert.match(result.line, /^14 clean changes of 15 at 120 bpm: your best for this pair!/);
  const settings = await page.evaluate(() => Tunewick.call('getSettings'));
  assert.deepEqual(JSON.parse(settings.drillBest), { 'Am-E': 14 });
  assert.equal(settings.drillTempo, 120);
});

test('a right chord strummed late says by how much', () => {
  const late = /^late: Right chord, (\d+) ms late$/.exec(drillLines.get(LATE) || '');
  assert.ok(late, `the late strum: ${drillLines.get(LATE)} (${[...drillLines].join(' | ')})`);
  assert.ok(Math.abs(Number(late[1]) - 130) <= 25, `${late[1]} ms late`);
});
