// What the end-to-end tests share: a synthetic microphone (WAV files written here), the
// host started in a folder of its own, and the player opened in headless Chromium.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

let chromium;
try {
  ({ chromium } = await import('playwright-core'));
} catch (e) {
  throw new Error('playwright-core is missing: run scripts/setup (npm ci in tests/e2e) first');
}

const here = path.dirname(fileURLToPath(import.meta.url));
export const CHROMIUM = process.env.TUNEWICK_CHROMIUM || '/usr/bin/chromium';
const STARTUP_TIMEOUT_MS = 30000;

export function hostBinary() {
  const bin = process.env.TUNEWICK_BIN;
  if (!bin) throw new Error('TUNEWICK_BIN must name the tunewick program (ctest sets it)');
  return bin;
}

/** Polls fn until it returns something truthy; fails with message after timeoutMs. */
export async function waitUntil(fn, message, timeoutMs = 15000, everyMs = 50) {
  const deadline = Date.now() + timeoutMs;
  let last;
  for (;;) {
    try {
      last = await fn();
      if (last) return last;
    } catch (e) {
      last = e;
    }
    if (Date.now() > deadline) throw new Error(`timed out: ${message} (last: ${last instanceof Error ? last.message : JSON.stringify(last)})`);
    await new Promise((r) => setTimeout(r, everyMs));
  }
}

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

/**
 * Writes a mono 16-bit PCM WAV file. segments: [{ seconds, partials: [[hz, amplitude], …],
 * decay }], played one after the other (an empty partials list is silence). With `decay`
 * (seconds) the segment dies away like a plucked string. Whole periods in each segment keep
 * the loop free of clicks.
 */
export function writeWav(file, segments, rate = 8000) {
  const samples = [];
  for (const { seconds, partials, decay } of segments) {
    const n = Math.round(seconds * rate);
    for (let i = 0; i < n; i += 1) {
      let v = 0;
      const envelope = decay ? Math.exp(-i / rate / decay) : 1;
      for (const [hz, amplitude] of partials) v += envelope * amplitude * Math.sin((2 * Math.PI * hz * i) / rate);
      samples.push(Math.max(-32768, Math.min(32767, Math.round(v * 32767))));
    }
  }
  const dataBytes = samples.length * 2;
  const buf = Buffer.alloc(44 + dataBytes);
  buf.write('RIFF', 0, 'ascii');
  buf.writeUInt32LE(36 + dataBytes, 4);
  buf.write('WAVE', 8, 'ascii');
  buf.write('fmt ', 12, 'ascii');
  buf.writeUInt32LE(16, 16);
  buf.writeUInt16LE(1, 20); // PCM
  buf.writeUInt16LE(1, 22); // mono
  buf.writeUInt32LE(rate, 24);
  buf.writeUInt32LE(rate * 2, 28);
  buf.writeUInt16LE(2, 32);
  buf.writeUInt16LE(16, 34);
  buf.write('data', 36, 'ascii');
  buf.writeUInt32LE(dataBytes, 40);
  samples.forEach((s, i) => buf.writeInt16LE(s, 44 + i * 2));
  fs.writeFileSync(file, buf);
  return file;
}

/** A plucked-string-like tone: the fundamental with two weaker harmonics. */
export const stringTone = (hz, level = 0.1) => [[hz, level], [2 * hz, level / 2], [3 * hz, level / 4]];

/** The frequency of a MIDI note (A4 = 69) at a reference pitch, moved by `cents`. */
export const noteHz = (midi, cents = 0, reference = 440) => reference * Math.pow(2, (midi - 69) / 12 + cents / 1200);

/** A plucked string: a richer tone that dies away over the segment. */
export const pluck = (hz, seconds, level = 0.3) => ({
  seconds,
  decay: seconds / 1.5,
  partials: [[hz, level], [2 * hz, level * 0.6], [3 * hz, level * 0.35], [4 * hz, level * 0.2], [5 * hz, level * 0.1]],
});

export const silence = (seconds) => ({ seconds, partials: [] });

/**
 * Reads a RIFF WAVE file chunk by chunk: the RIFF size, the chunks in their order, the
 * "fmt " fields, the "fact" count and the "data" bytes. Throws on a file that is no RIFF.
 */
export function readWav(file) {
  const buf = fs.readFileSync(file);
  const ascii = (at, n) => buf.toString('ascii', at, at + n);
  if (buf.length < 12 || ascii(0, 4) !== 'RIFF' || ascii(8, 4) !== 'WAVE') throw new Error(`${file} is no RIFF WAVE file`);
  const wav = { fileSize: buf.length, riffSize: buf.readUInt32LE(4), chunks: [] };
  for (let at = 12; at + 8 <= buf.length;) {
    const id = ascii(at, 4);
    const size = buf.readUInt32LE(at + 4);
    wav.chunks.push(id);
    const body = buf.subarray(at + 8, Math.min(buf.length, at + 8 + size));
    if (id === 'fmt ') {
      wav.fmtSize = size;
      wav.formatTag = body.readUInt16LE(0);
      wav.channels = body.readUInt16LE(2);
      wav.sampleRate = body.readUInt32LE(4);
      wav.byteRate = body.readUInt32LE(8);
      wav.blockAlign = body.readUInt16LE(12);
      wav.bitsPerSample = body.readUInt16LE(14);
    } else if (id === 'fact') {
      wav.factCount = body.readUInt32LE(0);
    } else if (id === 'data') {
      wav.dataSize = size;
      wav.data = body;
    }
    at += 8 + size + (size % 2); // chunks are padded to an even length
  }
  return wav;
}

