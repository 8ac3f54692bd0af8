// The Songs page's judging logic (data/playalong.js) on its own, over scores that alphaTab's
// own importer reads from alphaTex in Node: the event list, the marks, the tally, the summary,
// the speed trainer, the calibration and the start time of the synthesizer.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const require = createRequire(import.meta.url);
const P = require('../../data/playalong.js');
const alphaTab = await import(path.join(here, '../../web/alphatab/node_modules/@coderline/alphatab/dist/alphaTab.mjs'));

function score(tex) {
  const importer = new alphaTab.importer.AlphaTexImporter();
  importer.initFromString(tex, new alphaTab.Settings());
  return importer.readScore();
}

test('events carry song time at the chosen speed, players\' string numbers and midi', () => {
  // 120 bpm: a quarter is 500 ms. A chord, a rest, a note tied over, a dead note.
  const s = score('\\tempo 120 . :4 (0.6 2.5 2.4) r 3.1 3.1 | 3.1{-} 5.2 x.3 0.1 |');
  const { events, bars } = P.buildEvents(s, 0);
  assert.deepEqual(events.map((e) => e.time), [0, 1000, 1500, 2500, 3500]);
  assert.deepEqual(events[0].notes, [
    { midi: 40, string: 6, fret: 0 }, { midi: 47, string: 5, fret: 2 }, { midi: 52, string: 4, fret: 2 }]);
  assert.deepEqual(events[1].notes, [{ midi: 67, string: 1, fret: 3 }]);
  assert.deepEqual(events[3].notes, [{ midi: 64, string: 2, fret: 5 }]);
  assert.deepEqual(bars, [0, 0, 0, 1, 1]);
  // Half speed doubles every time; a range starts its clock at its first bar.
  assert.deepEqual(P.buildEvents(s, 0, { speed: 0.5 }).events.map((e) => e.time), [0, 2000, 3000, 5000, 7000]);
  assert.deepEqual(P.buildEvents(s, 0, { fromBar: 1, toBar: 1 }).events.map((e) => e.time), [500, 1500]);
  assert.equal(P.buildEvents(s, 0, { speed: 9 }).speed, 1.5);
  assert.throws(() => P.buildEvents(s, 3));
});

test('tempo changes inside the song move the later events', () => {
  const s = score('\\tempo 60 . :4 0.1 0.1 0.1 0.1 | \\tempo 120 0.1 0.1 0.1 0.1 |');
  const times = P.buildEvents(s, 0).events.map((e) => e.time);
  assert.deepEqual(times, [0, 1000, 2000, 3000, 4000, 4500, 5000, 5500]);
  assert.equal(P.timeline(s).totalMs, 6000);
});

test('every built-in lesson reads and makes a judged event list', () => {
  const dir = path.join(here, '../../data/lessons');
  const index = JSON.parse(fs.readFileSync(path.join(dir, 'index.json'), 'utf8')).lessons;
  assert.ok(index.length >= 24);
  for (const lesson of index) {
    assert.ok(lesson.goal.length > 10 && !lesson.goal.includes('\n'), lesson.file);
    const s = score(fs.readFileSync(path.join(dir, lesson.file), 'utf8'));
    const { events } = P.buildEvents(s, 0);
    assert.ok(events.length >= 3, lesson.file);
    for (let i = 1; i < events.length; ++i) assert.ok(events[i].time > events[i - 1].time, lesson.file);
    for (const e of events) for (const n of e.notes) assert.ok(n.string >= 1 && n.string <= 6 && n.midi >= 40 && n.midi <= 88, lesson.file);
  }
});

