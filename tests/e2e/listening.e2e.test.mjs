// The chord listener and the practice session end to end: the host hears a fluidsynth render
// as its microphone (--input), a page calls the commands, and the movie functions tell it
// what was heard. The practice is the microphone's first consumer, so the file's time 0 is the
// moment "startPractice" arrives, and a note rendered at startDelay + time is played on time.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { startHost, openPlayer, currentMovie, waitUntil, sleep } from './harness.mjs';
import { renderNotes, strum } from './render.mjs';

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tunewick-listening-'));
after(() => fs.rmSync(work, { recursive: true, force: true }));

const note = (midi, string, fret) => ({ midi, string, fret });
// A short lesson: single notes and open chords, 600 ms apart.
const LESSON = [
  [note(52, 4, 2)],
  [note(55, 3, 0)],
  [note(48, 5, 3), note(52, 4, 2), note(55, 3, 0), note(60, 2, 1), note(64, 1, 0)], // C
  [note(57, 3, 2)],
  [note(45, 5, 0), note(52, 4, 2), note(57, 3, 2), note(60, 2, 1), note(64, 1, 0)], // Am
  [note(59, 2, 0)],
  [note(50, 4, 0), note(57, 3, 2), note(62, 2, 3), note(66, 1, 2)], // D
  [note(64, 1, 0)],
].map((notes, i) => ({ time: 600 * i, notes }));
const START_DELAY = 1500;

// What the player plays: each event's notes (or others), `shift` ms after it is due.
function play(lesson, faults = {}) {
  return lesson.flatMap((event, i) => {
    const fault = faults[i] || {};
    const midis = fault.midis || event.notes.map((n) => n.midi);
    return strum(START_DELAY + event.time + (fault.shift || 0), midis);
  });
}

async function withHost(inputFile, fn) {
  const host = await startHost({ inputFile });
  const player = await openPlayer(host.url);
  try {
    const menu = await currentMovie(player.page, 'Menu.html');
    await menu.evaluate(() => {
      window.heard = { verdicts: [], chords: [] };
      ExternalInterface.addCallback('setVerdict', (v) => window.heard.verdicts.push(v));
      ExternalInterface.addCallback('setChord', (c) => window.heard.chords.push(c));
    });
    return await fn(menu);
  } finally {
    await player.close();
    await host.stop();
  }
}

async function practise(wav) {
  return withHost(wav, async (menu) => {
    const started = await menu.evaluate(([events, delay]) => ExternalInterface.call('startPractice', events, delay, {}),
      [LESSON, START_DELAY]);
    assert.equal(started, true);
    await waitUntil(() => menu.evaluate((n) => window.heard.verdicts.length >= n, LESSON.length),
      'a verdict on every event', 15000);
    const summary = await menu.evaluate(() => ExternalInterface.call('stopPractice'));
    const verdicts = await menu.evaluate(() => window.heard.verdicts);
    return { summary, verdicts };
  });
}

test('a lesson played right: every event a hit, within 15 ms', async () => {
  const wav = renderNotes(path.join(work, 'right.wav'), play(LESSON), 8);
  const { summary, verdicts } = await practise(wav);
  assert.deepEqual(verdicts.map((v) => v.index), LESSON.map((_, i) => i));
  for (const v of verdicts) {
    assert.equal(v.verdict, 'hit', JSON.stringify(v));
    assert.ok(Math.abs(v.offset) <= 15, JSON.stringify(v));
  }
  assert.equal(summary.events, LESSON.length);
  assert.equal(summary.accuracy, 1);
  console.log('offsets (ms):', verdicts.map((v) => v.offset).join(' '), ' spread', summary.spread);
});

