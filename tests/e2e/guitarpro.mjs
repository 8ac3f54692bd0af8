// Guitar Pro 3, 4, 5 and 6 (.gpx) files written here, for the tests: alphaTab reads these
// formats but has no writer for them. A file holds one song: a title, a tempo, one guitar track
// in standard tuning and bars of quarter notes in 4/4. Only what a reader needs to get there is
// written; every other field is left empty, zero or at Guitar Pro's own default.
//
// A song is {title, tempo, bars}: each bar four beats, each beat a list of [string, fret] with
// strings numbered as players do (1 is the high e, 6 the low E).

/** Standard tuning as MIDI notes, string 1 (high e) first, the order Guitar Pro 3-5 store it in. */
export const STANDARD_TUNING = [64, 59, 55, 50, 45, 40];

/** Little-endian fields appended to a byte list, as Guitar Pro 3-5 store them. */
class Fields {
  bytes = [];
  byte(...values) { for (const v of values) this.bytes.push(v & 0xff); return this; }
  short(v) { return this.byte(v, v >> 8); }
  int(v) { return this.byte(v, v >> 8, v >> 16, v >> 24); }
  zeros(n) { return this.byte(...new Array(n).fill(0)); }
  /** A length byte, then the text padded to `size` bytes (a fixed-size field). */
  fixedString(text, size) { return this.byte(text.length, ...Buffer.from(text.padEnd(size, '\0'), 'latin1')); }
  /** The size of what follows (an int), the text's length (a byte), the text. */
  intByteString(text) { return this.int(text.length + 1).byte(text.length, ...Buffer.from(text, 'latin1')); }
  get buffer() { return Buffer.from(this.bytes); }
}

/** A Guitar Pro 3, 4 or 5 (version 5.00) file of `song`. */
export function guitarPro(version, { title, tempo, bars }) {
  const gp4 = version >= 4;
  const gp5 = version >= 5;
  const f = new Fields();
  f.fixedString(`FICHIER GUITAR PRO v${version}.00`, 30);
  // Title, subtitle, artist, album, words, music (from 5 on), copyright, tabbed by, instructions.
  for (const text of [title, '', '', '', '', ...(gp5 ? [''] : []), '', '', '']) f.intByteString(text);
  f.int(0); // no notice lines
  if (!gp5) f.byte(0); // no triplet feel
  if (gp4) { f.int(0); for (let line = 0; line < 5; line += 1) f.int(0).int(0); } // five empty lyric lines
  if (gp5) {
    // Page setup: A4 in mm, margins, 100 % size, all header fields shown, their ten templates empty.
    f.int(210).int(297).int(10).int(10).int(15).int(10).int(100).short(0x1ff);
    for (let i = 0; i < 10; i += 1) f.intByteString('');
    f.intByteString(''); // tempo name
  }
  f.int(tempo);
  if (gp4) f.byte(0).int(0); else f.int(0); // C major (and its octave from 4 on)
  // 64 MIDI channels: steel-string guitar (program 25), volume 13 of 16, centred, no effects.
  for (let channel = 0; channel < 64; channel += 1) f.int(25).byte(13, 8, 0, 0, 0, 0).zeros(2);
  if (gp5) { for (let i = 0; i < 19; i += 1) f.short(-1); f.int(0); } // no coda, segno...; master reverb
  f.int(bars.length).int(1); // bars, tracks

  // The bars' headers (5.00 puts a blank between two).
  bars.forEach((_, i) => {
    if (gp5 && i > 0) f.byte(0);
    if (i === 0) f.byte(0x03, 4, 4); else f.byte(0); // 4/4 is set on the first bar and kept
    if (gp5) { if (i === 0) f.byte(2, 2, 2, 2); f.byte(0, 0); } // beaming of 4/4; blank; no triplet feel
  });

  // The track.
  if (gp5) f.byte(0); // blank before each track in 5.00
  f.byte(gp5 ? 0x08 : 0).fixedString('Guitar', 40); // visible
  f.int(6);
  for (let s = 0; s < 7; s += 1) f.int(STANDARD_TUNING[s] ?? 0);
  f.int(1).int(1).int(2).int(24).int(0).byte(255, 0, 0, 0); // port, channel, effect channel, frets, capo, colour
  // Tab and notation shown; no accentuation, bank 0, no humanizing; no RSE instrument.
  if (gp5) f.short(0x03).byte(0, 0, 0).zeros(24).int(-1).int(-1).int(-1).short(-1).byte(0);
  if (gp5) f.zeros(2); // blanks after the tracks, in 5.00

  // The bars: Guitar Pro 5 has a second voice, left empty. A beat marks its strings in a byte
  // (string 1 is 0x40, string 6 is 0x02), then gives their notes from string 1 down.
  for (const bar of bars) {
    for (const voice of gp5 ? [bar, []] : [bar]) {
      f.int(voice.length);
      for (const beat of voice) {
        const strings = [...beat].sort((a, b) => a[0] - b[0]);
        f.byte(0, 0); // no beat flags; a quarter
        f.byte(strings.reduce((mask, [string]) => mask | (1 << (7 - string)), 0));
        for (const [, fret] of strings) {
          f.byte(0x20, 1, fret); // a fret, on a normal note
          if (gp5) f.byte(0);
        }
        if (gp5) f.short(0);
      }
    }
    if (gp5) f.byte(0); // no line break
  }
  return f.buffer;
}

