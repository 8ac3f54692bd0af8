// Playing along on the Songs page, judged by the real host. The host hears a fluidsynth render
// of a lesson's own notes as its microphone (--input). The Songs page starts nothing else that
// listens, so its "startPractice" is the microphone's first consumer and the file's time 0 is
// the moment that call arrives: a note rendered at startDelay + its event time is on time.
// The events are built here with the page's own code from the lesson file, and the test checks
// that the page sent exactly those.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { startHost, openPlayer, currentMovie, waitUntil, watchVerdicts } from './harness.mjs';
import { renderNotes, strum } from './render.mjs';
import { readTex } from './songfiles.mjs';

const require = createRequire(import.meta.url);
const PA = require('../../data/playalong.js');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tunewick-playalong-'));
after(() => fs.rmSync(work, { recursive: true, force: true }));

const START_DELAY = 3000; // the page's countdown
const lessons = path.join(path.dirname(new URL(import.meta.url).pathname), '../../data/lessons');
const lessonEvents = (file, speed) => PA.buildEvents(readTex(fs.readFileSync(path.join(lessons, file), 'utf8')), 0, { speed }).events;

// What the player plays: each event's notes (or `midis`), `shift` ms after it is due.
function play(events, faults = {}) {
  return events.flatMap((event, i) => {
    const fault = faults[i] || {};
    const midis = fault.midis || event.notes.map((n) => n.midi).sort((a, b) => a - b);
    return strum(START_DELAY + event.time + (fault.shift || 0), midis, { length: 300 });
  });
}

/**
 * Opens `lesson` (its 1-based place in the list) at `speed` % with the host hearing `wav`,
 * plays along to the end and answers what the page sent, what it was told and what it showed.
 */
async function playAlong(wav, lesson, speed, dataHome) {
  const host = await startHost({ inputFile: wav, dataHome });
  const player = await openPlayer(host.url);
  try {
    const menu = await currentMovie(player.page, 'Menu.html');
    await menu.click('#go-songs');
    const frame = await currentMovie(player.page, 'Songs.html');
    await waitUntil(() => frame.evaluate(() => document.querySelectorAll('#lessons button').length >= 24), 'the lessons');
    await frame.click(`#lessons li:nth-child(${lesson}) button`);
    await waitUntil(() => frame.evaluate(() => !document.getElementById('practice').disabled), 'ready to play along', 30000);
    await frame.fill('#speed', String(speed));
    await frame.dispatchEvent('#speed', 'input');
    // Watch the calls and the verdicts on their way, changing nothing.
    await frame.evaluate(() => {
      window.sent = [];
      const real = Tunewick.call;
      Tunewick.call = (name, ...args) => {
        if (name === 'startPractice') window.sent.push(JSON.parse(JSON.stringify(args)));
        return real(name, ...args);
      };
    });
    await watchVerdicts(frame);
    await frame.click('#practice');
    await waitUntil(() => frame.evaluate(() => document.getElementById('results').open), 'the run over', 60000);
    return await frame.evaluate(() => ({
      sent: window.sent,
      verdicts: window.heard,
      accuracy: Number(document.body.dataset.accuracy),
      marks: [...document.querySelectorAll('#marks .mark')].map((m) => m.dataset.verdict),
      worst: [...document.querySelectorAll('#r-worst li')].map((l) => l.textContent),
    }));
  } finally {
    await player.close();
    await host.stop();
  }
}

const seconds = (events, speedFactor = 1) => Math.ceil((START_DELAY + events.at(-1).time) / 1000 + 3 * speedFactor);

test('the C major scale played right scores at least 95 %, every offset within 15 ms', async () => {
  const events = lessonEvents('12-c-major-up-down.atex', 1);
  const wav = renderNotes(path.join(work, 'scale.wav'), play(events), seconds(events));
  const history = fs.mkdtempSync(path.join(work, 'history-'));
  const run = await playAlong(wav, 12, 100, history);
  assert.deepEqual(run.sent[0][0], events);
  assert.equal(run.sent[0][1], START_DELAY);
  assert.ok(run.accuracy >= 95, `accuracy ${run.accuracy}`);
  assert.equal(run.verdicts.length, events.length);
  for (const v of run.verdicts.filter((x) => x.offset !== null)) assert.ok(Math.abs(v.offset) <= 15, JSON.stringify(v));
  assert.equal(run.marks.length, events.length, 'every verdict marked on the tab');
  console.log('offsets (ms):', run.verdicts.map((v) => v.offset).join(' '));

  // The run is kept: after a restart the Progress page lists the lesson.
  const host = await startHost({ segments: [{ seconds: 1, partials: [] }], dataHome: history });
  const player = await openPlayer(host.url);
  try {
    const menu = await currentMovie(player.page, 'Menu.html');
    await menu.click('#go-progress');
    const progress = await currentMovie(player.page, 'Progress.html');
    const songs = await waitUntil(async () => {
      const shown = await progress.evaluate(() => document.body.dataset.state === 'shown' &&
        [...document.getElementById('song-choice').options].map((o) => o.textContent));
      return shown || null;
    }, 'the history to be drawn');
    assert.deepEqual(songs, ['C major scale, up and down — Lesson 12']);
  } finally {
    await player.close();
    await host.stop();
  }
});

