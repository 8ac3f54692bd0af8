// The Songs page against the real host: every kind of song file opens (from the songs folder,
// the file chooser and a drop), junk is refused and the page goes on, nothing outside the
// folder can be fetched, and the space bar, the loop and the speed drive alphaTab's player.
// The play-along's side in the page (events sent, verdicts shown, results, speed trainer) is
// checked with the host's judging commands answered in the page.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { startHost, openPlayer, currentMovie, screenshot, waitUntil, sleep } from './harness.mjs';
import { writeSongFolder, musicXml } from './songfiles.mjs';
import { expectAccessible } from './a11y.mjs';

let host;
let player;
let songs;
let files;
let frame;
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tunewick-songs-'));

before(async () => {
  songs = path.join(work, 'songs');
  files = writeSongFolder(songs);
  fs.writeFileSync(path.join(work, 'secret.gp'), 'SECRET-OUTSIDE');
  fs.symlinkSync('../secret.gp', path.join(songs, 'link-out.gp'));
  host = await startHost({ segments: [{ seconds: 1, partials: [] }], songs });
  player = await openPlayer(host.url);
  const menu = await currentMovie(player.page, 'Menu.html');
  await menu.click('#go-songs');
  frame = await currentMovie(player.page, 'Songs.html');
  await waitUntil(() => frame.evaluate(() => document.querySelectorAll('#lessons button').length >= 24), 'the lessons listed');
});

after(async () => {
  if (player) await player.close();
  if (host) await host.stop();
  fs.rmSync(work, { recursive: true, force: true });
});

// alphaTab's MusicXML reader gives titles no-break spaces; words are words here.
const statusText = async () => (await frame.evaluate(() => document.getElementById('status').textContent)).replace(/\s/g, ' ');
const isError = () => frame.evaluate(() => document.getElementById('status').classList.contains('error'));

/** Waits until the page shows a score titled `title`, rendered. */
async function shown(title) {
  await waitUntil(async () => (await statusText()).includes('Opened “' + title + '”'), `“${title}” opened`, 20000);
  await waitUntil(() => frame.evaluate(() => !!document.body.dataset.rendered && window.songsApi.score !== null), 'rendered');
}

async function openFromFolder(file) {
  await frame.click(`#songs button:text-is("${file}")`);
}

test('the songs folder is listed, without what lies outside it', async () => {
  const listed = await frame.evaluate(() => [...document.querySelectorAll('#songs button')].map((b) => b.textContent));
  assert.deepEqual(listed, files.map((f) => f.file).sort());
});

// What the Guitar Pro 3 to 6 files hold, read back: standard tuning (high e first), and the
// riff's MIDI notes beat by beat, up the low strings to an E minor chord.
const RIFF_READ = { tuning: [64, 59, 55, 50, 45, 40], notes: [[40], [43], [45], [47], [50], [52], [55], [40, 47, 52, 55, 59, 64]] };

const shownGuitar = () => frame.evaluate(() => {
  const staff = window.songsApi.score.tracks[0].staves[0];
  return {
    tuning: [...staff.tuning],
    notes: staff.bars.flatMap((bar) => bar.voices[0].beats.map((beat) => beat.notes.map((n) => n.realValue).sort((a, b) => a - b))),
  };
});

test('each kind of song opens from the folder, and junk or a cut file is refused while the page goes on', async () => {
  for (const { file, title } of files.filter((f) => f.title)) {
    await openFromFolder(file);
    await shown(title);
    assert.equal(await isError(), false, file);
    if (/\.gp[345x]$/.test(file)) assert.deepEqual(await shownGuitar(), RIFF_READ, file);
  }
  const refusals = [
    ['junk.gp5', /^“junk\.gp5” cannot be opened: it is not a Guitar Pro .* file .*\(No compatible importer .*\)\. The song shown before is still here\.$/],
    ['cut.gp5', /^“cut\.gp5” cannot be opened: the file is damaged or cut short \(Unexpected end of data.*\)\. The song shown before is still here\.$/],
  ];
  for (const [file, message] of refusals) {
    await openFromFolder(file);
    await waitUntil(async () => (await isError()) && (await statusText()).startsWith(`“${file}”`), `${file} refused`);
    assert.match(await statusText(), message);
    // Still usable: the song before stays.
    assert.equal(await frame.evaluate(() => window.songsApi.score.title.replace(/\s/g, ' ')), 'Packed Xml');
  }
  // And a lesson opens next.
  await frame.click('#lessons li:nth-child(1) button');
  await shown('Open strings: low E and A');
  assert.equal(player.errors.length, 0, player.errors.join('\n'));
});