/**
 * Starts the host in a fresh folder (with data/sound made) with a WAV file as its
 * microphone, with the movies of the folder `movies` and the songs of the folder `songs` when
 * they are given. Its settings live in `configHome` (XDG_CONFIG_HOME) and its practice history
 * in `dataHome` (XDG_DATA_HOME), by default folders inside the host's own, so no test touches
 * the user's; `env` replaces the environment it inherits (a sound server's, say). `inputFile`,
 * when given, is the microphone instead of `segments` (copied into the folder); with neither,
 * the host listens to the default input device (a sound server's, given with `env`).
 * Resolves once it has printed its address.
 */
export async function startHost({ segments, inputFile, movies, songs, configHome, dataHome, env, rate = 8000 }) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tunewick-e2e-'));
  fs.mkdirSync(path.join(dir, 'data', 'sound'), { recursive: true });
  const args = ['--no-browser', '--port', '0'];
  if (inputFile || segments) {
    const input = path.join(dir, 'input.wav');
    if (inputFile) fs.copyFileSync(inputFile, input);
    else writeWav(input, segments, rate);
    args.push('--input', input);
  }
  if (movies) args.push('--movies', movies);
  if (songs) args.push('--songs', songs);
  const proc = spawn(hostBinary(), args, {
    cwd: dir,
    env: { ...(env || process.env), XDG_CONFIG_HOME: configHome || path.join(dir, 'config'),
      XDG_DATA_HOME: dataHome || path.join(dir, 'share') },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  let stdout = '';
  let stderr = '';
  proc.stdout.on('data', (d) => { stdout += d; });
  proc.stderr.on('data', (d) => { stderr += d; });
  const exited = new Promise((resolve) => {
    proc.on('exit', (code, signal) => resolve({ code, signal }));
  });
  let running = true;
  exited.then(() => { running = false; });
  const url = await waitUntil(() => {
    if (!running) throw new Error(`the host ended before it printed its address:\n${stderr}`);
    const m = /Tunewick is running at (http:\/\/127\.0\.0\.1:\d+\/\?token=[0-9a-f]{32})/.exec(stdout);
    return m && m[1];
  }, 'the host to print its address', STARTUP_TIMEOUT_MS);
  return {
    url,
    dir,
    proc,
    exited,
    get running() { return running; },
    get stderr() { return stderr; },
    file: (...parts) => path.join(dir, ...parts),
    async stop() {
      if (running) {
        proc.kill('SIGTERM');
        const timer = setTimeout(() => proc.kill('SIGKILL'), 10000);
        await exited;
        clearTimeout(timer);
      }
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
}

/**
 * Opens the player at url in headless Chromium with a profile of its own. `env` replaces the
 * environment Chromium inherits (a sound server's, say); with `audible` the pages' sound is
 * played instead of muted.
 */
export async function openPlayer(url, viewport = { width: 1024, height: 768 }, { env, audible = false } = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tunewick-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    viewport,
    ...(env ? { env } : {}),
    ...(audible ? { ignoreDefaultArgs: ['--mute-audio'] } : {}),
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  const page = context.pages()[0] || (await context.newPage());
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  await page.goto(url);
  return {
    page,
    errors,
    async close() {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

/** Keeps every verdict the host sends `frame` in its window.heard, changing nothing. */
export function watchVerdicts(frame) {
  return frame.evaluate(() => {
    window.heard = [];
    const bridge = window.top.tunewickBridge;
    const shown = bridge.lookup('setVerdict');
    bridge.register('setVerdict', (v) => {
      window.heard.push(v);
      return shown(v);
    }, { window });
  });
}

/** The start movie's frame. */
export function loaderFrame(page) {
  return page.frames().find((f) => /\/movies\/Loader\.html$/.test(f.url())) || null;
}

/** The page movie shown inside the start movie, once it is NAME and ready (history known). */
export async function currentMovie(page, name, timeoutMs = 15000) {
  return waitUntil(async () => {
    const loader = loaderFrame(page);
    const frame = loader && loader.childFrames()[0];
    if (!frame || !frame.url().endsWith('/movies/' + name)) return null;
    const ready = await frame.evaluate(() => document.readyState === 'complete' && document.body.dataset.history !== undefined);
    return ready ? frame : null;
  }, `the ${name} page to be shown`, timeoutMs);
}

/** The two history buttons of a page: which are enabled. */
export async function historyButtons(frame) {
  return frame.evaluate(() => ({
    back: !document.querySelector('.nav-back').disabled,
    forward: !document.querySelector('.nav-forward').disabled,
  }));
}

/**
 * The controls of a page (buttons, selects, inputs, spin buttons) that have no accessible
 * name: no aria-label, no aria-labelledby text, no <label>, no text and no title.
 */
export async function unnamedControls(frame) {
  return frame.evaluate(() => {
    const nameOf = (el) => {
      const label = el.getAttribute('aria-label');
      if (label && label.trim()) return label;
      const by = el.getAttribute('aria-labelledby');
      if (by) {
        const text = by.split(/\s+/).map((id) => document.getElementById(id)?.textContent || '').join(' ');
        if (text.trim()) return text;
      }
      if (el.labels && [...el.labels].some((l) => l.textContent.trim())) return 'label';
      return (el.textContent || '').trim() || (el.getAttribute('title') || '').trim();
    };
    return [...document.querySelectorAll('button, select, input, [role="spinbutton"], [role="slider"]')]
      .filter((el) => !nameOf(el))
      .map((el) => el.outerHTML.slice(0, 80));
  });
}

/** Saves a screenshot of the whole player when TUNEWICK_SCREENSHOTS names a folder. */
export async function screenshot(page, name) {
  const folder = process.env.TUNEWICK_SCREENSHOTS;
  if (!folder) return;
  fs.mkdirSync(folder, { recursive: true });
  await page.screenshot({ path: path.join(folder, name + '.png') });
}

export const e2eDir = here;