test('marks name each verdict in signs and words', () => {
  const chord = [{ midi: 43, string: 6, fret: 3 }, { midi: 47, string: 5, fret: 2 }, { midi: 50, string: 4, fret: 0 }];
  const cases = [
    [{ verdict: 'hit', offset: 4 }, '✓', '', 'hit, +4 ms'],
    [{ verdict: 'early', offset: -82.4 }, '«', '−82 ms', 'early by 82 ms'],
    [{ verdict: 'late', offset: 80 }, '»', '+80 ms', 'late by 80 ms'],
    [{ verdict: 'wrong', offset: 3, extra: [44] }, '✗', 'G♯2', 'wrong note, heard G♯2'],
    [{ verdict: 'partial', offset: 1, missing: [47] }, '◐', 'str 5', 'partial, missing string 5'],
    [{ verdict: 'missed', offset: null }, '○', '', 'missed'],
  ];
  for (const [v, symbol, text, label] of cases) {
    const m = P.verdictMark(v, chord);
    assert.equal(m.symbol, symbol, v.verdict);
    assert.equal(m.text, text, v.verdict);
    assert.equal(m.label, label, v.verdict);
    assert.equal(m.kind, v.verdict);
  }
});

test('the tally, the summary and the speed trainer', () => {
  const t = new P.Tally(5);
  assert.equal(t.percent, 0);
  assert.equal(t.add({ index: 5, verdict: 'hit' }), false);
  assert.equal(t.add({ index: -1, verdict: 'hit' }), false);
  for (const [index, verdict, offset] of [[0, 'hit', 10], [1, 'late', 90], [2, 'hit', -10], [3, 'wrong', 0], [4, 'missed', null]]) {
    assert.ok(t.add({ index, verdict, offset }));
  }
  assert.equal(t.hits, 2);
  assert.equal(t.percent, 40);
  assert.equal(t.clean, false);
  const s = P.summarize(t, [0, 1, 1, 2, 2]);
  assert.equal(s.accuracy, 40);
  assert.equal(s.meanOffset, 30);
  assert.ok(Math.abs(s.spread - Math.sqrt((400 + 3600 + 1600) / 3)) < 1e-9);
  assert.deepEqual(s.worstBars, [{ bar: 2, mistakes: 2 }, { bar: 1, mistakes: 1 }]);
  const clean = new P.Tally(2);
  clean.add({ index: 0, verdict: 'hit', offset: 1 });
  assert.equal(clean.clean, false);
  clean.add({ index: 1, verdict: 'hit', offset: 1 });
  assert.equal(clean.clean, true);
  assert.equal(P.nextSpeed(60, true, 5, 100), 65);
  assert.equal(P.nextSpeed(60, false, 5, 100), 60);
  assert.equal(P.nextSpeed(98, true, 5, 100), 100);
  assert.equal(P.nextSpeed(100, true, 5, 100), 100);
  assert.equal(P.nextSpeed(145, true, 10, 200), 150);
});

test('calibration takes the median heard offset and the synth starts early by the output latency', () => {
  const heard = [40, 42, 38, 200, 41, 39, 43, 40].map((offset) => ({ verdict: 'late', offset }));
  const early = [-30, -20, -25, -40].map((offset) => ({ verdict: 'early', offset }));
  const clicks272Early = [-272.9, -271.1, -271.5, -270.6, -271.6, -271.9, -271.1, -272.1].map((offset) => ({ verdict: 'early', offset }));
  // [verdicts, count, latency allowed, output latency allowed, result]
  const cases = [
    [heard, 8, undefined, undefined, { latency: 41, outputLatency: 0 }], // (40 + 41) / 2; the stray 200 does not count
    [[{ verdict: 'missed', offset: null }, { verdict: 'hit', offset: 5 }], 8, 0, 40, null],
    [early, 4, undefined, undefined, { latency: -27, outputLatency: 0 }], // -27.5: the report overstated the truth
    // What the host already took off is added back, and the page keeps its share.
    [early, 4, 100, 44, { latency: 73, outputLatency: 44 }],
    [early, 4, -90, 0, { latency: -100, outputLatency: 0 }],
    // What the host's range cannot hold moves to the page's share, as far as that can go.
    [heard, 8, 480, 0, { latency: 500, outputLatency: 21 }],
    [early, 4, -90, 30, { latency: -100, outputLatency: 13 }],
    // A report 300 ms over the truth at the calibration: the runs after start 128 ms early and
    // the host expects them 100 ms early, so they are on time.
    [clicks272Early, 8, 0, 300, { latency: -100, outputLatency: 128 }],
    [heard, 8, 0, NaN, { latency: 41, outputLatency: 0 }],
  ];
  for (const [verdicts, count, allowed, output, expected] of cases) {
    assert.deepEqual(P.calibrationResult(verdicts, count, allowed, output), expected, JSON.stringify([allowed, output]));
  }
  assert.equal(P.synthStartAt(1000, 2000, 0.025, 10), 2965);
  assert.equal(P.synthStartAt(1000, 2000, undefined, -5), 3000);
  // Reports that came late say less than the earliest one: the music began at 1004.
  assert.equal(P.musicStartedAt([{ at: 1020, played: 2.9 }, { at: 1021, played: 11.6 }, { at: 1026, played: 22 }, { at: 1040, played: 26.1 }]), 1004);
  assert.ok(Number.isNaN(P.musicStartedAt([])));
});

