// The chords page's logic (data/chords.js) and its library (data/chords.json) on their own:
// every diagram against its notes and its name, the search, the diagram's marks, the
// trainer's rows and advice, and the drill's beats and tally.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const C = require('../../data/chords.js');
const data = JSON.parse(fs.readFileSync(new URL('../../data/chords.json', import.meta.url), 'utf8'));
const library = new C.Library(data);
const find = (name, frets) => library.voicings.find((v) => v.name === name && (!frets || v.frets.join('') === frets));

test('every voicing: its frets sound the notes it lists, and those notes make its name', () => {
  assert.ok(library.voicings.length >= 80, `${library.voicings.length} voicings`);
  assert.deepEqual(data.tuning.map(C.midiOf), C.OPEN, 'the open strings the notes are derived from');
  for (const v of library.voicings) {
    // Derived here independently of the library's own helper: open string + fret, low E first.
    const derived = v.frets.flatMap((f, i) => (f === 'x' ? [] : [C.noteName(C.midiOf(data.tuning[i]) + f)]));
    assert.deepEqual(v.notes, derived, `${v.name} ${v.frets.join(' ')}`);
    assert.deepEqual(C.problemsOf(v), [], `${v.name} ${v.frets.join(' ')}`);
  }
});

test('the library holds each kind of chord the page promises', () => {
  const qualities = new Map();
  for (const v of library.voicings) qualities.set(v.chord.quality, (qualities.get(v.chord.quality) || 0) + 1);
  for (const q of Object.keys(C.QUALITIES)) assert.ok(qualities.get(q) >= 1, `a ${q} chord`);
  for (const group of ['openMajor', 'openMinor', 'sevenths', 'barre', 'power']) assert.ok(library.group(group).length >= 3, group);
  // Barre chords across the neck: E shapes from the 1st fret to the 8th, A shapes as well.
  const barreFrets = (from) => new Set(library.voicings.filter((v) => v.barre && v.barre.from === from).map((v) => v.barre.fret));
  for (const fret of [1, 3, 5, 8]) assert.ok(barreFrets(6).has(fret), `E shape at ${fret}`);
  for (const fret of [1, 3, 5, 7]) assert.ok(barreFrets(5).has(fret), `A shape at ${fret}`);
});

