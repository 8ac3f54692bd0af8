/*
 * The chords page's own logic, apart from the page: chord names and their notes, the
 * voicings of data/chords.json (the notes each one sounds, a check of its diagram against
 * its name, the search), the diagram drawn as SVG, the trainer's reading of the host's check
 * and its one line of advice, and the changes drill's beats and tally. No page or host here,
 * so the same file loads in Node for its tests.
 */
(function (root, factory) {
  'use strict';
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.Chords = api;
})(typeof window !== 'undefined' ? window : globalThis, function () {
  'use strict';

  const OPEN = [40, 45, 50, 55, 59, 64];            // low E .. high e, standard tuning
  const STRING_NAMES = ['low E', 'A', 'D', 'G', 'B', 'high e'];
  const SHARPS = ['C', 'C#', 'D', 'D#', 'E', 'F', 'F#', 'G', 'G#', 'A', 'A#', 'B'];
  const LETTERS = { C: 0, D: 2, E: 4, F: 5, G: 7, A: 9, B: 11 };
  const FINGER_WORDS = ['', 'first', 'second', 'third', 'little'];
  const HIGHEST_FRET = 15;

  // Intervals above the root; the ones a voicing may leave out (the fifth of a seventh chord).
  const QUALITIES = {
    major: { tones: [0, 4, 7], optional: [] },
    m: { tones: [0, 3, 7], optional: [] },
    7: { tones: [0, 4, 7, 10], optional: [7] },
    maj7: { tones: [0, 4, 7, 11], optional: [7] },
    m7: { tones: [0, 3, 7, 10], optional: [7] },
    sus2: { tones: [0, 2, 7], optional: [] },
    sus4: { tones: [0, 5, 7], optional: [] },
    5: { tones: [0, 7], optional: [] },
    dim: { tones: [0, 3, 6], optional: [] },
    aug: { tones: [0, 4, 8], optional: [] },
    add9: { tones: [0, 2, 4, 7], optional: [7] },
  };
  // What players write after the root, longest first so "maj7" wins over "m".
  const QUALITY_SPELLINGS = [
    ['maj7', 'maj7'], ['Maj7', 'maj7'], ['M7', 'maj7'], ['Δ7', 'maj7'], ['Δ', 'maj7'],
    ['min7', 'm7'], ['m7', 'm7'], ['-7', 'm7'], ['sus2', 'sus2'], ['sus4', 'sus4'], ['sus', 'sus4'],
    ['add9', 'add9'], ['add2', 'add9'], ['dim', 'dim'], ['°', 'dim'], ['o', 'dim'], ['aug', 'aug'], ['+', 'aug'],
    ['min', 'm'], ['m', 'm'], ['-', 'm'], ['maj', 'major'], ['7', '7'], ['5', '5'], ['', 'major'],
  ];

  const pitchClassName = (pc) => SHARPS[((pc % 12) + 12) % 12];
  const noteName = (midi) => pitchClassName(midi) + String(Math.floor(midi / 12) - 1);
  const pretty = (name) => String(name).replace(/^([A-G])#/, '$1♯').replace(/^([A-G])b/, '$1♭').replace(/\/([A-G])#/, '/$1♯').replace(/\/([A-G])b/, '/$1♭');

  /** "C#4" or "Bb3" to its MIDI number; NaN for anything else. */
  function midiOf(name) {
    const m = /^([A-G])([#♯b♭]?)(-?\d)$/.exec(String(name));
    if (!m) return NaN;
    const shift = m[2] === '#' || m[2] === '♯' ? 1 : m[2] ? -1 : 0;
    return (Number(m[3]) + 1) * 12 + LETTERS[m[1]] + shift;
  }

  /** A root at the start of `text`: { pc, rest }, or null. Sharps and flats both. */
  function readRoot(text) {
    const m = /^([A-Ga-g])([#♯b♭]?)/.exec(text);
    if (!m) return null;
    const shift = m[2] === '#' || m[2] === '♯' ? 1 : m[2] ? -1 : 0;
    return { pc: (LETTERS[m[1].toUpperCase()] + shift + 12) % 12, rest: text.slice(m[0].length) };
  }

  /** A chord name ("F#m", "Bbmaj7", "D/F#") as { root, quality, bass }, pitch classes; or null. */
  function parseName(text) {
    const trimmed = String(text == null ? '' : text).trim();
    const root = readRoot(trimmed);
    if (!root) return null;
    let rest = root.rest;
    let bass = null;
    const slash = rest.indexOf('/');
    if (slash >= 0) {
      const b = readRoot(rest.slice(slash + 1));
      if (!b || b.rest !== '') return null;
      bass = b.pc;
      rest = rest.slice(0, slash);
    }
    const spelling = QUALITY_SPELLINGS.find(([written]) => written === rest);
    if (!spelling) return null;
    return { root: root.pc, quality: spelling[1], bass };
  }

  /** The display name of a parsed chord, with sharps: "F#m", "C", "D/F#". */
  function nameOf(chord) {
    const q = chord.quality === 'major' ? '' : chord.quality;
    const bass = chord.bass === null || chord.bass === undefined || chord.bass === chord.root ? '' : '/' + pitchClassName(chord.bass);
    return pitchClassName(chord.root) + q + bass;
  }

  /** The sounding strings of a voicing, low to high: { string (6 the low E .. 1), fret, midi }. */
  function soundingStrings(voicing) {
    const out = [];
    voicing.frets.forEach((fret, i) => {
      if (fret === 'x') return;
      out.push({ string: 6 - i, fret, midi: OPEN[i] + fret });
    });
    return out;
  }

  /** The notes a voicing sounds, low to high, as names ("C3"). */
  function notesOf(voicing) {
    return soundingStrings(voicing).map((s) => noteName(s.midi));
  }

  /**
   * What is wrong with a voicing's data: its six strings and fingers, its barre, the notes it
   * lists against the ones its frets sound, and those notes against its name. Empty when right.
   */
  function problemsOf(voicing) {
    const problems = [];
    const { frets, fingers, barre } = voicing;
    if (!Array.isArray(frets) || frets.length !== 6 || !Array.isArray(fingers) || fingers.length !== 6) {
      return ['needs six frets and six fingers'];
    }
    frets.forEach((fret, i) => {
      const where = `${STRING_NAMES[i]} string`;
      if (fret !== 'x' && !(Number.isInteger(fret) && fret >= 0 && fret <= HIGHEST_FRET)) problems.push(`${where}: fret ${fret}`);
      const finger = fingers[i];
      if (!Number.isInteger(finger) || finger < 0 || finger > 4) problems.push(`${where}: finger ${finger}`);
      else if ((fret === 'x' || fret === 0) !== (finger === 0)) problems.push(`${where}: fret ${fret} with finger ${finger}`);
    });
    if (barre) {
      if (!(barre.from > barre.to && barre.from <= 6 && barre.to >= 1)) problems.push('barre: strings');
      for (let string = barre.to; string <= barre.from; string += 1) {
        const i = 6 - string;
        if (frets[i] === 'x' || frets[i] < barre.fret) problems.push(`barre: the ${STRING_NAMES[i]} string is not under it`);
      }
      for (const i of [6 - barre.from, 6 - barre.to]) {
        if (frets[i] !== barre.fret || fingers[i] !== 1) problems.push(`barre: the ${STRING_NAMES[i]} string at its end is not held by the first finger at fret ${barre.fret}`);
      }
    }
    const sounding = soundingStrings(voicing);
    if (sounding.length < 2) problems.push('fewer than two strings sound');
    const derived = sounding.map((s) => noteName(s.midi));
    if (JSON.stringify(derived) !== JSON.stringify(voicing.notes)) {
      problems.push(`notes: the frets sound ${derived.join(' ')}, the data says ${(voicing.notes || []).join(' ')}`);
    }
    const chord = parseName(voicing.name);
    if (!chord) {
      problems.push(`name: "${voicing.name}" is no chord name`);
      return problems;
    }
    const { tones, optional } = QUALITIES[chord.quality];
    const heard = new Set(sounding.map((s) => (s.midi - chord.root + 120) % 12));
    for (const t of tones) if (!heard.has(t) && !optional.includes(t)) problems.push(`name: ${voicing.name} lacks ${pitchClassName(chord.root + t)}`);
    for (const t of heard) if (!tones.includes(t)) problems.push(`name: ${pitchClassName(chord.root + t)} is not in ${voicing.name}`);
    const bass = chord.bass === null ? chord.root : chord.bass;
    if (sounding.length && (sounding[0].midi - bass + 120) % 12 !== 0) problems.push(`bass: ${noteName(sounding[0].midi)} is not ${pitchClassName(bass)}`);
    return problems;
  }

  /** The notes the host checks a strum against: [{ midi, string, fret }], high strings last. */
  function targetNotes(voicing) {
    return soundingStrings(voicing).map(({ midi, string, fret }) => ({ midi, string, fret }));
  }

  /**
   * A voicing typed by hand: six frets, low E first, "x" for a muted string ("x32010",
   * "8 10 10 9 8 8", "x-3-2-0-1-0"). Null when it is not six frets from 0 to 15.
   */
  function parseFrets(text) {
    const t = String(text).trim().toLowerCase();
    const parts = /[\s,\-]/.test(t) ? t.split(/[\s,\-]+/).filter(Boolean) : t.split('');
    if (parts.length !== 6) return null;
    const frets = [];
    for (const p of parts) {
      if (p === 'x') frets.push('x');
      else if (/^\d{1,2}$/.test(p) && Number(p) <= HIGHEST_FRET) frets.push(Number(p));
      else return null;
    }
    return frets;
  }

  /** The library: the voicings of data/chords.json, each with its index as id. */
  class Library {
    constructor(data) {
      this.voicings = (data && Array.isArray(data.voicings) ? data.voicings : []).map((v, id) => ({ ...v, id, chord: parseName(v.name) }));
    }

    /** The voicings of one chord (root and quality), in library order. */
    of(root, quality) {
      return this.voicings.filter((v) => v.chord && v.chord.root === root && v.chord.quality === quality);
    }

    /**
     * Voicings for what was typed: a chord name finds that chord first (flats and sharps
     * alike), then the other chords on its root; anything else matches names that hold it.
     */
    search(query) {
      const q = String(query == null ? '' : query).trim();
      if (!q) return this.voicings.slice();
      const chord = parseName(q);
      if (chord) {
        const exact = this.of(chord.root, chord.quality);
        const sameRoot = this.voicings.filter((v) => v.chord && v.chord.root === chord.root && v.chord.quality !== chord.quality);
        // "A" alone also means "every A chord"; "Am7" means that chord only.
        return chord.quality === 'major' && /^[A-Ga-g][#♯b♭]?$/.test(q) ? exact.concat(sameRoot) : exact;
      }
      const lower = q.toLowerCase();
      return this.voicings.filter((v) => v.name.toLowerCase().includes(lower));
    }

    /** The voicings of a set: "openMajor", "openMinor", "sevenths", "barre", … */
    group(name) {
      return this.voicings.filter((v) => v.group === name);
    }

    /**
     * The voicings of a chord the host named ({ root, quality, notes: [{ midi }] }), the one
     * whose notes best match what was heard first: most notes in common, then fewest apart.
     */
    forHeard(heard) {
      const chord = heard && parseName(String(heard.root || '') + (heard.quality === 'major' ? '' : String(heard.quality || '')));
      if (!chord) return [];
      const midis = new Set((Array.isArray(heard.notes) ? heard.notes : []).map((n) => Number(n.midi)));
      const score = (v) => {
        const own = soundingStrings(v).map((s) => s.midi);
        const common = own.filter((m) => midis.has(m)).length;
        return common * 100 - (own.length - common) - (midis.size - common);
      };
      return this.of(chord.root, chord.quality)
        .map((v, order) => ({ v, order, score: score(v) }))
        .sort((a, b) => b.score - a.score || a.order - b.order)
        .map((x) => x.v);
    }

    /** The voicing a custom list's entry names: a chord name (its first voicing) or six frets. */
    resolve(text) {
      const frets = parseFrets(text);
      if (frets) {
        const known = this.voicings.find((v) => JSON.stringify(v.frets) === JSON.stringify(frets));
        if (known) return { voicing: known };
        const sounding = frets.filter((f) => f !== 'x').length;
        if (sounding < 2) return { error: `${text}: a chord needs at least two strings to be checked` };
        return { voicing: { name: frets.map((f) => String(f)).join(''), frets, fingers: frets.map(() => 0), custom: true } };
      }
      const chord = parseName(text);
      if (!chord) return { error: `${text}: no chord of that name` };
      const found = this.of(chord.root, chord.quality);
      if (!found.length) return { error: `${text}: not in the library; type its six frets instead (like x32010)` };
      return { voicing: found[0] };
    }
  }

  // ---- the diagram

  const escapeXml = (s) => String(s).replace(/[&<>"]/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' })[c]);

  /**
   * The diagram of a voicing as an SVG string: six strings (low E on the left), five frets
   * from the nut or from the lowest fret used (its number beside it), a dot with the finger's
   * number on each fretted string, the barre as one bar, "o" over an open string and "×"
   * over a muted one. Marks carry classes (dot, open, muted, barre, start-fret) for styling.
   */
  function diagramSvg(voicing, options = {}) {
    const width = options.width || 120;
    const frets = voicing.frets;
    const fretted = frets.filter((f) => f !== 'x' && f > 0);
    const highest = fretted.length ? Math.max(...fretted) : 0;
    const lowest = fretted.length ? Math.min(...fretted) : 0;
    const start = highest <= 4 ? 1 : lowest;   // the first fret shown
    const rows = Math.max(4, highest - start + 1);
    const left = 22, top = 30, gap = (width - left - 12) / 5, fretGap = 24;
    const height = top + rows * fretGap + 10;
    const x = (i) => left + i * gap;
    const y = (fret) => top + (fret - start + 0.5) * fretGap;
    const parts = [];
    const label = options.label || `${pretty(voicing.name)}: ${frets.map((f) => (f === 'x' ? 'x' : f)).join(' ')}`;
    parts.push(`<svg xmlns="http://www.w3.org/2000/svg" class="diagram" viewBox="0 0 ${width} ${height}" role="img" aria-label="${escapeXml(label)}">`);
    if (start === 1) parts.push(`<rect class="nut" x="${x(0) - 1}" y="${top - 4}" width="${x(5) - x(0) + 2}" height="5"/>`);
    else parts.push(`<text class="start-fret" x="${left - 6}" y="${y(start) + 5}" text-anchor="end">${start}</text>`);
    for (let r = 0; r <= rows; r += 1) parts.push(`<line class="fret" x1="${x(0)}" y1="${top + r * fretGap}" x2="${x(5)}" y2="${top + r * fretGap}"/>`);
    for (let i = 0; i < 6; i += 1) parts.push(`<line class="string" x1="${x(i)}" y1="${top}" x2="${x(i)}" y2="${top + rows * fretGap}"/>`);
    const barre = voicing.barre;
    if (barre) {
      const from = 6 - barre.from, to = 6 - barre.to;
      parts.push(`<rect class="barre" x="${x(from) - 8}" y="${y(barre.fret) - 8}" width="${x(to) - x(from) + 16}" height="16" rx="8"/>`);
      parts.push(`<text class="finger" x="${(x(from) + x(to)) / 2}" y="${y(barre.fret) + 5}" text-anchor="middle">1</text>`);
    }
    frets.forEach((fret, i) => {
      if (fret === 'x') {
        parts.push(`<text class="muted" x="${x(i)}" y="${top - 10}" text-anchor="middle">×</text>`);
        return;
      }
      if (fret === 0) {
        parts.push(`<circle class="open" cx="${x(i)}" cy="${top - 15}" r="5"/>`);
        return;
      }
      if (barre && fret === barre.fret && 6 - i <= barre.from && 6 - i >= barre.to) return;
      parts.push(`<circle class="dot" cx="${x(i)}" cy="${y(fret)}" r="8"/>`);
      const finger = voicing.fingers && voicing.fingers[i];
      if (finger) parts.push(`<text class="finger" x="${x(i)}" y="${y(fret) + 5}" text-anchor="middle">${finger}</text>`);
    });
    parts.push('</svg>');
    return parts.join('');
  }

  // ---- the trainer

  const VERDICT_WORDS = { ok: 'rang right', muted: 'muted', buzz: 'buzzed', wrong: 'wrong note' };

  /**
   * The host's check of a strum ({ notes: [{ string, verdict, heardMidi, cents }], extra })
   * read against the voicing, one row per string from the low E: { string, name, verdict,
   * text } where verdict is ok, muted, buzz, wrong, silent (muted in the chord and quiet) or
   * ringing (muted in the chord but heard).
   */
  function stringRows(voicing, check) {
    const byString = new Map();
    for (const n of (check && Array.isArray(check.notes) ? check.notes : [])) byString.set(Number(n.string), n);
    const extra = new Set((check && Array.isArray(check.extra) ? check.extra : []).map(Number));
    return voicing.frets.map((fret, i) => {
      const string = 6 - i;
      const row = { string, name: STRING_NAMES[i], fret, verdict: 'silent', text: 'not played' };
      if (fret === 'x') {
        // A muted string that rings anyway most often rings open.
        if (extra.has(OPEN[i])) {
          row.verdict = 'ringing';
          row.text = `should not ring (${noteName(OPEN[i])})`;
        }
        return row;
      }
      const n = byString.get(string);
      const verdict = n && VERDICT_WORDS[n.verdict] ? n.verdict : 'muted';
      row.verdict = verdict;
      row.text = VERDICT_WORDS[verdict];
      if (verdict === 'wrong' && Number.isFinite(Number(n.heardMidi))) {
        row.heard = Number(n.heardMidi);
        row.text = `wrong note: ${noteName(row.heard)}, not ${noteName(OPEN[i] + fret)}`;
      }
      if (verdict === 'buzz' && Number.isFinite(Number(n.cents))) {
        const c = Math.round(Number(n.cents));
        row.text = `buzzed (${c > 0 ? '+' : ''}${c} cents)`;
      }
      return row;
    });
  }

  const ordinal = (n) => `${n}${n % 100 >= 11 && n % 100 <= 13 ? 'th' : ['th', 'st', 'nd', 'rd'][n % 10] || 'th'}`;

  /** One line of advice for the first string that went wrong, from the low E up. */
  function advice(voicing, rows) {
    const fingerOf = (i) => FINGER_WORDS[(voicing.fingers && voicing.fingers[i]) || 0];
    const underBarre = (i) => voicing.barre && voicing.frets[i] === voicing.barre.fret && 6 - i <= voicing.barre.from && 6 - i >= voicing.barre.to;
    for (const row of rows) {
      const i = 6 - row.string;
      const s = `the ${row.name} string`;
      if (row.verdict === 'muted') {
        if (row.fret === 0) {
          // An open string is most often stopped by the finger on the string below it.
          const neighbour = [i - 1, i + 1].find((j) => j >= 0 && j < 6 && voicing.frets[j] !== 'x' && voicing.frets[j] > 0);
          return neighbour === undefined
            ? `${s} is muted: strum through it, it rings open`
            : `${s} is muted: arch the ${fingerOf(neighbour)} finger so it stays off the open ${row.name} string`;
        }
        if (underBarre(i)) return `${s} is muted: roll the first finger a little onto its bony side and press the barre firmly`;
        if (voicing.custom) return `${s} is muted: press it with a fingertip right behind the ${ordinal(row.fret)} fret`;
        return `${s} is muted: arch the ${fingerOf(i)} finger and press with its tip`;
      }
      if (row.verdict === 'buzz') {
        return `${s} buzzes: press ${voicing.custom || underBarre(i) ? 'it' : `the ${fingerOf(i)} finger`} just behind the ${ordinal(row.fret || 1)} fret, not on top of it`;
      }
      if (row.verdict === 'wrong') {
        const played = row.heard - OPEN[i];
        if (row.fret === 0) return `${s} sounded ${noteName(row.heard)}: it rings open here, so keep every finger off it`;
        if (played === 0) return `${s} rang open: press it at the ${ordinal(row.fret)} fret`;
        if (played >= 0 && played <= HIGHEST_FRET && played !== row.fret) {
          return `${s} sounded ${noteName(row.heard)}: move ${voicing.custom ? 'your finger' : `the ${fingerOf(i)} finger`} from the ${ordinal(played)} to the ${ordinal(row.fret)} fret`;
        }
        return `${s} sounded ${noteName(row.heard)}: check its fret`;
      }
      if (row.verdict === 'ringing') return `${s} should not ring: rest a finger lightly on it, or strum from the next string`;
    }
    return 'Clean: every string rang right.';
  }

  /** The trainer's running score: hits (clean strums), strums and the streak of clean ones. */
  class Score {
    constructor() {
      this.hits = 0;
      this.strums = 0;
      this.streak = 0;
      this.best = 0;
    }

    add(clean) {
      this.strums += 1;
      if (clean) {
        this.hits += 1;
        this.streak += 1;
        this.best = Math.max(this.best, this.streak);
      } else {
        this.streak = 0;
      }
    }
  }

  // ---- the changes drill

  const LOWEST_BPM = 40;
  const HIGHEST_BPM = 160;
  const DRILL_SECONDS = 60;

  /** A tempo the drill takes: a whole number of beats per minute from 40 to 160, else null. */
  function drillTempo(value) {
    const bpm = Math.round(Number(value));
    return Number.isFinite(bpm) && bpm >= LOWEST_BPM && bpm <= HIGHEST_BPM ? bpm : null;
  }

  /** One event per beat for `seconds`, the two voicings alternating, first on beat 0. */
  function drillEvents(first, second, bpm, seconds = DRILL_SECONDS) {
    const beatMs = 60000 / bpm;
    const count = Math.floor((seconds * 1000) / beatMs);
    const notes = [targetNotes(first), targetNotes(second)];
    const events = [];
    for (let i = 0; i < count; i += 1) events.push({ time: Math.round(i * beatMs * 1000) / 1000, notes: notes[i % 2] });
    return events;
  }

  /**
   * Counts the changes of a drill from the host's verdicts: every beat after the first is a
   * change, clean when its verdict is a hit. A right chord early or late says by how much.
   */
  class DrillTally {
    constructor(events) {
      this.events = events;
      this.changes = 0;
      this.clean = 0;
      this.verdicts = new Map();
    }

    /** Takes one "setVerdict" object; answers a line to show for it, or null to ignore it. */
    feed(v) {
      const index = Number(v && v.index);
      if (!Number.isInteger(index) || index < 0 || index >= this.events.length || this.verdicts.has(index)) return null;
      this.verdicts.set(index, v.verdict);
      const change = index > 0;
      if (change) this.changes += 1;
      const offset = Number(v.offset);
      switch (v.verdict) {
        case 'hit':
          if (change) this.clean += 1;
          return change ? 'Clean change' : 'On the beat';
        case 'late':
        case 'early':
          return `Right chord, ${Math.abs(Math.round(offset))} ms ${v.verdict}`;
        case 'wrong':
          return `Wrong notes${Array.isArray(v.extra) && v.extra.length ? ': ' + v.extra.map(noteName).join(' ') : ''}`;
        case 'partial':
          return `Strings missing${Array.isArray(v.missing) && v.missing.length ? ': ' + v.missing.map(noteName).join(' ') : ''}`;
        default:
          return 'Missed the beat';
      }
    }
  }

  /** The key of a drill pair in the best-scores table: "Am-E". */
  const pairKey = (first, second) => `${first.name}-${second.name}`;

  return {
    OPEN,
    STRING_NAMES,
    QUALITIES,
    LOWEST_BPM,
    HIGHEST_BPM,
    DRILL_SECONDS,
    noteName,
    midiOf,
    pretty,
    parseName,
    nameOf,
    soundingStrings,
    notesOf,
    problemsOf,
    targetNotes,
    parseFrets,
    Library,
    diagramSvg,
    stringRows,
    advice,
    Score,
    drillTempo,
    drillEvents,
    DrillTally,
    pairKey,
  };
});
