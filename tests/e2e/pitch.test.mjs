// The pages' shared pitch logic (data/pitch.js) on its own: names, tunings, the auto
// tuner's string choice, the note game's judge, the needle, the fretboard and a take's notes.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const P = require('../../data/pitch.js');

test('note names and MIDI numbers go both ways', () => {
  for (const [name, midi] of [['A4', 69], ['E2', 40], ['C4', 60], ['C#4', 61], ['C♯4', 61], ['Bb3', 58], ['E♭2', 39], ['B-1', 11]]) {
    assert.equal(P.midiOf(name), midi, name);
  }
  for (const bad of ['', 'H2', 'A', '4A', 'A#', null, undefined, 'A2x']) assert.ok(Number.isNaN(P.midiOf(bad)), String(bad));
  assert.equal(P.noteName(61), 'C♯4');
  assert.equal(P.noteName(61, true), 'D♭4');
  assert.equal(P.noteName(59), 'B3');
  assert.equal(P.noteName(60), 'C4');
  assert.equal(P.noteName(-1), 'B-2');
});

test('frequencies follow the reference pitch', () => {
  assert.equal(P.frequencyOf(69), 440);
  assert.equal(P.frequencyOf(69, 415), 415);
  assert.ok(Math.abs(P.frequencyOf(40) - 82.4069) < 1e-3);
  assert.ok(Math.abs(P.frequencyOf(45, 442) - 110.5) < 1e-9);
  assert.ok(Math.abs(P.centsBetween(P.frequencyOf(45) * Math.pow(2, 7 / 1200), 110) - 7) < 1e-9);
  assert.ok(Math.abs(P.exactMidi(110 * Math.pow(2, -30 / 1200)) - 44.7) < 1e-9);
});

test('every tuning has six strings from low to high, and drop D lowers only the 6th', () => {
  assert.deepEqual(P.TUNINGS.map((t) => t.id), ['standard', 'dropD', 'halfStepDown', 'openG', 'openD', 'DADGAD']);
  for (const t of P.TUNINGS) {
    assert.equal(t.notes.length, 6, t.id);
    assert.ok(t.notes.every((n, i) => i === 0 || n > t.notes[i - 1]), t.id);
  }
  assert.deepEqual(P.tuning('dropD').notes.map((n) => P.noteName(n)), ['D2', 'A2', 'D3', 'G3', 'B3', 'E4']);
  assert.deepEqual(P.tuning('DADGAD').notes.map((n) => P.noteName(n)), ['D2', 'A2', 'D3', 'G3', 'A3', 'D4']);
  assert.deepEqual(P.tuning('halfStepDown').notes.map((n) => P.noteName(n, true)), ['E♭2', 'A♭2', 'D♭3', 'G♭3', 'B♭3', 'E♭4']);
  assert.equal(P.tuning('no such tuning').id, 'standard');
});

test('the auto tuner keeps its string through glitches and the middle ground', () => {
  const targets = P.tuning('standard').notes.map((n) => P.frequencyOf(n));
  const cents = (hz, c) => hz * Math.pow(2, c / 1200);
  const picker = new P.StringPicker();
  const steps = [
    [110, 1, 'the A string is taken at once'],
    [cents(110, 260), 1, 'past the middle towards D, but not by the margin'],
    [targets[5], 1, 'one odd reading of the high e'],
    [110, 1, 'back on A'],
    [targets[2], 1, 'D once'],
    [targets[2], 1, 'D twice'],
    [targets[2], 2, 'D a third time: now the D string'],
    [0, 2, 'no pitch changes nothing'],
    [cents(targets[2], -40), 2, 'a flat D is still the D string'],
  ];
  for (const [hz, expected, what] of steps) assert.equal(picker.pick(targets, hz), expected, what);
  picker.reset();
  assert.equal(picker.pick(targets, cents(targets[0], 45)), 0, 'a low E far sharp is still nearest the low E');
});