// C, Am, F, G, C (one a bar at 60): the C with its G string muted, the F with the B string
// open (B3 for C4).
let faultRun = null;
let faultEvents = null;
async function faultyRound() {
  if (faultRun) return faultRun;
  faultEvents = lessonEvents('19-c-am-f-g.atex', 1);
  const chord = (i) => faultEvents[i].notes.map((n) => n.midi).sort((a, b) => a - b);
  const faults = {
    0: { midis: chord(0).filter((m) => m !== 55) },
    2: { midis: chord(2).map((m) => (m === 60 ? 59 : m)) },
  };
  const wav = renderNotes(path.join(work, 'faults.wav'), play(faultEvents, faults), seconds(faultEvents));
  faultRun = await playAlong(wav, 19, 100);
  faultRun.byIndex = new Map(faultRun.verdicts.map((v) => [v.index, v]));
  return faultRun;
}

test('a muted string and a wrong note in chords are flagged, with the string and the note', async () => {
  const run = await faultyRound();
  const v = (i) => run.byIndex.get(i);
  assert.equal(v(0).verdict, 'partial', JSON.stringify(v(0)));
  assert.deepEqual(v(0).missing, [55]);
  assert.equal(faultEvents[0].notes.find((n) => n.midi === 55).string, 3);
  assert.equal(v(2).verdict, 'wrong', JSON.stringify(v(2)));
  assert.ok(v(2).extra.includes(59), JSON.stringify(v(2)));
  assert.equal(v(3).verdict, 'hit', JSON.stringify(v(3)));
  assert.equal(v(4).verdict, 'hit', JSON.stringify(v(4)));
  assert.deepEqual([0, 2, 3, 4].map((i) => run.marks[i]), ['partial', 'wrong', 'hit', 'hit']);
  console.log('verdicts:', JSON.stringify(run.verdicts));
});

test('one note of the scale 80 ms late is the one flagged, late by 80 ms', async () => {
  const events = lessonEvents('11-c-major-up.atex', 1);
  const wav = renderNotes(path.join(work, 'late.wav'), play(events, { 4: { shift: 80 } }), seconds(events));
  const run = await playAlong(wav, 11, 100);
  const flagged = run.verdicts.filter((x) => x.verdict !== 'hit');
  assert.equal(flagged.length, 1, JSON.stringify(flagged));
  assert.equal(flagged[0].index, 4);
  assert.equal(flagged[0].verdict, 'late');
  assert.ok(Math.abs(flagged[0].offset - 80) <= 15, JSON.stringify(flagged[0]));
  assert.equal(run.marks[4], 'late');
});

test('the Am played right in that round is a hit', async () => {
  const run = await faultyRound();
  assert.equal(run.byIndex.get(1).verdict, 'hit', JSON.stringify(run.byIndex.get(1)));
});

test('at 50 % the notes are judged against the slowed times', async () => {
  const events = lessonEvents('11-c-major-up.atex', 0.5);
  const full = lessonEvents('11-c-major-up.atex', 1);
  events.forEach((e, i) => assert.ok(Math.abs(e.time - 2 * full[i].time) < 0.01, `${e.time} against ${full[i].time}`));
  const wav = renderNotes(path.join(work, 'slow.wav'), play(events), seconds(events, 2));
  const run = await playAlong(wav, 11, 50);
  assert.deepEqual(run.sent[0][0], events);
  assert.ok(run.accuracy >= 95, `accuracy ${run.accuracy}`);
  for (const v of run.verdicts) assert.ok(v.verdict === 'hit' && Math.abs(v.offset) <= 15, JSON.stringify(v));
});