test('the page, a shown song, a refusal and the results are accessible', async () => {
  await frame.click('#lessons li:nth-child(22) button');
  await shown('Ode to Joy (Beethoven)');
  await expectAccessible(frame, 'songs, a lesson shown');
  await openFromFolder('junk.gp5');
  await waitUntil(isError, 'the junk refused');
  await expectAccessible(frame, 'songs, a file refused');
  await frame.click('#calibrate');
  await expectAccessible(frame, 'songs, latency');
  await frame.click('#calibration button[value="close"]');
});

test('a chosen file and a dropped file open in the page', async () => {
  const chosen = path.join(work, 'chosen.musicxml');
  fs.writeFileSync(chosen, musicXml('Chosen Tune', [['E', 4], ['G', 4], ['A', 4], ['B', 4]]));
  await frame.setInputFiles('#file-input', chosen);
  await shown('Chosen Tune');
  await frame.evaluate(() => {
    const tex = '\\title "Dropped Tune" . :4 0.3 2.3 0.2 1.2 |';
    const data = new DataTransfer();
    data.items.add(new File([tex], 'dropped.atex'));
    document.dispatchEvent(new DragEvent('drop', { dataTransfer: data, bubbles: true, cancelable: true }));
  });
  await shown('Dropped Tune');
  await frame.evaluate(() => {
    const data = new DataTransfer();
    data.items.add(new File(['%PDF-1.4'], 'manual.pdf'));
    document.dispatchEvent(new DragEvent('drop', { dataTransfer: data, bubbles: true, cancelable: true }));
  });
  await waitUntil(isError, 'a PDF refused');
  assert.equal(await frame.evaluate(() => window.songsApi.score.title), 'Dropped Tune');
});

test('nothing outside the songs folder can be fetched, and songs need the token', async () => {
  const results = await frame.evaluate(async () => {
    const token = new URLSearchParams(window.top.location.search).get('token');
    const get = async (url) => {
      const r = await fetch(url);
      return { status: r.status, body: await r.text() };
    };
    return {
      inside: await get('/songs/plain.xml?token=' + token),
      noToken: await get('/songs/plain.xml'),
      dots: await get('/songs/%2e%2e/secret.gp?token=' + token),
      slash: await get('/songs/..%2fsecret.gp?token=' + token),
      link: await get('/songs/link-out.gp?token=' + token),
    };
  });
  assert.equal(results.inside.status, 200);
  assert.match(results.inside.body, /Plain Xml/);
  assert.equal(results.noToken.status, 403);
  for (const key of ['dots', 'slash', 'link']) {
    assert.ok([400, 404].includes(results[key].status), `${key}: ${results[key].status}`);
    assert.ok(!results[key].body.includes('SECRET-OUTSIDE'), key);
  }
});

// The tick alphaTab's player is at, read a few times over `ms`.
async function ticksOver(ms, every = 100) {
  const ticks = [];
  for (let t = 0; t < ms; t += every) {
    ticks.push(await frame.evaluate(() => window.songsApi.tickPosition));
    await sleep(every);
  }
  return ticks;
}