test('a wrong note, a muted string and a late chord are flagged, and nothing else', async () => {
  const faults = {
    1: { midis: [57] },                   // G3 asked, A3 played (second fret on the G string)
    4: { midis: [45, 52, 57, 64] },       // Am with the B string muted
    6: { shift: 80 },                     // D, 80 ms late
  };
  const wav = renderNotes(path.join(work, 'faults.wav'), play(LESSON, faults), 8);
  const { summary, verdicts } = await practise(wav);
  const flagged = verdicts.filter((v) => v.verdict !== 'hit');
  assert.deepEqual(flagged.map((v) => [v.index, v.verdict]), [[1, 'wrong'], [4, 'partial'], [6, 'late']],
    JSON.stringify(verdicts));
  assert.deepEqual(flagged[0].extra, [57]);
  assert.deepEqual(flagged[1].missing, [60]);
  assert.ok(Math.abs(flagged[2].offset - 80) <= 15, JSON.stringify(flagged[2]));
  assert.equal(summary.hits, LESSON.length - 3);
});

test('a malformed event list is refused and starts nothing; the longest list is taken', async () => {
  const wav = renderNotes(path.join(work, 'quiet.wav'), [], 2);
  await withHost(wav, async (menu) => {
    const answers = await menu.evaluate(async () => {
      // 20,000 chords of six notes, the most a song may send (about 27 MB on the wire), and one more.
      const chords = (n) => Array.from({ length: n }, (_, i) => ({
        time: i * 250, notes: [40, 45, 50, 55, 59, 64].map((midi, k) => ({ midi, string: 6 - k, fret: 0 })) }));
      return [
        await ExternalInterface.call('startPractice', [{ time: 10, notes: [{ midi: 52 }] }, { time: 5, notes: [{ midi: 52 }] }], 0, {}),
        await ExternalInterface.call('startPractice', 'C G Am F'),
        await ExternalInterface.call('startPractice', chords(20001), 0, {}),
        await ExternalInterface.call('stopPractice'),
        await ExternalInterface.call('startPractice', chords(20000), 60000, {}),
        (await ExternalInterface.call('stopPractice')).events,
      ];
    });
    // Stopped before the first chord was due: a summary with nothing judged yet.
    assert.deepEqual(answers, [false, false, false, null, true, 0]);
  });
});

// Twelve strums a second apart, each voicing as a player holds it.
const CHORDS = [
  ['C', [48, 52, 55, 60, 64]], ['G', [43, 47, 50, 55, 59, 67]], ['Am', [45, 52, 57, 60, 64]],
  ['Em', [40, 47, 52, 55, 59, 64]], ['D', [50, 57, 62, 66]], ['A', [45, 52, 57, 61, 64]],
  ['E', [40, 47, 52, 56, 59, 64]], ['Dm', [50, 57, 62, 65]], ['G7', [43, 47, 50, 55, 59, 65]],
  ['Cmaj7', [48, 52, 55, 59, 64]], ['E5', [40, 47, 52]], ['Dsus4', [50, 57, 62, 67]],
];

test('the chord listener names each strum once, at its time', async () => {
  const notes = CHORDS.flatMap(([, midis], i) => strum(1000 + 1000 * i, midis, { spreadMs: 12, length: 800 }));
  const wav = renderNotes(path.join(work, 'chords.wav'), notes, CHORDS.length + 2);
  await withHost(wav, async (menu) => {
    await menu.evaluate(() => ExternalInterface.call('startChordListener'));
    // Until the last strum has been heard whole (the file then plays from its start again).
    await waitUntil(() => menu.evaluate((end) => window.heard.chords.some((c) => c.time >= end), CHORDS.length),
      'a report of the last strum', 30000);
    await sleep(500);
    await menu.evaluate(() => ExternalInterface.call('stopChordListener'));
    const chords = (await menu.evaluate(() => window.heard.chords)).filter((c) => c.time < CHORDS.length + 0.9);
    console.log('heard:', chords.map((c) => `${c.time.toFixed(3)} ${c.name}`).join(', '));
    assert.deepEqual(chords.map((c) => c.name), CHORDS.map(([name]) => name));
    chords.forEach((c, i) => assert.ok(Math.abs(c.time - (1 + i)) <= 0.02, JSON.stringify(c)));
    for (const c of chords) assert.ok(c.notes.every((n) => typeof n.note === 'string' && Number.isFinite(n.level)));
  });
});
