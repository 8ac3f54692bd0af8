// How long the Songs page takes to show a 200-bar song: from handing alphaTab the song to its
// last rendered part ("renderFinished"), in headless Chromium against the real host. The song
// is alphaTex made here: single notes, chords and rests over six strings, four beats a bar.
// Runs RUNS times (default 5) in one page and prints each time, the median and the max; the
// target is at most 2 s.
//
//   TUNEWICK_BIN=build/default/bin/tunewick node bench/songs_render.mjs [RUNS] [BARS]
//
// Uses the end-to-end harness (playwright-core from tests/e2e, Debian's Chromium).
import path from 'node:path';
import { startHost, openPlayer, currentMovie, waitUntil } from '../tests/e2e/harness.mjs';

const runs = Number(process.argv[2] || 5);
const barCount = Number(process.argv[3] || 200);
if (process.env.TUNEWICK_BIN) process.env.TUNEWICK_BIN = path.resolve(process.env.TUNEWICK_BIN);

function song(bars) {
  const shapes = ['(3.1 0.2 0.3 0.4 2.5 3.6)', '(0.1 1.2 0.3 2.4 3.5)', '(2.1 3.2 2.3 0.4)', '(0.1 1.2 2.3 2.4 0.5)'];
  const out = ['\\title "Two hundred bars" \\tempo 100 \\track "Guitar" \\instrument 25 .'];
  for (let b = 0; b < bars; b += 1) {
    const chord = shapes[b % shapes.length];
    switch (b % 4) {
      case 0: out.push(`:4 ${chord} ${chord} :8 ${chord} ${chord} ${chord} r |`); break;
      case 1: out.push(`:8 ${(b % 5)}.6 ${(b % 3) + 2}.5 ${(b % 4)}.4 2.3 0.2 1.2 3.1 0.1 |`); break;
      case 2: out.push(`:16 0.1 1.1 3.1 1.1 0.2 1.2 3.2 1.2 0.3 2.3 0.3 2.3 0.4 2.4 3.4 2.4 |`); break;
      default: out.push(`:2 ${chord} :4 r ${(b % 7)}.5 |`);
    }
  }
  return out.join('\n');
}

const host = await startHost({ segments: [{ seconds: 1, partials: [] }] });
const player = await openPlayer(host.url);
try {
  const menu = await currentMovie(player.page, 'Menu.html');
  await menu.click('#go-songs');
  const frame = await currentMovie(player.page, 'Songs.html', 30000);
  // The first score warms alphaTab up (fonts, workers), as opening the page does for a player.
  await frame.click('#lessons li:nth-child(1) button');
  await waitUntil(() => frame.evaluate(() => !!document.body.dataset.rendered), 'the first lesson rendered', 30000);
  const tex = song(barCount);
  const times = [];
  for (let i = 0; i < runs; i += 1) {
    const ms = await frame.evaluate((text) => new Promise((resolve) => {
      const api = window.songsApi;
      let started = 0;
      const done = () => {
        api.renderFinished.off(done);
        resolve(performance.now() - started);
      };
      api.renderFinished.on(done);
      started = performance.now();
      api.tex(text);
    }), tex);
    const bars = await frame.evaluate(() => window.songsApi.score.masterBars.length);
    if (bars !== barCount) throw new Error(`rendered ${bars} bars, not ${barCount}`);
    times.push(ms);
  }
  const sorted = [...times].sort((a, b) => a - b);
  const median = sorted[Math.floor(sorted.length / 2)];
  console.log(`${barCount} bars, ${runs} runs (ms): ${times.map((t) => t.toFixed(0)).join(' ')}`);
  console.log(`median ${median.toFixed(0)} ms, max ${sorted.at(-1).toFixed(0)} ms (target <= 2000 ms)`);
  if (player.errors.length) console.log('page errors:', player.errors.join('\n'));
} finally {
  await player.close();
  await host.stop();
}