test('the space bar plays and pauses, the speed slows the player, the loop keeps it in its bars', async () => {
  await frame.click('#lessons li:nth-child(12) button'); // C major up and down: three bars of eighths at 80
  await shown('C major scale, up and down');
  await waitUntil(() => frame.evaluate(() => !document.getElementById('play').disabled), 'the player ready', 30000);
  await frame.focus('#viewport');
  await frame.press('#viewport', 'Space');
  await waitUntil(() => frame.evaluate(() => document.body.dataset.playing === 'true'), 'playing after Space', 10000);
  const full = await ticksOver(1500);
  await frame.press('#viewport', 'Space');
  await waitUntil(() => frame.evaluate(() => document.body.dataset.playing === 'false'), 'paused after Space');
  // The synthesizer's worker may still report the position it had reached when the pause came.
  await waitUntil(async () => { const [a, b] = await ticksOver(300, 150); return a === b; }, 'the position settled', 5000);
  const held = await ticksOver(600);
  assert.ok(full[full.length - 1] > full[0], `the player moved: ${full}`);
  assert.equal(held[0], held[held.length - 1], 'paused means still');
  // A focused button does not also take the space bar as a click.
  await frame.focus('#stop');
  await frame.press('#stop', 'Space');
  await waitUntil(() => frame.evaluate(() => document.body.dataset.playing === 'true'), 'Space on a button plays');
  await frame.press('#stop', 'Space');
  await waitUntil(() => frame.evaluate(() => document.body.dataset.playing === 'false'), 'and pauses');

  // Half speed: the ticks move about half as fast.
  const rate = async () => {
    await frame.press('#viewport', 'Space');
    await waitUntil(() => frame.evaluate(() => document.body.dataset.playing === 'true'), 'playing');
    await sleep(300);
    const a = await frame.evaluate(() => [window.songsApi.tickPosition, performance.now()]);
    await sleep(1200);
    const b = await frame.evaluate(() => [window.songsApi.tickPosition, performance.now()]);
    await frame.press('#viewport', 'Space');
    await waitUntil(() => frame.evaluate(() => document.body.dataset.playing === 'false'), 'paused');
    return (b[0] - a[0]) / (b[1] - a[1]);
  };
  await frame.click('#stop');
  const normal = await rate();
  await frame.fill('#speed', '50');
  await frame.dispatchEvent('#speed', 'input');
  assert.equal(await frame.evaluate(() => window.songsApi.playbackSpeed), 0.5);
  assert.equal(await frame.textContent('#speed-value'), '50 %');
  await frame.click('#stop');
  const slow = await rate();
  assert.ok(slow / normal > 0.35 && slow / normal < 0.65, `half speed moved at ${slow} ticks/ms against ${normal}`);

  // Loop bar 2 alone at 150 %: the player comes back to its start instead of going on.
  await frame.fill('#speed', '150');
  await frame.dispatchEvent('#speed', 'input');
  await frame.fill('#loop-from', '2');
  await frame.fill('#loop-to', '2');
  await frame.check('#loop');
  const range = await frame.evaluate(() => ({ ...window.songsApi.playbackRange, looping: window.songsApi.isLooping, bar2: window.songsApi.score.masterBars[1].start }));
  assert.equal(range.looping, true);
  assert.equal(range.startTick, range.bar2);
  assert.equal(range.endTick - range.startTick, 3840);
  await frame.click('#stop');
  await frame.press('#viewport', 'Space');
  const looped = await ticksOver(3500);
  await frame.press('#viewport', 'Space');
  const playedTicks = looped.filter((t) => t > 0);
  // The position is reported in steps of the synthesizer's buffer: a little past the end, never on into bar 3.
  assert.ok(playedTicks.every((t) => t >= range.startTick - 1 && t <= range.endTick + 960), `inside bar 2: ${looped}`);
  assert.ok(looped.some((t, i) => i > 0 && t < looped[i - 1]), `came back to the loop's start: ${looped}`);
  await frame.uncheck('#loop');
  await frame.fill('#speed', '100');
  await frame.dispatchEvent('#speed', 'input');
});

// The host's judging commands answered inside the page, so that the page's side of a run can
// be seen whatever the host can judge: what it sends, and what it shows of each verdict.
async function answerJudgingInPage() {
  await frame.evaluate(() => {
    const real = Tunewick.call;
    window.judgeCalls = [];
    Tunewick.call = (name, ...args) => {
      if (name === 'startPractice' || name === 'stopPractice') {
        window.judgeCalls.push({ name, args: JSON.parse(JSON.stringify(args)) });
        return Promise.resolve(name === 'startPractice' ? true : null);
      }
      return real(name, ...args);
    };
  });
}

const verdictToPage = (v) => player.page.evaluate((verdict) => window.tunewickBridge.lookup('setVerdict')(verdict), v);

