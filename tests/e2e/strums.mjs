// Strummed chords rendered by fluidsynth (a General MIDI steel-string guitar) as a WAV file a
// test can give the host as its microphone. Times are exact to fluidsynth's 64-sample block.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { readWav } from './harness.mjs';

export const SOUNDFONT = process.env.TUNEWICK_SOUNDFONT || '/usr/share/sounds/sf2/TimGM6mb.sf2';
const STEEL_GUITAR = 25;   // GM program 26, counted from 0

const varLength = (value) => {
  const out = [value & 0x7f];
  for (let v = value >> 7; v; v >>= 7) out.unshift((v & 0x7f) | 0x80);
  return Buffer.from(out);
};

/**
 * A standard MIDI file of strums: [{ time (s), midis (low string first), spreadMs, length
 * (s) }]; one tick is one millisecond.
 */
function midiFile(strums) {
  const events = [{ ms: 0, order: 0, bytes: [0xff, 0x51, 0x03, 0x0f, 0x42, 0x40] }, { ms: 0, order: 0, bytes: [0xc0, STEEL_GUITAR] }];
  for (const { time, midis, spreadMs = 15, length = 1.2, velocity = 100 } of strums) {
    midis.forEach((midi, i) => {
      const on = Math.round(time * 1000 + i * spreadMs);
      events.push({ ms: on, order: 2, bytes: [0x90, midi, velocity] });
      events.push({ ms: Math.round(time * 1000 + length * 1000), order: 1, bytes: [0x80, midi, 0] });
    });
  }
  events.sort((a, b) => a.ms - b.ms || a.order - b.order);
  const chunks = [];
  let last = 0;
  for (const e of events) {
    chunks.push(varLength(e.ms - last), Buffer.from(e.bytes));
    last = e.ms;
  }
  chunks.push(varLength(1000), Buffer.from([0xff, 0x2f, 0x00]));
  const track = Buffer.concat(chunks);
  const header = Buffer.alloc(14);
  header.write('MThd', 0, 'ascii');
  header.writeUInt32BE(6, 4);
  header.writeUInt16BE(0, 8);
  header.writeUInt16BE(1, 10);
  header.writeUInt16BE(1000, 12);
  const trackHeader = Buffer.alloc(8);
  trackHeader.write('MTrk', 0, 'ascii');
  trackHeader.writeUInt32BE(track.length, 4);
  return Buffer.concat([header, trackHeader, track]);
}

/**
 * Renders strums into `file` (mono, 16-bit, `rate` Hz), `seconds` long; the rendered
 * stereo is mixed down so the host hears one channel whatever it does with two.
 */
export function renderStrums(file, strums, seconds, rate = 22050) {
  const dir = path.dirname(file);
  const mid = path.join(dir, 'strums.mid');
  const raw = path.join(dir, 'strums.raw.wav');
  fs.writeFileSync(mid, midiFile(strums));
  execFileSync('fluidsynth', ['-ni', '-q', '-R', '0', '-C', '0', '-g', '0.6', '-r', String(rate), '-F', raw, SOUNDFONT, mid], { stdio: 'ignore' });
  const wav = readWav(raw);
  const frames = Math.round(seconds * rate);
  const out = Buffer.alloc(44 + frames * 2);
  const available = wav.data.length / (2 * wav.channels);
  for (let i = 0; i < frames && i < available; i += 1) {
    let sum = 0;
    for (let c = 0; c < wav.channels; c += 1) sum += wav.data.readInt16LE((i * wav.channels + c) * 2);
    out.writeInt16LE(Math.round(sum / wav.channels), 44 + i * 2);
  }
  out.write('RIFF', 0, 'ascii');
  out.writeUInt32LE(36 + frames * 2, 4);
  out.write('WAVEfmt ', 8, 'ascii');
  out.writeUInt32LE(16, 16);
  out.writeUInt16LE(1, 20);
  out.writeUInt16LE(1, 22);
  out.writeUInt32LE(rate, 24);
  out.writeUInt32LE(rate * 2, 28);
  out.writeUInt16LE(2, 32);
  out.writeUInt16LE(16, 34);
  out.write('data', 36, 'ascii');
  out.writeUInt32LE(frames * 2, 40);
  fs.rmSync(mid);
  fs.rmSync(raw);
  fs.writeFileSync(file, out);
  return file;
}
