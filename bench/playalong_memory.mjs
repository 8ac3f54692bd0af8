// Whether memory stays flat over repeated play-along runs of one song: the host's resident
// memory, the page's JavaScript heap after a garbage collection, and the page's element count,
// after each of RUNS judged runs (default 10) of the C major scale lesson at 150 %. The host
// hears silence, so every event is judged "missed": the judge, the marks and the results all
// work through every run. Prints one line per run and the growth from the second run to the
// last (the first run warms up alphaTab's synthesizer and the host's listening).
//
//   TUNEWICK_BIN=build/default/bin/tunewick node bench/playalong_memory.mjs [RUNS]
//
// Uses the end-to-end harness (playwright-core from tests/e2e, Debian's Chromium).
import fs from 'node:fs';
import path from 'node:path';
import { startHost, openPlayer, currentMovie, waitUntil } from '../tests/e2e/harness.mjs';

const runs = Number(process.argv[2] || 10);
const LESSON = 12; // C major scale, up and down: 17 notes, 9 s at full speed
if (process.env.TUNEWICK_BIN) process.env.TUNEWICK_BIN = path.resolve(process.env.TUNEWICK_BIN);

const residentKiB = (pid) => Number(/VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'))[1]);

const host = await startHost({ segments: [{ seconds: 30 * runs + 60, partials: [] }] });
const player = await openPlayer(host.url);
try {
  const cdp = await player.page.context().newCDPSession(player.page);
  const menu = await currentMovie(player.page, 'Menu.html');
  await menu.click('#go-songs');
  const frame = await currentMovie(player.page, 'Songs.html', 30000);
  await waitUntil(() => frame.evaluate((n) => document.querySelectorAll('#lessons button').length >= n, LESSON), 'the lessons');
  await frame.click(`#lessons li:nth-child(${LESSON}) button`);
  await waitUntil(() => frame.evaluate(() => !document.getElementById('practice').disabled), 'ready to play along', 30000);
  await frame.fill('#speed', '150');
  await frame.dispatchEvent('#speed', 'input');
  const rows = [];
  for (let i = 1; i <= runs; i += 1) {
    await frame.click('#practice');
    await waitUntil(() => frame.evaluate(() => document.getElementById('results').open), `run ${i} over`, 60000);
    const marks = await frame.evaluate(() => document.querySelectorAll('#marks .mark').length);
    await frame.click('#r-close');
    await cdp.send('HeapProfiler.collectGarbage');
    const heap = await cdp.send('Runtime.getHeapUsage');
    const elements = await frame.evaluate(() => document.getElementsByTagName('*').length);
    const row = { run: i, hostKiB: residentKiB(host.proc.pid), heapKiB: Math.round(heap.usedSize / 1024), elements, marks };
    rows.push(row);
    console.log(`run ${i}: host ${row.hostKiB} KiB, page heap ${row.heapKiB} KiB, ${elements} elements, ${marks} marks`);
  }
  if (rows.length >= 3) {
    const [second, last] = [rows[1], rows.at(-1)];
    console.log(`growth from run 2 to run ${runs}: host ${last.hostKiB - second.hostKiB} KiB, ` +
      `page heap ${last.heapKiB - second.heapKiB} KiB, ${last.elements - second.elements} elements`);
  }
  if (player.errors.length) console.log('page errors:', player.errors.join('\n'));
} finally {
  await player.close();
  await host.stop();
}