test('a stall of the browser\'s sound moves what follows it; noise, drift and a busy page move nothing', () => {
  // The sound's clock read every 3 ms: its lag behind the page's clock is 100 ms plus up to
  // 10 ms of reading jitter (a fixed pseudo-random sequence), drifting slowly; `drop` makes
  // it come earlier from a time on, after one reading `early` 20 ms early.
  function follow({ stalls = [], busy = null, drift = 0, drop = null, early = -1, ms = 10000 }, seed) {
    const tracker = new P.SoundStalls();
    const jitter = () => ((seed = (seed * 1103515245 + 12345) % 2147483648) / 2147483648) * 10;
    const told = [];
    for (let at = 0; at < ms; at += 3) {
      let stalled = false;
      let late = drop && at >= drop[0] ? -drop[1] : 0;
      for (const [start, length] of stalls) {
        if (at >= start && at < start + length) stalled = true;
        else if (at >= start + length) late += length;
      }
      if (stalled || (busy && at >= busy[0] && at < busy[0] + busy[1])) continue;
      const lag = 100 + late + drift * at + jitter() - (at === early ? 20 : 0);
      const moved = tracker.add(at, at - lag, at - late);
      if (moved) told.push(moved);
    }
    return told;
  }
  // How late the host then takes the music at `time` ms of it: the latest step before it.
  const lateAt = (told, time) => told.filter((t) => t.from <= time).reduce((late, t) => t.late, 0);
  const cases = [
    { what: 'quiet, one reading early', given: { early: 501 }, told: 0 },
    { what: 'clocks drifting 0.8 ms a second, a minute long', given: { drift: 0.0008, ms: 60000 }, told: 0 },
    { what: 'the page busy for 400 ms', given: { busy: [4000, 400] }, told: 0 },
    // Music time: the first stall comes at 4000, the second at 7000 - 120.
    { what: 'stalls of 120 and 30 ms', given: { stalls: [[4000, 120], [7000, 30]] }, told: 2, lateAt: [[3980, 0], [4030, 120], [6850, 120], [6950, 150]] },
    { what: 'the sound 15 ms earlier from 600 ms on', given: { drop: [600, 15] }, told: 1, lateAt: [[590, 0], [700, -15]] },
  ];
  for (const c of cases) {
    for (const seed of [1, 7, 10, 15]) {
      const told = follow(c.given, seed);
      const what = `${c.what}, seed ${seed}: ${JSON.stringify(told)}`;
      // A small stall may be told in two steps, its second where a reading came late before it.
      assert.ok(told.length >= c.told && told.length <= 2 * c.told, what);
      for (const [time, late] of c.lateAt || []) assert.ok(Math.abs(lateAt(told, time) - late) <= 3, `${what} at ${time}`);
    }
  }
});
