// The round trip of a synchronous call from a SWF movie to the host: ExternalInterface.call
// in the movie, the player's global function, the POST to /call, the command on the dialog's
// thread and the value back into the movie. Times CALLS calls (default 300) of
// "getHistoryInfo" made by a movie in Ruffle and prints the median, p95, mean and max.
//
//   TUNEWICK_BIN=build/default/bin/tunewick TUNEWICK_SWF_MOVIES=build/default/swf-movies \
//     node bench/swf_call.mjs [CALLS]
//
// Uses the end-to-end harness (playwright-core from tests/e2e, Debian's Chromium).
import path from 'node:path';
import { startHost, openPlayer, waitUntil } from '../tests/e2e/harness.mjs';

const calls = Number(process.argv[2] || 300);
if (!process.env.TUNEWICK_SWF_MOVIES) throw new Error('TUNEWICK_SWF_MOVIES must name the folder of the built SWF test movies');
// The host runs in a folder of its own: paths given relative to here must still hold.
const movies = path.resolve(process.env.TUNEWICK_SWF_MOVIES);
if (process.env.TUNEWICK_BIN) process.env.TUNEWICK_BIN = path.resolve(process.env.TUNEWICK_BIN);

const host = await startHost({ segments: [{ seconds: 1, partials: [] }], movies });
const player = await openPlayer(host.url);
try {
  const started = Date.now();
  await waitUntil(() => player.page.evaluate(() => {
    const element = document.getElementById('swf');
    return element && typeof element.report === 'function';
  }), 'the first SWF page', 60000);
  const coldStart = Date.now() - started;
  // Each sample: one call made by the movie, timed around the movie's callback in the page.
  const samples = await player.page.evaluate((n) => {
    const element = document.getElementById('swf');
    for (let i = 0; i < 20; i += 1) element.callHost('getHistoryInfo', []); // warm up
    const times = [];
    for (let i = 0; i < n; i += 1) {
      const t0 = performance.now();
      const value = element.callHost('getHistoryInfo', []);
      times.push(performance.now() - t0);
      if (!value || value.canGoBack !== false) throw new Error('wrong answer: ' + JSON.stringify(value));
    }
    return times;
  }, calls);
  samples.sort((a, b) => a - b);
  const at = (q) => samples[Math.min(samples.length - 1, Math.ceil(q * samples.length) - 1)];
  const mean = samples.reduce((a, b) => a + b, 0) / samples.length;
  console.log(`swf_call: ${samples.length} synchronous calls from a movie (getHistoryInfo)`);
  console.log(`  median ${at(0.5).toFixed(2)} ms   p95 ${at(0.95).toFixed(2)} ms   mean ${mean.toFixed(2)} ms   max ${samples[samples.length - 1].toFixed(2)} ms`);
  console.log(`  player opened to the first page's callbacks: ${coldStart} ms`);
} finally {
  await player.close();
  await host.stop();
}
