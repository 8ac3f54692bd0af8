/*
 * What the Songs page needs to judge a play-along, without the page or the host: the list of
 * events the host judges (from an alphaTab score), the marks that show its verdicts, the
 * running score, the summary at the end, the speed trainer and the latency calibration.
 * Loads in Node too, for its tests.
 */
(function (root, factory) {
  'use strict';
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.PlayAlong = api;
})(typeof window !== 'undefined' ? window : globalThis, function () {
  'use strict';

  const QUARTER_TICKS = 960; // alphaTab's ticks per quarter note
  const MAX_EVENTS = 20000; // the most the host takes in one run
  const MIN_SPEED = 0.25;
  const MAX_SPEED = 1.5;

  /** A speed (ratio) held within 25..150 %. */
  function clampSpeed(speed) {
    const s = Number(speed);
    if (!Number.isFinite(s)) return 1;
    return Math.min(MAX_SPEED, Math.max(MIN_SPEED, s));
  }

  /**
   * The ms of song time (at speed 1) of every master bar's start, from the score's tempo and
   * its tempo changes. Bars are taken in written order (repeats are played once).
   * Returns {barStartMs: [...], barStartTick: [...], msAt(barIndex, tickInBar)}.
   */
  function timeline(score) {
    const bars = score.masterBars;
    const barStartMs = [];
    const barStartTick = [];
    let ms = 0;
    let tick = 0;
    let tempo = score.tempo > 0 ? score.tempo : 120;
    const changesOf = [];
    for (let i = 0; i < bars.length; ++i) {
      const bar = bars[i];
      const length = bar.calculateDuration();
      // Tempo changes inside the bar, at their ratio of its length.
      const changes = (bar.tempoAutomations || [])
        .filter((a) => a && a.value > 0)
        .map((a) => ({ tick: Math.round((a.ratioPosition || 0) * length), tempo: a.value }))
        .sort((a, b) => a.tick - b.tick);
      barStartMs.push(ms);
      barStartTick.push(tick);
      const segments = [];
      let at = 0;
      let segMs = ms;
      for (const change of changes) {
        if (change.tick > at) {
          segments.push({ tick: at, ms: segMs, tempo });
          segMs += ((change.tick - at) * 60000) / (tempo * QUARTER_TICKS);
          at = change.tick;
        }
        tempo = change.tempo;
      }
      segments.push({ tick: at, ms: segMs, tempo });
      segMs += ((length - at) * 60000) / (tempo * QUARTER_TICKS);
      changesOf.push(segments);
      ms = segMs;
      tick += length;
    }
    barStartMs.push(ms);
    barStartTick.push(tick);
    function msAt(barIndex, tickInBar) {
      const segments = changesOf[barIndex];
      if (!segments) return ms;
      let seg = segments[0];
      for (const s of segments) if (s.tick <= tickInBar) seg = s;
      return seg.ms + ((tickInBar - seg.tick) * 60000) / (seg.tempo * QUARTER_TICKS);
    }
    return { barStartMs, barStartTick, msAt, totalMs: ms };
  }

  /** The player's string number (1 = high e) of alphaTab's (1 = lowest) on a staff of `count`. */
  function playerString(alphaTabString, count) {
    return count - alphaTabString + 1;
  }

  /**
   * The events of one track for the host's judge:
   *   [{time: ms of song time at `speed` from the first bar of the range, notes: [{midi, string, fret}]}]
   * sorted by time, with what the page needs to place each verdict: the bar of each event and
   * its alphaTab beats. options: {speed (ratio, default 1), fromBar, toBar (0-based,
   * inclusive; default the whole song)}. Rests, tied-over and dead notes sound no new note
   * and are left out; notes that start together on several staves or voices are one event.
   */
  function buildEvents(score, trackIndex, options) {
    const opts = options || {};
    const speed = clampSpeed(opts.speed === undefined ? 1 : opts.speed);
    const track = score.tracks[trackIndex];
    if (!track) throw new Error('no track ' + trackIndex);
    const lastBar = score.masterBars.length - 1;
    const fromBar = Math.max(0, Math.min(lastBar, opts.fromBar === undefined ? 0 : opts.fromBar | 0));
    const toBar = Math.max(fromBar, Math.min(lastBar, opts.toBar === undefined ? lastBar : opts.toBar | 0));
    const line = timeline(score);
    const origin = line.barStartMs[fromBar];
    const byTime = new Map();
    for (const staff of track.staves) {
      const strings = staff.tuning ? staff.tuning.length : 6;
      for (let b = fromBar; b <= toBar; ++b) {
        const bar = staff.bars[b];
        if (!bar) continue;
        for (const voice of bar.voices) {
          for (const beat of voice.beats) {
            if (beat.isRest || !beat.notes || beat.notes.length === 0) continue;
            const notes = [];
            for (const note of beat.notes) {
              if (note.isTieDestination || note.isDead) continue;
              const midi = note.realValue;
              if (!Number.isFinite(midi) || midi < 0) continue;
              const item = { midi };
              if (note.string > 0 && note.fret >= 0) {
                item.string = playerString(note.string, strings);
                item.fret = note.fret;
              }
              notes.push(item);
            }
            if (notes.length === 0) continue;
            const ms = (line.msAt(b, beat.playbackStart) - origin) / speed;
            const key = Math.round(ms * 1000);
            let event = byTime.get(key);
            if (!event) {
              event = { time: Math.round(ms * 1000) / 1000, notes: [], bar: b, beats: [] };
              byTime.set(key, event);
            }
            for (const n of notes) {
              if (!event.notes.some((m) => m.midi === n.midi && m.string === n.string)) event.notes.push(n);
            }
            event.beats.push(beat);
          }
        }
      }
    }
    const all = [...byTime.values()].sort((a, b) => a.time - b.time);
    for (const e of all) e.notes.sort((a, b) => (b.string || 0) - (a.string || 0) || a.midi - b.midi);
    if (all.length > MAX_EVENTS) all.length = MAX_EVENTS;
    return {
      events: all.map((e) => ({ time: e.time, notes: e.notes })),
      bars: all.map((e) => e.bar),
      beats: all.map((e) => e.beats),
      durationMs: (line.barStartMs[toBar + 1] - origin) / speed,
      speed,
    };
  }

  const NOTE_NAMES = ['C', 'C♯', 'D', 'D♯', 'E', 'F', 'F♯', 'G', 'G♯', 'A', 'A♯', 'B'];
  function noteName(midi) {
    const m = Math.round(midi);
    return NOTE_NAMES[((m % 12) + 12) % 12] + (Math.floor(m / 12) - 1);
  }

  function signedMs(offset) {
    const r = Math.round(offset);
    return (r > 0 ? '+' : r < 0 ? '−' : '±') + Math.abs(r) + ' ms';
  }

  /**
   * How a verdict shows on the tab: a symbol and a short text (never colour alone), the CSS
   * class that colours it, and a sentence for screen readers. `expected` (the event's notes)
   * names the strings of a partial chord.
   */
  function verdictMark(verdict, expected) {
    const v = verdict || {};
    const offset = Number.isFinite(v.offset) ? v.offset : null;
    switch (v.verdict) {
      case 'hit':
        return { symbol: '✓', text: '', kind: 'hit', label: 'hit' + (offset === null ? '' : ', ' + signedMs(offset)) };
      case 'early':
        return { symbol: '«', text: offset === null ? 'early' : signedMs(offset), kind: 'early',
                 label: 'early' + (offset === null ? '' : ' by ' + Math.abs(Math.round(offset)) + ' ms') };
      case 'late':
        return { symbol: '»', text: offset === null ? 'late' : signedMs(offset), kind: 'late',
                 label: 'late' + (offset === null ? '' : ' by ' + Math.abs(Math.round(offset)) + ' ms') };
      case 'wrong': {
        const heard = (v.extra || []).map(noteName).join(' ');
        return { symbol: '✗', text: heard, kind: 'wrong', label: 'wrong note' + (heard ? ', heard ' + heard : '') };
      }
      case 'partial': {
        const missing = new Set(v.missing || []);
        const strings = (expected || []).filter((n) => missing.has(n.midi) && n.string).map((n) => n.string);
        const text = strings.length ? 'str ' + strings.join(',') : (v.missing || []).map(noteName).join(' ');
        return { symbol: '◐', text, kind: 'partial',
                 label: 'partial, missing ' + (strings.length ? 'string ' + strings.join(', ') : text) };
      }
      case 'missed':
        return { symbol: '○', text: '', kind: 'missed', label: 'missed' };
      default:
        return { symbol: '?', text: String(v.verdict || ''), kind: 'unknown', label: 'unknown verdict' };
    }
  }

  /** The running score of a run: verdicts as they come, by event index (a repeat replaces). */
  class Tally {
    constructor(total) {
      this.total = total;
      this.byIndex = new Map();
    }
    add(verdict) {
      if (!verdict || !Number.isInteger(verdict.index) || verdict.index < 0 || verdict.index >= this.total) return false;
      this.byIndex.set(verdict.index, verdict);
      return true;
    }
    get judged() {
      return this.byIndex.size;
    }
    get hits() {
      let n = 0;
      for (const v of this.byIndex.values()) if (v.verdict === 'hit') ++n;
      return n;
    }
    /** Hits over judged events, in % (0 before anything is judged). */
    get percent() {
      return this.judged === 0 ? 0 : Math.round((100 * this.hits) / this.judged);
    }
    /** True when every event was judged and every one was a hit. */
    get clean() {
      return this.total > 0 && this.judged === this.total && this.hits === this.total;
    }
  }

  /**
   * The end of a run: accuracy (hits over all events, %), the mean offset and the spread
   * (standard deviation, ms) of the notes that sounded in time, and the bars with the most
   * mistakes (anything but a hit), worst first, at most `limit`.
   */
  function summarize(tally, bars, limit) {
    const offsets = [];
    const mistakes = new Map();
    for (let i = 0; i < tally.total; ++i) {
      const v = tally.byIndex.get(i);
      if (v && Number.isFinite(v.offset) && (v.verdict === 'hit' || v.verdict === 'early' || v.verdict === 'late')) {
        offsets.push(v.offset);
      }
      if (!v || v.verdict !== 'hit') {
        const bar = bars[i];
        mistakes.set(bar, (mistakes.get(bar) || 0) + 1);
      }
    }
    const mean = offsets.length ? offsets.reduce((a, b) => a + b, 0) / offsets.length : null;
    const spread = offsets.length
      ? Math.sqrt(offsets.reduce((a, b) => a + (b - mean) * (b - mean), 0) / offsets.length)
      : null;
    const worstBars = [...mistakes.entries()]
      .map(([bar, count]) => ({ bar, mistakes: count }))
      .sort((a, b) => b.mistakes - a.mistakes || a.bar - b.bar)
      .slice(0, limit === undefined ? 3 : limit);
    return {
      events: tally.total,
      hits: tally.hits,
      accuracy: tally.total ? (100 * tally.hits) / tally.total : 0,
      meanOffset: mean,
      spread,
      worstBars,
    };
  }

  /**
   * The speed trainer: after a clean pass the speed goes up by `step` % up to `target` %;
   * otherwise it stays. Speeds in %.
   */
  function nextSpeed(current, clean, step, target) {
    const cur = Math.round(current);
    if (!clean) return cur;
    const top = Math.min(150, Math.max(25, Math.round(target)));
    if (cur >= top) return cur;
    return Math.min(top, cur + Math.max(1, Math.round(step)));
  }

  /**
   * What a calibration run's verdicts say, or null when fewer than half of the `count` clicks
   * were heard. The clicks' whole delay is the latency the host already allowed for
   * (`allowed`, ms), plus their median offset, plus the browser's output latency the page
   * allowed for by starting the music early (`output`, ms). That report wanders on a busy
   * machine, so the runs after allow for the same `output` again, not a new report: they are
   * then on time however far the report was from the truth. Returns {latency, outputLatency}:
   * the host's share (-100..500; below zero when the report overstated the truth) and the
   * page's (0..1000), `output` as it was unless the host's range cannot hold the rest.
   */
  function calibrationResult(verdicts, count, allowed, output) {
    const offsets = verdicts
      .filter((v) => v && Number.isFinite(v.offset) && v.verdict !== 'missed')
      .map((v) => v.offset)
      .sort((a, b) => a - b);
    if (offsets.length === 0 || offsets.length * 2 < count) return null;
    const mid = offsets.length >> 1;
    const median = offsets.length % 2 ? offsets[mid] : (offsets[mid - 1] + offsets[mid]) / 2;
    const within = (value, low, high) => Math.max(low, Math.min(high, Math.round(value)));
    const early = within(Number.isFinite(output) ? output : 0, 0, 1000);
    const whole = (Number.isFinite(allowed) ? allowed : 0) + median + early;
    const latency = within(whole - early, -100, 500);
    return { latency, outputLatency: within(whole - latency, 0, 1000) };
  }

  /**
   * When to start the synthesizer (performance.now() ms) so that song time 0 sounds
   * `startDelay` ms after `sentAt` (when the call left for the host), given the browser's
   * reported output latency (s) and the synthesizer's own lead (ms).
   */
  function synthStartAt(sentAt, startDelay, outputLatencySeconds, synthLeadMs) {
    const out = Number.isFinite(outputLatencySeconds) && outputLatencySeconds > 0 ? outputLatencySeconds * 1000 : 0;
    const lead = Number.isFinite(synthLeadMs) && synthLeadMs > 0 ? synthLeadMs : 0;
    return sentAt + startDelay - out - lead;
  }

  /**
   * When the synthesizer's music really began to be played (performance.now() ms), from its
   * position reports, each {at: performance.now() when it came, played: ms of music played by
   * then}. A report comes only after the music it counts was taken for output, and some come
   * later than others: the earliest start any of them implies is the nearest the truth. NaN
   * without a report.
   */
  function musicStartedAt(reports) {
    let start = NaN;
    for (const r of reports || []) {
      const s = r.at - r.played;
      if (Number.isFinite(s) && !(s >= start)) start = s;
    }
    return start;
  }

  /**
   * Follows the browser's sound through a run and says when it stalls. On a busy machine the
   * browser's audio thread can fall behind until its output runs dry, and everything after
   * then sounds that much later; its audio context's clock stops meanwhile. So the gap between
   * the page's clock and the context's (performance.now() less currentTime) steps up by each
   * stall, while a busy page, which merely reads both clocks later, leaves it as it was. The
   * level is that gap's lower edge over a short window; the slow drift between the two clocks
   * is followed without a word.
   *
   * add(at, contextMs, played): `at` is performance.now(), `contextMs` the context's
   * currentTime in ms, `played` the ms of music played by then (at the chosen speed) as last
   * reported. Answers null, or {late, from} once the sound has moved: from `from` ms of music
   * on it sounds `late` ms later than when the tracker began, in all.
   */
  class SoundStalls {
    constructor({ windowMs = 80, stepMs = 6, driftPerMs = 0.002 } = {}) {
      Object.assign(this, { windowMs, stepMs, driftPerMs });
      this.samples = [];
      this.late = 0;
      this.level = undefined;
      this.firstAt = undefined;
      this.lastAt = undefined;
      this.rise = null; // {since, played}: when the gap last came to stand a step above the level
      this.drop = null; // {since, played}: when it last came to stand a step below
    }

    add(at, contextMs, played) {
      if (![at, contextMs, played].every(Number.isFinite)) return null;
      const lag = at - contextMs;
      const samples = this.samples;
      samples.push({ at, lag });
      while (samples.length > 1 && samples[0].at < at - this.windowMs) samples.shift();
      let low = Infinity;
      for (const x of samples) low = Math.min(low, x.lag);
      if (this.level === undefined) this.firstAt = at;
      const since = this.lastAt === undefined ? 0 : at - this.lastAt;
      this.lastAt = at;
      if (this.level === undefined || at - this.firstAt < this.windowMs) {
        this.level = this.level === undefined ? low : Math.min(this.level, low);
        return null;
      }
      if (lag < this.level + this.stepMs) this.rise = null;
      else if (this.rise === null) this.rise = { since: at, played };
      const d = low - this.level;
      // Either way the change must hold for a whole window of readings: a single late reading
      // just before a stall, or the first after the page was busy, would otherwise stand for
      // its level, and a single early one cannot make the sound come early.
      let from = null;
      if (d >= this.stepMs) {
        const covered = samples.length >= 3 && at - samples[0].at >= this.windowMs / 2;
        if (covered && at - this.rise.since >= this.windowMs) from = this.rise.played;
      } else if (d <= -this.stepMs) {
        if (this.drop === null) this.drop = { since: at, played };
        if (at - this.drop.since >= this.windowMs) from = this.drop.played;
      } else {
        this.drop = null;
        const most = this.driftPerMs * since;
        this.level += Math.max(-most, Math.min(most, d));
      }
      if (from === null) return null;
      this.late += d;
      this.level = low;
      this.rise = null;
      this.drop = null;
      return { late: Math.round(this.late * 10) / 10, from: Math.max(0, Math.round(from * 10) / 10) };
    }
  }

  return {
    MAX_EVENTS,
    clampSpeed,
    timeline,
    playerString,
    buildEvents,
    noteName,
    verdictMark,
    Tally,
    summarize,
    nextSpeed,
    calibrationResult,
    synthStartAt,
    musicStartedAt,
    SoundStalls,
  };
});
