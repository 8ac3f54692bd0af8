/*
 * What the tuner, notes and recorder pages share about pitch: note names, the tunings and
 * their targets, the auto tuner's choice of string, the note game's judge of a hit, the
 * needle's motion and the places of a note on the fretboard. No page or host here, so the
 * same file loads in Node for its tests.
 */
(function (root, factory) {
  'use strict';
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.Pitch = api;
})(typeof window !== 'undefined' ? window : globalThis, function () {
  'use strict';

  const SHARPS = ['C', 'C♯', 'D', 'D♯', 'E', 'F', 'F♯', 'G', 'G♯', 'A', 'A♯', 'B'];
  const FLATS = ['C', 'D♭', 'D', 'E♭', 'E', 'F', 'G♭', 'G', 'A♭', 'A', 'B♭', 'B'];
  const A4 = 69;
  const DEFAULT_REFERENCE = 440;
  const LOWEST_REFERENCE = 415;
  const HIGHEST_REFERENCE = 466;

  /** The name of a MIDI note without its octave ("C♯"); flats when asked. */
  function pitchClass(midi, flats) {
    const index = ((Math.round(midi) % 12) + 12) % 12;
    return (flats ? FLATS : SHARPS)[index];
  }

  function octaveOf(midi) {
    return Math.floor(Math.round(midi) / 12) - 1;
  }

  /** "A2", "E♭4". */
  function noteName(midi, flats) {
    return pitchClass(midi, flats) + octaveOf(midi);
  }

  /** MIDI note of a name such as "A2", "C#4", "Bb3", "E♭2"; NaN for anything else. */
  function midiOf(name) {
    const m = /^([A-Ga-g])([#♯b♭]?)(-?\d+)$/.exec(String(name).trim());
    if (!m) return NaN;
    const base = { C: 0, D: 2, E: 4, F: 5, G: 7, A: 9, B: 11 }[m[1].toUpperCase()];
    const shift = m[2] === '#' || m[2] === '♯' ? 1 : m[2] === 'b' || m[2] === '♭' ? -1 : 0;
    return (Number(m[3]) + 1) * 12 + base + shift;
  }

  function frequencyOf(midi, reference = DEFAULT_REFERENCE) {
    return reference * Math.pow(2, (midi - A4) / 12);
  }

  /** The exact (fractional) MIDI number of a frequency. */
  function exactMidi(hz, reference = DEFAULT_REFERENCE) {
    return A4 + 12 * Math.log2(hz / reference);
  }

  /** Cents from `targetHz` to `hz`: positive is sharp (too high). */
  function centsBetween(hz, targetHz) {
    return 1200 * Math.log2(hz / targetHz);
  }

  // Strings from the low (6th) to the high (1st), as MIDI notes.
  const TUNINGS = [
    { id: 'standard', name: 'Standard', notes: [40, 45, 50, 55, 59, 64] },
    { id: 'dropD', name: 'Drop D', notes: [38, 45, 50, 55, 59, 64] },
    { id: 'halfStepDown', name: 'Half step down', notes: [39, 44, 49, 54, 58, 63], flats: true },
    { id: 'openG', name: 'Open G', notes: [38, 43, 50, 55, 59, 62] },
    { id: 'openD', name: 'Open D', notes: [38, 45, 50, 54, 57, 62] },
    { id: 'DADGAD', name: 'DADGAD', notes: [38, 45, 50, 55, 57, 62] },
  ];
  const STRING_NAMES = ['6th (low)', '5th', '4th', '3rd', '2nd', '1st (high)'];

  function tuning(id) {
    return TUNINGS.find((t) => t.id === id) || TUNINGS[0];
  }

  /**
   * The auto tuner's choice of string, with hysteresis: the string it holds stays until a
   * reading is nearer another string's target by `marginCents` and that stays so for
   * `confirmReadings` readings in a row. A first reading takes the nearest string at once.
   */
  class StringPicker {
    constructor({ marginCents = 60, confirmReadings = 3 } = {}) {
      this.marginCents = marginCents;
      this.confirmReadings = confirmReadings;
      this.reset();
    }

    reset() {
      this.current = -1;
      this.candidate = -1;
      this.count = 0;
    }

    /** targetsHz: the strings' targets; hz: the reading. Answers the chosen string's index. */
    pick(targetsHz, hz) {
      if (!(hz > 0) || !targetsHz.length) return this.current;
      const distance = targetsHz.map((t) => Math.abs(centsBetween(hz, t)));
      let nearest = 0;
      distance.forEach((d, i) => { if (d < distance[nearest]) nearest = i; });
      if (this.current < 0 || this.current >= targetsHz.length) {
        this.current = nearest;
        this.candidate = -1;
        this.count = 0;
        return this.current;
      }
      if (nearest === this.current || distance[nearest] + this.marginCents > distance[this.current]) {
        this.candidate = -1;
        this.count = 0;
        return this.current;
      }
      if (nearest !== this.candidate) {
        this.candidate = nearest;
        this.count = 0;
      }
      this.count += 1;
      if (this.count >= this.confirmReadings) {
        this.current = nearest;
        this.candidate = -1;
        this.count = 0;
      }
      return this.current;
    }
  }

  /**
   * The note game's judge. A note counts once the readings stay within `toleranceCents` of
   * one note (in its octave) for `holdMs`; then it is a hit when that note is the target and
   * a wrong note otherwise. A gap of more than `gapMs` between readings, a silence (null) or a
   * reading off the note starts the count again, so a glitch never scores.
   */
  class NoteJudge {
    constructor({ toleranceCents = 30, holdMs = 200, gapMs = 150 } = {}) {
      this.toleranceCents = toleranceCents;
      this.holdMs = holdMs;
      this.gapMs = gapMs;
      this.reset();
    }

    reset() {
      this.note = null;
      this.since = 0;
      this.last = 0;
      this.decided = false;
    }

    /**
     * One reading at time `now` (ms): hz (or null for silence). Answers null while nothing is
     * decided, else { kind: 'hit' | 'wrong', midi, cents } once per stable note.
     */
    feed(now, hz, targetMidi, reference = DEFAULT_REFERENCE) {
      if (!(hz > 0)) {
        this.reset();
        return null;
      }
      const exact = exactMidi(hz, reference);
      const midi = Math.round(exact);
      const cents = (exact - midi) * 100;
      const onNote = Math.abs(cents) <= this.toleranceCents;
      if (!onNote || midi !== this.note || now - this.last > this.gapMs) {
        this.note = onNote ? midi : null;
        this.since = now;
        this.decided = false;
      }
      this.last = now;
      if (this.note === null || this.decided || now - this.since < this.holdMs) return null;
      this.decided = true;
      return { kind: midi === targetMidi ? 'hit' : 'wrong', midi, cents };
    }
  }

  /**
   * A critically damped needle: it follows its target without overshoot and settles within
   * about 0.3 s (omega 20/s). step() advances by dt seconds with the exact solution, so a
   * slow frame never makes it jump or ring.
   */
  class DampedNeedle {
    constructor(omega = 20) {
      this.omega = omega;
      this.position = 0;
      this.velocity = 0;
      this.target = 0;
    }

    step(dt) {
      if (!(dt > 0)) return this.position;
      const w = this.omega;
      const e0 = this.position - this.target;
      const v0 = this.velocity;
      const decay = Math.exp(-w * dt);
      const c = v0 + w * e0;
      this.position = this.target + (e0 + c * dt) * decay;
      this.velocity = (v0 - w * c * dt) * decay;
      return this.position;
    }
  }

  /** Every place of a MIDI note on the fretboard up to `frets`: [{ string, fret }], string 0 the low one. */
  function placesOf(midi, openNotes, frets = 12) {
    const places = [];
    openNotes.forEach((open, string) => {
      const fret = midi - open;
      if (fret >= 0 && fret <= frets) places.push({ string, fret });
    });
    return places;
  }

  function ordinal(n) {
    const s = ['th', 'st', 'nd', 'rd'];
    const v = n % 100;
    return n + (s[(v - 20) % 10] || s[v] || s[0]);
  }

  /**
   * The notes of a take: readings [{ time (s), frequency, note, cents }] grouped into runs of
   * one note with no gap longer than `gapSeconds`; runs of fewer than `minReadings` readings
   * (a stray reading between two notes) are left out. Each note: { note, midi, start, end,
   * cents (the median), count }.
   */
  function noteSegments(readings, { gapSeconds = 0.15, minReadings = 3 } = {}) {
    const runs = [];
    let run = null;
    for (const r of readings || []) {
      if (!r || !(r.frequency > 0) || !Number.isFinite(r.time)) continue;
      let midi = midiOf(r.note);
      if (!Number.isFinite(midi)) midi = Math.round(exactMidi(r.frequency));
      if (run && run.midi === midi && r.time - run.end <= gapSeconds) {
        run.end = r.time;
        run.cents.push(Number(r.cents) || 0);
      } else {
        run = { midi, start: r.time, end: r.time, cents: [Number(r.cents) || 0] };
        runs.push(run);
      }
    }
    const kept = [];
    for (const x of runs) {
      if (x.cents.length < minReadings) continue;
      const sorted = [...x.cents].sort((a, b) => a - b);
      const median = sorted[Math.floor(sorted.length / 2)];
      const last = kept[kept.length - 1];
      // Two runs of one note split only by a left-out stray reading are one note.
      if (last && last.midi === x.midi && x.start - last.end <= 2 * gapSeconds) {
        last.end = x.end;
        last.count += x.cents.length;
        continue;
      }
      kept.push({ note: noteName(x.midi), midi: x.midi, start: x.start, end: x.end, cents: median, count: x.cents.length });
    }
    return kept;
  }

  /** Peaks of a take, 0..1: from an array of numbers or a text of two hex digits each. */
  function decodePeaks(peaks) {
    if (Array.isArray(peaks)) return peaks.map((p) => Math.max(0, Math.min(1, Number(p) || 0)));
    if (typeof peaks !== 'string') return [];
    const out = new Array(Math.floor(peaks.length / 2));
    for (let i = 0; i < out.length; i += 1) {
      const v = parseInt(peaks.substr(2 * i, 2), 16);
      out[i] = Number.isNaN(v) ? 0 : v / 255;
    }
    return out;
  }

  /** "+7", "−3", "0" with a true minus sign. */
  function signedCents(cents) {
    const r = Math.round(cents);
    if (r === 0) return '0';
    return (r > 0 ? '+' : '−') + Math.abs(r);
  }

  return {
    A4,
    DEFAULT_REFERENCE,
    LOWEST_REFERENCE,
    HIGHEST_REFERENCE,
    TUNINGS,
    STRING_NAMES,
    pitchClass,
    octaveOf,
    noteName,
    midiOf,
    frequencyOf,
    exactMidi,
    centsBetween,
    tuning,
    StringPicker,
    NoteJudge,
    DampedNeedle,
    placesOf,
    ordinal,
    signedCents,
    noteSegments,
    decodePeaks,
  };
});
