// Guitar sound for the listening tests: notes written as a standard MIDI file and rendered
// by fluidsynth with the TimGM6mb soundfont (no reverb, no chorus), mono-mixed by the host.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

export const SOUNDFONT = '/usr/share/sounds/sf2/TimGM6mb.sf2';
export const RENDER_RATE = 22050;
const STEEL_GUITAR = 25; // General MIDI program, counted from 0

const varLength = (n) => {
  const bytes = [n & 0x7f];
  for (n >>= 7; n > 0; n >>= 7) bytes.unshift((n & 0x7f) | 0x80);
  return bytes;
};

/**
 * Writes a one-track MIDI file where one tick is one millisecond. notes: [{ ms, midi,
 * length (ms), velocity }].
 */
export function writeMidi(file, notes) {
  const events = [];
  for (const n of notes) {
    events.push({ at: Math.round(n.ms), bytes: [0x90, n.midi, n.velocity ?? 96] });
    events.push({ at: Math.round(n.ms + n.length), bytes: [0x80, n.midi, 0] });
  }
  // At equal times, note-offs first, so that a repeated note is struck again.
  events.sort((a, b) => a.at - b.at || (a.bytes[0] === 0x80 ? -1 : 1) - (b.bytes[0] === 0x80 ? -1 : 1));
  const track = [0x00, 0xff, 0x51, 0x03, 0x07, 0xa1, 0x20, 0x00, 0xc0, STEEL_GUITAR]; // 500000 us per beat
  let now = 0;
  for (const e of events) {
    track.push(...varLength(e.at - now), ...e.bytes);
    now = e.at;
  }
  track.push(0x00, 0xff, 0x2f, 0x00);
  const header = [0x4d, 0x54, 0x68, 0x64, 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xf4]; // 500 ticks per beat
  const length = [(track.length >>> 24) & 0xff, (track.length >>> 16) & 0xff, (track.length >>> 8) & 0xff, track.length & 0xff];
  fs.writeFileSync(file, Buffer.from([...header, 0x4d, 0x54, 0x72, 0x6b, ...length, ...track]));
  return file;
}

/** Renders notes (see writeMidi) to a WAV file `seconds` long at RENDER_RATE. */
export function renderNotes(file, notes, seconds) {
  const midi = writeMidi(file.replace(/\.wav$/, '.mid'), [...notes, { ms: seconds * 1000 - 20, midi: 0, length: 10, velocity: 1 }]);
  execFileSync('fluidsynth', ['-ni', '-q', '-R', '0', '-C', '0', '-g', '0.6', '-r', String(RENDER_RATE), '-F', file, SOUNDFONT, midi],
    { stdio: ['ignore', 'ignore', 'pipe'] });
  fs.rmSync(midi);
  return file;
}

/** The notes of a strum: each string `spreadMs` after the one before, low to high. */
export const strum = (ms, midis, { spreadMs = 8, length = 450 } = {}) =>
  midis.map((midi, i) => ({ ms: ms + i * spreadMs, midi, length: length - i * spreadMs }));
