// Transcribes a 22050 Hz mono 16-bit WAV with Spotify's basic-pitch (the model its npm package
// ships, run on tfjs's CPU backend) and prints one JSON line per note: {"start": s, "midi": n}.
//     node basic_pitch.mjs FILE.wav [MAX_SECONDS]
// Needs `npm ci` in this folder (package.json pins the version).
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const tf = require('@tensorflow/tfjs');
const { BasicPitch, outputToNotesPoly, noteFramesToTime } = require('@spotify/basic-pitch');

function readWav(file) {
  const b = fs.readFileSync(file);
  if (b.toString('ascii', 0, 4) !== 'RIFF' || b.toString('ascii', 8, 12) !== 'WAVE') throw new Error(`${file}: not a WAV file`);
  let at = 12, rate = 0, channels = 0, bits = 0;
  while (at + 8 <= b.length) {
    const id = b.toString('ascii', at, at + 4), size = b.readUInt32LE(at + 4);
    if (id === 'fmt ') { channels = b.readUInt16LE(at + 10); rate = b.readUInt32LE(at + 12); bits = b.readUInt16LE(at + 22); }
    if (id === 'data') {
      if (bits !== 16 || rate !== 22050) throw new Error(`${file}: needs 16-bit 22050 Hz, has ${bits}-bit ${rate} Hz`);
      const frames = Math.floor(size / (2 * channels)), out = new Float32Array(frames);
      for (let i = 0; i < frames; ++i) {
        let sum = 0;
        for (let c = 0; c < channels; ++c) sum += b.readInt16LE(at + 8 + 2 * (i * channels + c));
        out[i] = sum / channels / 32768;
      }
      return out;
    }
    at += 8 + size + (size & 1);
  }
  throw new Error(`${file}: no data chunk`);
}

const [file, maxSeconds] = process.argv.slice(2);
let audio = readWav(file);
if (maxSeconds) audio = audio.subarray(0, Math.floor(Number(maxSeconds) * 22050));
const modelDir = path.join(path.dirname(require.resolve('@spotify/basic-pitch/package.json')), 'model');
const json = JSON.parse(fs.readFileSync(path.join(modelDir, 'model.json'), 'utf8'));
const weights = Buffer.concat(json.weightsManifest[0].paths.map((p) => fs.readFileSync(path.join(modelDir, p))));
const model = await tf.loadGraphModel(tf.io.fromMemory({
  modelTopology: json.modelTopology, format: json.format, generatedBy: json.generatedBy,
  convertedBy: json.convertedBy, weightSpecs: json.weightsManifest[0].weights,
  weightData: weights.buffer.slice(weights.byteOffset, weights.byteOffset + weights.byteLength),
}));
const frames = [], onsets = [];
await new BasicPitch(model).evaluateModel(audio, (f, o) => { frames.push(...f); onsets.push(...o); }, () => {});
for (const note of noteFramesToTime(outputToNotesPoly(frames, onsets, 0.5, 0.3, 5))) {
  console.log(JSON.stringify({ start: note.startTimeSeconds, midi: note.pitchMidi }));
}