test('a voicing with a fault in its data is caught, with the fault named', () => {
  const c = find('C', 'x32010');
  const cases = [
    ['a wrong note listed', { ...c, notes: ['C3', 'E3', 'G3', 'C4', 'F4'] }, /notes: the frets sound/],
    ['a fret off by one', { ...c, frets: ['x', 3, 2, 0, 2, 0], notes: ['C3', 'E3', 'G3', 'C#4', 'E4'] }, /C# is not in C/],
    ['a fretted string without a finger', { ...c, fingers: [0, 3, 0, 0, 1, 0] }, /D string: fret 2 with finger 0/],
    ['a finger on an open string', { ...c, fingers: [0, 3, 2, 1, 1, 0] }, /G string: fret 0 with finger 1/],
    ['the wrong name', { ...c, name: 'Am' }, /lacks A/],
    ['the wrong bass', { ...find('G', '320003'), name: 'C' }, /not in C|bass/],
    ['one string only', { name: 'C', frets: ['x', 3, 'x', 'x', 'x', 'x'], fingers: [0, 3, 0, 0, 0, 0], notes: ['C3'] }, /fewer than two/],
    ['an open string under the barre', { ...find('F', '133211'), frets: [1, 3, 3, 2, 1, 0], notes: ['F2', 'C3', 'F3', 'A3', 'C4', 'E4'] }, /high e string is not under it/],
    ['no chord name', { ...c, name: 'H7' }, /no chord name/],
    ['five strings', { ...c, frets: c.frets.slice(1) }, /six frets/],
  ];
  for (const [what, voicing, pattern] of cases) {
    const problems = C.problemsOf(voicing);
    assert.ok(problems.some((p) => pattern.test(p)), `${what}: ${problems.join('; ')}`);
  }
});

test('chord names: sharps and flats, spellings, slashes, and what is no name', () => {
  const cases = [
    ['Am7', 9, 'm7', null], ['F#m', 6, 'm', null], ['Gbm', 6, 'm', null], ['Bb', 10, 'major', null],
    ['A#', 10, 'major', null], ['B♭maj7', 10, 'maj7', null], ['CM7', 0, 'maj7', null], ['Dsus', 2, 'sus4', null],
    ['E5', 4, '5', null], ['Bdim', 11, 'dim', null], ['C+', 0, 'aug', null], ['D/F#', 2, 'major', 6],
    ['cadd9', 0, 'add9', null], [' Em ', 4, 'm', null], ['Cb', 11, 'major', null],
  ];
  for (const [text, root, quality, bass] of cases) assert.deepEqual(C.parseName(text), { root, quality, bass }, text);
  for (const bad of ['', 'H', 'Am9x', 'X7', 'C/H', null, '7']) assert.equal(C.parseName(bad), null, String(bad));
  assert.equal(C.nameOf({ root: 6, quality: 'm', bass: null }), 'F#m');
  assert.equal(C.nameOf({ root: 2, quality: 'major', bass: 6 }), 'D/F#');
});

test('search finds voicings by name, flats and sharps alike', () => {
  const names = (q) => [...new Set(library.search(q).map((v) => v.name))];
  const cases = [
    ['Am7', ['Am7']], ['am7', ['Am7']], ['F#m', ['F#m']], ['Gbm', ['F#m']], ['Bb', ['Bb', 'Bbm', 'Bb7', 'Bbm7', 'Bbmaj7']],
    ['A#m', ['Bbm']], ['Db', ['C#', 'C#m', 'C#7', 'C#m7', 'C#maj7']], ['Dbm', ['C#m']], ['Emaj7', ['Emaj7']], ['Bdim', ['Bdim']], ['G5', ['G5']], ['dim', ['Bdim', 'Ddim', 'Edim']],
  ];
  for (const [query, expected] of cases) assert.deepEqual(names(query).sort(), expected.sort(), query);
  // The chord asked for comes before the others on its root.
  assert.deepEqual(names('A').slice(0, 1), ['A']);
  assert.ok(library.search('A').length > library.search('Am').length);
  assert.equal(library.search('F#m').length, 1);
  assert.equal(library.search('Am').length, 2, 'open and the E shape at the 5th');
  assert.deepEqual(library.search('zz'), []);
  assert.equal(library.search('').length, library.voicings.length);
});

test('the voicing that was heard comes first among its chord\'s diagrams', () => {
  const heard = (v) => ({ root: v.name.replace(/m$/, ''), quality: v.chord.quality, notes: C.targetNotes(v).map(({ midi }) => ({ midi })) });
  const cases = [['A', '577655'], ['A', 'x02220'], ['C', 'x32010'], ['C', 'x35553'], ['C', '81010988'], ['Am', '577555']];
  for (const [name, frets] of cases) {
    const v = find(name, frets);
    assert.ok(v, `${name} ${frets} is in the library`);
    const order = library.forHeard(heard(v));
    assert.equal(order[0].frets.join(''), frets, `${name} ${frets}`);
    assert.ok(order.length >= 2 && order.every((v) => v.name === name));
  }
  assert.deepEqual(library.forHeard({ root: 'Q', quality: 'm' }), []);
  assert.deepEqual(library.forHeard(null), []);
});

test('the diagram draws each string\'s mark, the fingers, the barre and where it starts', () => {
  const marks = (svg, cls) => (svg.match(new RegExp(`class="${cls}"`, 'g')) || []).length;
  const fingers = (svg) => [...svg.matchAll(/class="finger"[^>]*>(\d)</g)].map((m) => Number(m[1]));
  const cases = [
    // name, frets, muted, open, dots, barre, start fret label, finger numbers
    ['C', 'x32010', 1, 2, 3, 0, null, [3, 2, 1]],
    ['D', 'xx0232', 2, 1, 3, 0, null, [1, 3, 2]],
    ['F', '133211', 0, 0, 3, 1, null, [1, 3, 4, 2]],
    ['A', '577655', 0, 0, 3, 1, '5', [1, 3, 4, 2]],
    ['C', 'x35553', 1, 0, 3, 1, '3', [1, 2, 3, 4]],
    ['A5', 'x022xx', 3, 1, 2, 0, null, [1, 1]],
  ];
  for (const [name, frets, muted, open, dots, barre, start, fingerList] of cases) {
    const svg = C.diagramSvg(find(name, frets));
    const what = `${name} ${frets}`;
    assert.equal(marks(svg, 'muted'), muted, `${what}: muted`);
    assert.equal(marks(svg, 'open'), open, `${what}: open`);
    assert.equal(marks(svg, 'dot'), dots, `${what}: dots`);
    assert.equal(marks(svg, 'barre'), barre, `${what}: barre`);
    const label = /class="start-fret"[^>]*>(\d+)</.exec(svg);
    assert.equal(label ? label[1] : null, start, `${what}: start fret`);
    assert.equal(marks(svg, 'nut'), start ? 0 : 1, `${what}: nut`);
    assert.deepEqual(fingers(svg).sort(), fingerList.sort(), `${what}: fingers`);
    assert.match(svg, new RegExp(`aria-label="${C.pretty(name)}: `));
  }
});

test('custom entries: names, six frets, and a chord of one string refused', () => {
  const cases = [
    ['Am', 'Am', null], ['x32010', 'C', null], ['8 10 10 9 8 8', 'C', null], ['x-0-2-2-1-0', 'Am', null],
    ['x x 0 2 3 2', 'D', null], ['3x0003', '3x0003', null],
    ['xxxxx3', null, /at least two strings/], ['x3xxxx', null, /at least two strings/],
    ['Hm', null, /no chord of that name/], ['C#sus2', null, /not in the library/], ['x3201', null, /no chord/],
  ];
  for (const [text, name, error] of cases) {
    const r = library.resolve(text);
    if (error) assert.match(r.error || '', error, text);
    else assert.equal(r.voicing && r.voicing.name, name, text);
  }
  assert.deepEqual(C.parseFrets('x 3 2 0 1 16'), null);
  assert.deepEqual(C.parseFrets('x,3,2,0,1,0'), ['x', 3, 2, 0, 1, 0]);
});

test('the trainer reads the host\'s check string by string and gives one line of advice', () => {
  const check = (voicing, faults = {}, extra = []) => ({
    notes: C.targetNotes(voicing).map((n) => ({ ...n, verdict: 'ok', cents: 0, ...(faults[n.string] || {}) })),
    extra,
    clean: false,
  });
  const c = find('C', 'x32010');
  const f = find('F', '133211');
  const cases = [
    ['clean', c, {}, [], 'x ok ok ok ok ok', /^Clean/],
    ['open e stopped by the first finger', c, { 1: { verdict: 'muted' } }, [], 'x ok ok ok ok muted', /high e string is muted: arch the first finger/],
    ['fretted B not pressed', c, { 2: { verdict: 'muted' } }, [], 'x ok ok ok muted ok', /B string is muted: arch the first finger and press/],
    ['B under the barre', f, { 2: { verdict: 'muted' } }, [], 'ok ok ok ok muted ok', /B string is muted: .*barre/],
    ['A string buzzing', c, { 5: { verdict: 'buzz', cents: 41 } }, [], 'x buzz ok ok ok ok', /A string buzzes: press the third finger just behind the 3rd fret/],
    ['D a fret too high', c, { 4: { verdict: 'wrong', heardMidi: 53 } }, [], 'x ok wrong ok ok ok', /D string sounded F3: move the second finger from the 3rd to the 2nd fret/],
    ['A rang open', c, { 5: { verdict: 'wrong', heardMidi: 45 } }, [], 'x ok ok ok ok ok'.replace('x ok', 'x wrong'), /A string rang open: press it at the 3rd fret/],
    ['open high e fretted', c, { 1: { verdict: 'wrong', heardMidi: 65 } }, [], 'x ok ok ok ok wrong', /high e string sounded F4: it rings open here, so keep every finger off it/],
    ['low E rang in a C', c, {}, [40], 'ringing ok ok ok ok ok', /low E string should not ring/],
    ['the lowest fault is named first', c, { 1: { verdict: 'muted' }, 4: { verdict: 'buzz' } }, [], 'x ok buzz ok ok muted', /D string buzzes/],
    ['a string the host left out counts as muted', c, {}, [], null, null],
  ];
  for (const [what, voicing, faults, extra, verdicts, line] of cases) {
    const ch = check(voicing, faults, extra);
    if (verdicts === null) {
      ch.notes = ch.notes.filter((n) => n.string !== 3);
      assert.equal(C.stringRows(voicing, ch)[3].verdict, 'muted', what);
      continue;
    }
    const rows = C.stringRows(voicing, ch);
    assert.equal(rows.map((r) => (r.verdict === 'silent' ? 'x' : r.verdict)).join(' '), verdicts, what);
    assert.match(C.advice(voicing, rows), line, what);
  }
  const wrong = C.stringRows(c, check(c, { 4: { verdict: 'wrong', heardMidi: 53 } }))[2];
  assert.equal(wrong.text, 'wrong note: F3, not E3');
});

test('the trainer\'s streak breaks on a fault and the best stays', () => {
  const score = new C.Score();
  for (const clean of [true, true, false, true, true, true, false]) score.add(clean);
  assert.deepEqual({ ...score }, { hits: 5, strums: 7, streak: 0, best: 3 });
});

test('the drill: one event per beat for a minute, alternating, at tempos from 40 to 160', () => {
  const am = find('Am', 'x02210');
  const e = find('E', '022100');
  for (const [bpm, count, last] of [[40, 40, 58500], [60, 60, 59000], [90, 90, 59333.333], [160, 160, 59625]]) {
    const events = C.drillEvents(am, e, bpm);
    assert.equal(events.length, count, `${bpm} bpm`);
    assert.equal(events.at(-1).time, last, `${bpm} bpm`);
    assert.deepEqual(events[0].notes, C.targetNotes(am));
    assert.deepEqual(events[1].notes, C.targetNotes(e));
    assert.deepEqual(events[count - 1].notes, C.targetNotes(count % 2 ? am : e));
  }
  assert.deepEqual(C.targetNotes(am)[0], { midi: 45, string: 5, fret: 0 });
  for (const [value, bpm] of [[40, 40], [160, 160], [39, null], [161, null], ['90', 90], [100.4, 100], ['fast', null], [NaN, null]]) {
    assert.equal(C.drillTempo(value), bpm, String(value));
  }
  assert.equal(C.pairKey(am, e), 'Am-E');
});

test('the drill counts clean changes only, and says how late a right chord was', () => {
  const tally = new C.DrillTally(new Array(6).fill({}));
  const cases = [
    [{ index: 0, verdict: 'hit', offset: 3 }, 'On the beat', 0, 0],
    [{ index: 1, verdict: 'hit', offset: -20 }, 'Clean change', 1, 1],
    [{ index: 2, verdict: 'late', offset: 123.6 }, 'Right chord, 124 ms late', 2, 1],
    [{ index: 2, verdict: 'hit', offset: 0 }, null, 2, 1],            // a second verdict for a beat
    [{ index: 3, verdict: 'early', offset: -130 }, 'Right chord, 130 ms early', 3, 1],
    [{ index: 4, verdict: 'wrong', offset: 0, extra: [41] }, 'Wrong notes: F2', 4, 1],
    [{ index: 5, verdict: 'missed', offset: null }, 'Missed the beat', 5, 1],
    [{ index: 6, verdict: 'hit', offset: 0 }, null, 5, 1],            // past the drill
    [{ index: 'x', verdict: 'hit' }, null, 5, 1],
  ];
  for (const [verdict, line, changes, clean] of cases) {
    assert.equal(tally.feed(verdict), line, JSON.stringify(verdict));
    assert.deepEqual([tally.changes, tally.clean], [changes, clean], JSON.stringify(verdict));
  }
});
