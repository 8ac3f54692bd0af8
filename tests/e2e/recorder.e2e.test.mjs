// The recorder page: a recording made through the host, checked as a WAV file, and the
// picture of the take with the notes that were played.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startHost, openPlayer, currentMovie, readWav, screenshot, waitUntil, unnamedControls, pluck, noteHz } from './harness.mjs';

// A2 in tune, C3 in tune, E3 15 cents sharp, G3 10 cents flat.
const NOTES = [45, 48, 52, 55];
const NAMES = ['A2', 'C3', 'E3', 'G3'];
const CENTS = [0, 0, 15, -10];
let host;
let player;
let recorder;

before(async () => {
  // A little over half a second each, over and over.
  host = await startHost({ segments: NOTES.map((midi, i) => pluck(noteHz(midi, CENTS[i]), 0.6, 0.4)) });
  player = await openPlayer(host.url);
  const menu = await currentMovie(player.page, 'Menu.html');
  await menu.click('#go-recorder');
  recorder = await currentMovie(player.page, 'Recorder.html');
});

after(async () => {
  if (player) await player.close();
  if (host) await host.stop();
});

const deck = () => recorder.evaluate(() => ({
  state: document.getElementById('deck').dataset.state,
  clock: document.getElementById('clock').textContent,
  record: !document.getElementById('record').disabled,
  stop: !document.getElementById('stop').disabled,
  play: !document.getElementById('play').disabled,
}));

const seconds = (clock) => {
  const [m, s] = clock.split(':');
  return Number(m) * 60 + Number(s);
};

// A finished recording: header, "fact" and "data" chunks in the recorder's format, and
// sizes that agree with the file.
function checkRecording(file, atLeastSeconds) {
  const wav = readWav(file);
  assert.deepEqual(wav.chunks, ['fmt ', 'fact', 'data']);
  assert.equal(wav.fmtSize, 16);
  assert.deepEqual(
    [wav.formatTag, wav.channels, wav.sampleRate, wav.byteRate, wav.blockAlign, wav.bitsPerSample],
    [1, 1, 44100, 44100, 1, 8]);
  assert.equal(wav.factCount, 0, 'a finished file counts 0 in its "fact" chunk');
  assert.equal(wav.fileSize, 56 + wav.dataSize + (wav.dataSize % 2), 'the data size is written');
  assert.equal(wav.riffSize, wav.fileSize - 8, 'the RIFF size is written');
  assert.equal(wav.data.length, wav.dataSize);
  assert.ok(wav.dataSize >= atLeastSeconds * 44100, `at least ${atLeastSeconds} s recorded (${wav.dataSize} bytes)`);
  return wav;
}

test('record, stop and play: the clock runs while recording and the file is a complete WAV', async () => {
  assert.deepEqual(await deck(), { state: 'idle', clock: '00:00.0', record: true, stop: false, play: true });
  await recorder.click('#record');
  const running = await waitUntil(async () => {
    const now = await deck();
    return now.state === 'recording' && seconds(now.clock) >= 3 ? now : null;
  }, 'three seconds of recording', 15000);
  assert.equal(running.record, false);
  assert.equal(running.stop, true);
  assert.equal(running.play, false);

  await recorder.click('#stop');
  const saved = await waitUntil(async () => {
    const now = await deck();
    return now.state === 'saved' ? now : null;
  }, 'the recording to be saved');
  assert.ok(seconds(saved.clock) >= 3);
  const wav = checkRecording(host.file('data', 'sound', 'recording.wav'), 1);
  // The string was heard: the samples move away from silence (128) both ways.
  let low = 0;
  let high = 0;
  for (const b of wav.data) {
    if (b < 118) low += 1;
    if (b > 138) high += 1;
  }
  assert.ok(low > 1000 && high > 1000, `the recording carries the sound (${low} low, ${high} high)`);

  // The take's picture: its notes follow the input's order, each with its cents.
  const take = await waitUntil(() => recorder.evaluate(() => {
    const t = document.getElementById('take');
    return t.dataset.state === 'shown' ? { notes: t.dataset.notes.split(' '), cents: t.dataset.cents.split(' ').map(Number) } : null;
  }), 'the take to be drawn', 20000);
  assert.ok(take.notes.length >= 3, `several notes in the take (${take.notes.join(' ')})`);
  const first = NAMES.indexOf(take.notes[0]);
  assert.ok(first >= 0, `the first note is one that was played (${take.notes[0]})`);
  take.notes.forEach((note, i) => assert.equal(note, NAMES[(first + i) % NAMES.length], `note ${i} of ${take.notes.join(' ')}`));
  take.notes.forEach((note, i) => {
    const expected = CENTS[NAMES.indexOf(note)];
    assert.ok(Math.abs(take.cents[i] - expected) <= 3, `${note} shows ${expected} cents (${take.cents[i]})`);
  });
  const summary = await recorder.textContent('#take-summary');
  assert.match(summary, new RegExp(`^${take.notes.length} notes in \\d+\\.\\d s`));

  await recorder.click('#play');
  await waitUntil(async () => (await deck()).state === 'playing', 'playback to show');
  // The cursor walks over the picture while the take plays.
  const cursorAt = () => recorder.evaluate(() => Number(document.getElementById('take').dataset.cursor || 0));
  const early = await waitUntil(async () => { const t = await cursorAt(); return t > 0 ? t : null; }, 'the cursor to move');
  const later = await waitUntil(async () => { const t = await cursorAt(); return t > early + 0.3 ? t : null; }, 'the cursor to move on');
  assert.ok(later > early);
  assert.equal(await recorder.evaluate(() => getComputedStyle(document.getElementById('cursor')).display), 'block');
  await screenshot(player.page, 'Recorder');
  assert.deepEqual(await unnamedControls(recorder), [], 'every control has an accessible name');
  assert.ok(host.running, 'playing back keeps the host running');
});

test('exit while recording ends the host cleanly and finishes the file', async () => {
  await waitUntil(async () => (await deck()).record, 'the record button');
  await recorder.click('#record');
  // A new take starts from zero, not from the last take's time.
  assert.ok(seconds((await deck()).clock) < 1, 'the clock starts again from zero');
  await waitUntil(async () => {
    const now = await deck();
    return now.state === 'recording' && seconds(now.clock) >= 1;
  }, 'a second of recording');
  await recorder.evaluate(() => { ExternalInterface.call('exit'); });
  const { code, signal } = await host.exited;
  assert.equal(signal, null);
  assert.equal(code, 0, host.stderr);
  checkRecording(host.file('data', 'sound', 'recording.wav'), 0.8);
  await waitUntil(() => player.page.locator('#ended').isVisible(), 'the player to say the program has ended');
  assert.deepEqual(player.errors, []);
});