test('the note game counts only a stable reading of the right note in the right octave', () => {
  const G3 = 55;
  const hz = (midi, c = 0) => P.frequencyOf(midi) * Math.pow(2, c / 1200);
  // Readings every 50 ms: [from ms, to ms, hz or null].
  const run = (parts) => {
    const judge = new P.NoteJudge();
    const verdicts = [];
    for (const [from, to, f] of parts) {
      for (let t = from; t < to; t += 50) {
        const v = judge.feed(t, f, G3);
        if (v) verdicts.push(`${v.kind} ${P.noteName(v.midi)} @${t}`);
      }
    }
    return verdicts;
  };
  const cases = [
    ['held 300 ms', [[0, 300, hz(G3)]], ['hit G3 @200']],
    ['held 150 ms, then silence', [[0, 150, hz(G3)], [150, 600, null]], []],
    ['28 cents flat is near enough', [[0, 400, hz(G3, -28)]], ['hit G3 @200']],
    ['35 cents sharp is not', [[0, 600, hz(G3, 35)]], []],
    ['an octave low is a wrong note', [[0, 400, hz(G3 - 12)]], ['wrong G2 @200']],
    ['a wrong string, then a brief glitch of the right one', [[0, 600, hz(50)], [600, 700, hz(G3)], [700, 1200, null]], ['wrong D3 @200']],
    ['two short bursts with a gap between', [[0, 150, hz(G3)], [150, 400, null], [400, 550, hz(G3)]], []],
    ['a wrong note is named once however long it lasts', [[0, 1000, hz(57)]], ['wrong A3 @200']],
  ];
  for (const [what, parts, expected] of cases) assert.deepEqual(run(parts), expected, what);
  // Readings that stop coming without a null do not bridge the silence.
  const judge = new P.NoteJudge();
  assert.equal(judge.feed(0, hz(G3), G3), null);
  assert.equal(judge.feed(100, hz(G3), G3), null);
  assert.equal(judge.feed(400, hz(G3), G3), null, 'a 300 ms gap starts the count again');
  for (const t of [450, 500, 550]) assert.equal(judge.feed(t, hz(G3), G3), null);
  assert.equal(judge.feed(600, hz(G3), G3).kind, 'hit');
});

test('the needle settles within 0.3 s without overshoot, whatever the frame rate', () => {
  const fine = new P.DampedNeedle();
  fine.target = 40;
  let highest = 0;
  for (let i = 0; i < 30; i += 1) highest = Math.max(highest, fine.step(0.01));
  assert.ok(highest <= 40, `no overshoot (${highest})`);
  assert.ok(Math.abs(fine.position - 40) < 0.03 * 40, `within 3% after 0.3 s (${fine.position})`);
  const coarse = new P.DampedNeedle();
  coarse.target = 40;
  coarse.step(0.3);
  assert.ok(Math.abs(coarse.position - fine.position) < 1e-9, 'one long frame lands where many short ones do');
  const early = new P.DampedNeedle();
  early.target = 40;
  early.step(0.05);
  assert.ok(early.position > 5 && early.position < 30, `it moves smoothly, not at once (${early.position})`);
});

test('a note\'s places on the fretboard up to the 12th fret', () => {
  const open = P.tuning('standard').notes;
  const cases = [
    [40, [[0, 0]]],
    [52, [[0, 12], [1, 7], [2, 2]]],
    [59, [[2, 9], [3, 4], [4, 0]]],
    [76, [[5, 12]]],
    [77, []],
    [39, []],
  ];
  for (const [midi, expected] of cases) {
    assert.deepEqual(P.placesOf(midi, open).map(({ string, fret }) => [string, fret]), expected, P.noteName(midi));
  }
  assert.deepEqual(P.placesOf(45, open, 5).map(({ string, fret }) => [string, fret]), [[0, 5], [1, 0]]);
});

test('a take\'s readings become its notes; strays are left out', () => {
  const r = (time, note, cents = 0) => ({ time, frequency: P.frequencyOf(P.midiOf(note)), note, cents });
  const readings = [];
  for (let t = 0; t < 0.5; t += 0.05) readings.push(r(t, 'A2', 12));
  readings.push(r(0.5, 'E5'));                                  // one stray reading
  for (let t = 0.55; t < 0.8; t += 0.05) readings.push(r(t, 'A2', 10));
  for (let t = 1.2; t < 1.6; t += 0.05) readings.push(r(t, 'C3', -8));  // after a pause
  for (let t = 1.6; t < 1.8; t += 0.05) readings.push(r(t, 'C3', -6));
  const notes = P.noteSegments(readings);
  assert.deepEqual(notes.map((n) => n.note), ['A2', 'C3']);
  assert.equal(notes[0].start, 0);
  assert.ok(Math.abs(notes[0].end - 0.75) < 1e-9);
  assert.equal(notes[0].cents, 12);
  assert.equal(notes[1].cents, -8);
  assert.deepEqual(P.noteSegments([]), []);
  assert.deepEqual(P.noteSegments([null, { time: 1 }, { frequency: 100 }]), []);
});

test('peaks arrive as numbers or as two hex digits each', () => {
  assert.deepEqual(P.decodePeaks('00ff33'), [0, 1, 0.2]);
  assert.deepEqual(P.decodePeaks([0, 0.5, 2, -1, 'x']), [0, 0.5, 1, 0, 0]);
  assert.deepEqual(P.decodePeaks('zz0'), [0]);
  assert.deepEqual(P.decodePeaks(null), []);
});

test('cents read with a sign', () => {
  assert.deepEqual([7, -3.4, 0.4, -0.4, 50].map(P.signedCents), ['+7', '−3', '0', '0', '+50']);
  assert.deepEqual([1, 2, 3, 4, 11, 12, 21].map(P.ordinal), ['1st', '2nd', '3rd', '4th', '11th', '12th', '21st']);
});