/** The score.gpif (Guitar Pro 6's XML) of `song`; strings there count from the lowest, at 0. */
export function gpif({ title, tempo, bars }) {
  const ids = { beats: [], notes: [] };
  const voices = bars.map((bar) => bar.map((beat) => {
    const notes = beat.map(([string, fret]) => {
      ids.notes.push(`<Note id="${ids.notes.length}"><Properties><Property name="String"><String>${6 - string}</String></Property>` +
        `<Property name="Fret"><Fret>${fret}</Fret></Property></Properties></Note>`);
      return ids.notes.length - 1;
    });
    ids.beats.push(`<Beat id="${ids.beats.length}"><Rhythm ref="0"/><Notes>${notes.join(' ')}</Notes></Beat>`);
    return ids.beats.length - 1;
  }));
  return '<?xml version="1.0" encoding="utf-8"?>\n<GPIF>' +
    `<Score><Title><![CDATA[${title}]]></Title></Score>` +
    '<MasterTrack><Tracks>0</Tracks><Automations><Automation><Type>Tempo</Type><Linear>false</Linear>' +
    `<Bar>0</Bar><Position>0</Position><Visible>true</Visible><Value>${tempo} 2</Value></Automation></Automations></MasterTrack>` +
    '<Tracks><Track id="0"><Name><![CDATA[Guitar]]></Name>' +
    '<GeneralMidi table="Instrument"><Program>25</Program><Port>0</Port><PrimaryChannel>0</PrimaryChannel><SecondaryChannel>1</SecondaryChannel></GeneralMidi>' +
    `<Properties><Property name="Tuning"><Pitches>${[...STANDARD_TUNING].reverse().join(' ')}</Pitches></Property></Properties></Track></Tracks>` +
    `<MasterBars>${bars.map((_, i) => `<MasterBar><Time>4/4</Time><Bars>${i}</Bars></MasterBar>`).join('')}</MasterBars>` +
    `<Bars>${bars.map((_, i) => `<Bar id="${i}"><Clef>G2</Clef><Voices>${i} -1 -1 -1</Voices></Bar>`).join('')}</Bars>` +
    `<Voices>${voices.map((beats, i) => `<Voice id="${i}"><Beats>${beats.join(' ')}</Beats></Voice>`).join('')}</Voices>` +
    `<Beats>${ids.beats.join('')}</Beats><Notes>${ids.notes.join('')}</Notes>` +
    '<Rhythms><Rhythm id="0"><NoteValue>Quarter</NoteValue></Rhythm></Rhythms></GPIF>\n';
}

const SECTOR = 4096;

/**
 * Guitar Pro 6's container of `files` ({name: Buffer}): "BCFS", then 4 KiB sectors. Sector 0 is
 * left empty; each file has an entry sector (2, its name, its size at 140, the numbers of its data
 * sectors from 148, ending with 0) followed by its data sectors.
 */
function bcfs(files) {
  const sectors = [Buffer.alloc(SECTOR)];
  for (const [name, data] of Object.entries(files)) {
    const entry = Buffer.alloc(SECTOR);
    const count = Math.ceil(data.length / SECTOR);
    entry.writeInt32LE(2, 0);
    entry.write(name, 4, 'latin1');
    entry.writeInt32LE(data.length, 140);
    for (let i = 0; i < count; i += 1) entry.writeInt32LE(sectors.length + 1 + i, 148 + 4 * i);
    sectors.push(entry);
    for (let i = 0; i < count; i += 1) {
      const sector = Buffer.alloc(SECTOR);
      data.copy(sector, 0, i * SECTOR, (i + 1) * SECTOR);
      sectors.push(sector);
    }
  }
  return Buffer.concat([Buffer.from('BCFS'), ...sectors]);
}

/**
 * "BCFZ": the BCFS container's length (an int), then a stream of bits, most significant first.
 * A 0 bit opens a run of up to three plain bytes, its length in two bits, least significant
 * first; (a 1 bit would open a copy of earlier output, which a test file can do without).
 */
function bcfz(plain) {
  const bits = [];
  const put = (value, count, reversed) => {
    for (let i = 0; i < count; i += 1) bits.push((value >> (reversed ? i : count - 1 - i)) & 1);
  };
  for (let at = 0; at < plain.length; at += 3) {
    const run = plain.subarray(at, at + 3);
    put(0, 1);
    put(run.length, 2, true);
    for (const b of run) put(b, 8);
  }
  const packed = Buffer.alloc(Math.ceil(bits.length / 8));
  bits.forEach((bit, i) => { packed[i >> 3] |= bit << (7 - (i & 7)); });
  const length = Buffer.alloc(4);
  length.writeInt32LE(plain.length);
  return Buffer.concat([Buffer.from('BCFZ'), length, packed]);
}

/** A Guitar Pro 6 file (.gpx) of `song`: its score.gpif in a compressed container. */
export function gpx(song) {
  return bcfz(bcfs({ 'score.gpif': Buffer.from(gpif(song), 'utf8') }));
}
