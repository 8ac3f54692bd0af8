import { startHost, openPlayer, currentMovie, waitUntil, sleep } from './harness.mjs';
import { startPulse } from './pulse.mjs';
const pulse = await startPulse({ monitorAsMicrophone: true });
const host = await startHost({ env: pulse.env });
const player = await openPlayer(host.url, undefined, { env: pulse.env, audible: true });
try {
  const menu = await currentMovie(player.page, 'Menu.html');
  await menu.click('#go-songs');
  const s = await currentMovie(player.page, 'Songs.html');
  await waitUntil(() => s.evaluate(() => document.querySelectorAll('#lessons button').length >= 24), 'lessons');
  console.log(await s.evaluate(() => JSON.stringify(Object.keys(window.songsApi.player.output))));
  await s.evaluate(() => { window.heard = []; const b = window.top.tunewickBridge; const shown = b.lookup('setVerdict'); b.register('setVerdict', (v) => { window.heard.push(v); return shown(v); }, { window });
    const out = window.songsApi.player.output; window.starved = []; window.maps = [];
    const ctx = out.context;
    setInterval(() => { const t = ctx.getOutputTimestamp(); window.maps.push(Math.round(t.performanceTime - t.contextTime * 1000)); }, 20);
    const hook = () => { const w = Object.values(out).find((v) => v && v.port && v.port.postMessage); if (w && !w.__hooked) { w.__hooked = true; w.port.addEventListener('message', (e) => { if (e.data.cmd === 'alphaSynth.output.samplesPlayed' && e.data.samples < 128) window.starved.push([Math.round(performance.now()), e.data.samples]); }); } };
    setInterval(hook, 5);
  });
  await s.click('#lessons li:nth-child(11) button');
  await waitUntil(() => s.evaluate(() => !document.getElementById('practice').disabled), 'ready', 30000);
  for (let i = 0; i < 4; i++) {
    await s.evaluate(() => { window.starved = []; window.maps = []; });
    await s.click('#practice');
    await waitUntil(() => s.evaluate(() => document.getElementById('results').open), 'over', 60000);
    await s.click('#r-close');
    const r = await s.evaluate(() => ({ v: window.heard.splice(0).map((x) => x.offset), st: window.starved.length, st0: window.starved.slice(0, 3), maps: window.maps.filter((x, i, a) => i === 0 || Math.abs(x - a[i - 1]) > 3) }));
    console.log(JSON.stringify(r));
  }
} finally { await player.close(); await host.stop(); pulse.stop(); }
