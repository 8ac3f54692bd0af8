// A private PulseAudio server for an end-to-end test: a null sink that is the default, and a
// listener on its monitor that keeps everything played there in a raw file (8 kHz, unsigned
// 8-bit). The host started with `env` plays into it. With `monitorAsMicrophone` the sink's
// monitor is also the default input, so a program started with `env` hears as its microphone
// whatever is played there. Nothing of the machine's own sound configuration is used or
// changed. Where no server can start, startPulse answers null.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { waitUntil } from './harness.mjs';

const SINK = 'tunewick_e2e';
const RATE = 8000;

function onPath(tool) {
  return spawnSync('sh', ['-c', `command -v ${tool}`]).status === 0;
}

export async function startPulse({ monitorAsMicrophone = false } = {}) {
  if (!['pulseaudio', 'pactl', 'parec'].every(onPath)) return null;
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tunewick-pulse-'));
  for (const sub of ['home', 'run/pulse', 'state']) fs.mkdirSync(path.join(dir, sub), { recursive: true });
  const socket = path.join(dir, 'native');
  fs.writeFileSync(path.join(dir, 'client.conf'), 'autospawn = no\n');
  // Only this server: the host's PortAudio sees it as ALSA's default device.
  fs.writeFileSync(path.join(dir, 'alsa.conf'),
    'pcm.!default { type pulse }\nctl.!default { type pulse }\npcm.pulse { type pulse }\nctl.pulse { type pulse }\n');
  const env = {
    ...process.env,
    HOME: path.join(dir, 'home'),
    XDG_RUNTIME_DIR: path.join(dir, 'run'),
    PULSE_RUNTIME_PATH: path.join(dir, 'run/pulse'),
    PULSE_STATE_PATH: path.join(dir, 'state'),
    PULSE_CLIENTCONFIG: path.join(dir, 'client.conf'),
    PULSE_SERVER: 'unix:' + socket,
    ALSA_CONFIG_PATH: path.join(dir, 'alsa.conf'),
  };
  const log = fs.openSync(path.join(dir, 'server.log'), 'w');
  // With the priority a desktop gives its sound server (a higher one, real-time where the
  // system allows it): on a busy machine a server at a normal priority wakes late, drains the
  // players' short buffers in a rush and leaves them behind, and every note after that is
  // heard late.
  const server = spawn('pulseaudio', ['--daemonize=no', '--exit-idle-time=-1', '--disallow-exit', '-n',
    '--use-pid-file=no', '--high-priority=yes', '--realtime=yes', '--log-target=stderr',
    `--load=module-native-protocol-unix auth-anonymous=1 socket=${socket}`,
    `--load=module-null-sink rate=48000 sink_name=${SINK}`], { env, stdio: ['ignore', 'ignore', log] });
  const pactl = (...args) => spawnSync('pactl', args, { env, encoding: 'utf8', timeout: 10000 });
  const heard = path.join(dir, 'heard.raw');
  let listener = null;
  const stop = () => {
    if (listener) listener.kill('SIGKILL');
    server.kill('SIGKILL');
    fs.rmSync(dir, { recursive: true, force: true });
  };
  try {
    await waitUntil(() => pactl('info').status === 0, 'the sound server to answer', 10000, 50);
    if (pactl('set-default-sink', SINK).status !== 0) throw new Error('no default sink');
    if (monitorAsMicrophone && pactl('set-default-source', `${SINK}.monitor`).status !== 0) throw new Error('no default source');
    // A null sink nobody listens to renders in two-second blocks; a listener attached while it
    // is suspended makes it run in small blocks from the start.
    pactl('suspend-sink', SINK, '1');
    const out = fs.openSync(heard, 'w');
    listener = spawn('parec', ['-d', `${SINK}.monitor`, '--latency-msec=10', `--rate=${RATE}`, '--channels=1',
      '--format=u8', '--raw'], { env, stdio: ['ignore', out, 'ignore'] });
    await waitUntil(() => pactl('list', 'short', 'source-outputs').stdout.trim() !== '', 'the listener to attach', 10000, 50);
    pactl('suspend-sink', SINK, '0');
    await waitUntil(() => fs.statSync(heard).size > 0, 'the monitor to give sound', 10000, 20);
  } catch (e) {
    stop();
    return null;
  }
  return {
    env,
    /** How much has been heard so far, as a mark for heardSince. */
    mark: () => fs.statSync(heard).size,
    /** The samples heard since `mark`, as numbers -1..1. */
    heardSince(mark) {
      const bytes = fs.readFileSync(heard).subarray(mark);
      return Array.from(bytes, (b) => (b - 128) / 128);
    },
    rate: RATE,
    stop,
  };
}

/** The strength of `hz` in `samples` (Goertzel), as an amplitude 0..1. */
export function toneLevel(samples, hz, rate = RATE) {
  const w = (2 * Math.PI * hz) / rate;
  const c = 2 * Math.cos(w);
  let s1 = 0;
  let s2 = 0;
  for (const x of samples) {
    const s0 = x + c * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const power = s1 * s1 + s2 * s2 - c * s1 * s2;
  return (2 * Math.sqrt(Math.max(0, power))) / Math.max(1, samples.length);
}