test('a run sends the track\'s events at the chosen speed and shows each verdict with a mark and words', async () => {
  await frame.click('#lessons li:nth-child(17) button'); // G, C, D, G: one chord a bar at 60
  await shown('Chord change: G, C and D');
  await waitUntil(() => frame.evaluate(() => !document.getElementById('practice').disabled), 'play along ready', 30000);
  await answerJudgingInPage();
  await frame.fill('#speed', '50');
  await frame.dispatchEvent('#speed', 'input');
  await frame.click('#practice');
  await waitUntil(() => frame.evaluate(() => window.judgeCalls.length === 1), 'startPractice called');
  const [events, startDelay, options] = (await frame.evaluate(() => window.judgeCalls[0].args));
  assert.deepEqual(events.map((e) => e.time), [0, 8000, 16000, 24000]); // whole notes at 60 bpm, half speed
  assert.deepEqual(events[2].notes, [
    { midi: 50, string: 4, fret: 0 }, { midi: 57, string: 3, fret: 2 }, { midi: 62, string: 2, fret: 3 }, { midi: 66, string: 1, fret: 2 }]);
  assert.equal(startDelay, 3000);
  assert.deepEqual(options, { hitWindow: 50, lateWindow: 150 });

  await verdictToPage({ index: 0, time: 0, verdict: 'hit', offset: 6, missing: [], extra: [] });
  await verdictToPage({ index: 1, time: 8000, verdict: 'partial', offset: 12, missing: [48], extra: [] });
  await verdictToPage({ index: 2, time: 16000, verdict: 'late', offset: 80, missing: [], extra: [] });
  await verdictToPage({ index: 3, time: 24000, verdict: 'wrong', offset: -4, missing: [43], extra: [44] });
  const marks = await frame.evaluate(() => [...document.querySelectorAll('#marks .mark')].map((m) => ({
    text: m.textContent, kind: m.dataset.verdict, title: m.title, top: parseFloat(m.style.top) })));
  assert.deepEqual(marks.map((m) => m.text), ['✓', '◐ str 5', '» +80 ms', '✗ G♯2']);
  assert.deepEqual(marks.map((m) => m.title), ['hit, +6 ms', 'partial, missing string 5', 'late by 80 ms', 'wrong note, heard G♯2']);
  assert.ok(marks.every((m) => m.top > 0), 'placed under their beats');
  assert.equal(await frame.textContent('#score-line'), 'Score: 1 / 4 hits · 25 %');
  await waitUntil(() => frame.evaluate(() => document.getElementById('countdown').textContent === ''), 'the countdown over');
  await screenshot(player.page, 'Songs');

  await frame.click('#stop');
  await waitUntil(() => frame.evaluate(() => document.getElementById('results').open), 'the results shown');
  assert.deepEqual(await frame.evaluate(() => window.judgeCalls.map((c) => c.name)), ['startPractice', 'stopPractice']);
  assert.equal(await frame.textContent('#r-accuracy'), '25 % — 1 of 4 hit');
  // Only the notes that sounded in time count: +6 and +80.
  assert.equal(await frame.textContent('#r-timing'), 'spread ±37 ms, on average 43 ms late');
  assert.deepEqual(await frame.evaluate(() => [...document.querySelectorAll('#r-worst li')].map((l) => l.textContent)),
    ['Bar 2: 1 mistake', 'Bar 3: 1 mistake', 'Bar 4: 1 mistake']);
  await screenshot(player.page, 'SongsResults');
  await expectAccessible(frame, 'songs, results');
  await frame.click('#r-loop');
  assert.equal(await frame.evaluate(() => document.body.dataset.loop), '2-4');
  assert.equal(await frame.evaluate(() => document.getElementById('results').open), false);
});

test('the speed trainer goes up a step after a clean loop, and only then', async () => {
  await frame.fill('#loop-from', '1');
  await frame.fill('#loop-to', '2');
  await frame.dispatchEvent('#loop-to', 'change');
  await frame.evaluate(() => { document.getElementById('trainer').checked = true; document.getElementById('trainer-step').value = '10'; });
  for (const [verdicts, expected] of [[['hit', 'late'], 50], [['hit', 'hit'], 60]]) {
    const starts = () => frame.evaluate(() => window.judgeCalls.filter((c) => c.name === 'startPractice').length);
    const before = await starts();
    await frame.click('#practice');
    await waitUntil(async () => (await starts()) > before, 'a run started');
    const sent = await frame.evaluate(() => window.judgeCalls.filter((c) => c.name === 'startPractice').at(-1).args[0]);
    assert.equal(sent.length, 2, 'only the loop\'s bars are judged');
    for (const [index, verdict] of verdicts.entries()) await verdictToPage({ index, time: sent[index].time, verdict, offset: verdict === 'late' ? 70 : 2, missing: [], extra: [] });
    await frame.click('#stop');
    await waitUntil(() => frame.evaluate(() => document.getElementById('results').open), 'the results shown');
    assert.equal(await frame.evaluate(() => Number(document.body.dataset.speed)), expected);
    await frame.click('#r-close');
  }
});

test('without the host\'s judge the page says so and stays usable', async () => {
  await frame.evaluate(() => {
    const real = Tunewick.call;
    Tunewick.call = (name, ...args) => (name === 'startPractice' ? Promise.resolve(null) : real(name, ...args));
  });
  await frame.click('#practice');
  await waitUntil(isError, 'the refusal said');
  assert.match(await statusText(), /cannot .*startPractice/);
  assert.equal(await frame.evaluate(() => document.body.dataset.run), 'refused');
  assert.equal(await frame.evaluate(() => document.getElementById('practice').disabled), false);
});

test('a lesson chosen on the Progress page opens with its weak bars looped', async () => {
  await frame.evaluate(() => {
    sessionStorage.setItem('tunewick.practiseNext', JSON.stringify({ kind: 'lesson', detail: { song: 'C major scale, up and down', lesson: 'Lesson 12', bars: [3, 2] } }));
    Tunewick.goHome();
  });
  const menu = await currentMovie(player.page, 'Menu.html');
  await menu.click('#go-songs');
  frame = await currentMovie(player.page, 'Songs.html');
  await shown('C major scale, up and down');
  await waitUntil(async () => (await frame.evaluate(() => document.body.dataset.loop)) === '2-3', 'bars 2 to 3 looped');
  assert.equal(await frame.evaluate(() => document.querySelector('#lessons li:nth-child(12) button').getAttribute('aria-current')), 'true');
  assert.equal(await frame.evaluate(() => sessionStorage.getItem('tunewick.practiseNext')), null);
});
