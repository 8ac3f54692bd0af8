/*
 * The Songs page: opens a song (a built-in lesson, a file of the songs folder, a chosen or a
 * dropped file), shows its tab and notation with alphaTab, plays it through alphaTab's
 * synthesizer (speed, loop, count-in, metronome, track choice and mute) and, while the player
 * plays along, shows the host's verdict of each note on the tab. The judging itself is the
 * host's: the page sends the chosen track's events with "startPractice", starts the
 * synthesizer so that song time 0 sounds when the host expects it, and shows what
 * "setVerdict" reports.
 */
(() => {
  'use strict';
  const PA = window.PlayAlong;
  const $ = (id) => document.getElementById(id);

  const TEX_EXTENSIONS = ['atex', 'alphatex', 'tex'];
  const SONG_EXTENSIONS = ['gp3', 'gp4', 'gp5', 'gpx', 'gp', 'xml', 'musicxml', 'mxl', ...TEX_EXTENSIONS];
  // Time between the call and song time 0: the countdown the player sees.
  const START_DELAY_MS = 3000;
  // What the synthesizer needs between play() and its first sound, beyond the output's own
  // latency; the latency calibration measures whatever remains.
  const SYNTH_LEAD_MS = 0;
  // How long after play() the synthesizer's position reports are gathered to say when its
  // music really began (they settle within about 100 ms); the host hears of it before the
  // first note's window closes.
  const MUSIC_MEASURE_MS = 150;
  // How often the sound's clock is read between the synthesizer's position reports: a stall
  // brings no reports, and the host should hear of it before the next note's window closes.
  const STALL_LOOK_MS = 20;
  // The least time between two calls telling the host of a stall that is still growing.
  const STALL_TELL_MS = 30;
  // A report of the output latency this far from the one the latency was measured with says
  // the sound goes elsewhere now (Bluetooth headphones, say): the page suggests measuring again.
  const OUTPUT_CHANGED_MS = 100;
  // See atSettings.player.bufferTimeInMilliseconds below.
  const SYNTH_BUFFER_MS = 1500;
  // The longest the silent first play may take to make a sound before a run goes on anyway.
  const WARM_UP_MS = 3000;
  // How much of the song the silent first play runs through.
  const WARM_UP_PLAY_MS = 600;
  // A verdict comes at most 200 ms after its window closes; the run ends after that.
  const END_GRACE_MS = 600;
  // The clicks of the latency calibration: a bar to settle, then eight notes on the open e.
  const CALIBRATION_TEX = '\\title "Latency" \\tempo 100 \\track "Guitar" \\instrument 25 . :4 r r r r | 0.1 0.1 0.1 0.1 | 0.1 0.1 0.1 0.1 |';
  const CALIBRATION_CLICKS = 8;

  const token = (() => {
    try {
      return new URLSearchParams(window.top.location.search).get('token') || '';
    } catch (e) {
      return '';
    }
  })();

  const status = $('status');
  const viewport = $('viewport');
  const marks = $('marks');
  const playButton = $('play');
  const stopButton = $('stop');
  const speed = $('speed');
  const speedValue = $('speed-value');
  const trackSelect = $('track');
  const muteTrack = $('mute-track');
  const loop = $('loop');
  const loopFrom = $('loop-from');
  const loopTo = $('loop-to');
  const practiceButton = $('practice');
  const calibrateButton = $('calibrate');
  const scoreLine = $('score-line');
  const countdown = $('countdown');

  let score = null;
  let trackIndex = 0;
  let source = null; // {name, text} or {name, bytes}: what is shown, to come back to after a calibration
  const lessonPlaces = new Map(); // a built-in lesson's file name to its place on the path
  let pending = null; // the name of the file being opened
  let run = null; // the play-along in progress
  let lastRun = null; // the one before, for its marks and its results
  let playing = false;

  function say(text, isError) {
    status.textContent = text;
    status.classList.toggle('error', !!isError);
  }

  // ---------------------------------------------------------------- alphaTab

  const atSettings = new alphaTab.Settings();
  const served = (file) => new URL('/alphatab/' + file, window.location.href).href;
  atSettings.core.fontDirectory = served('font/');
  atSettings.core.scriptFile = served('alphaTab.min.js');
  atSettings.core.logLevel = alphaTab.LogLevel.Warning;
  atSettings.display.scale = 1.0;
  atSettings.display.layoutMode = alphaTab.LayoutMode.Page;
  atSettings.player.playerMode = alphaTab.PlayerMode.EnabledSynthesizer;
  atSettings.player.soundFont = served('soundfont/sonivox.sf2');
  atSettings.player.scrollElement = viewport;
  atSettings.player.enableCursor = true;
  atSettings.player.enableUserInteraction = true;
  // What the synthesizer renders ahead of the output. Its worklet asks for more once the
  // buffer is half empty, through this page's thread; with alphaTab's default half second
  // that leaves under 100 ms of sound, and a page busy for longer (drawing the tab, a
  // verdict) starves the output: the music stops for a moment and is late from then on.
  atSettings.player.bufferTimeInMilliseconds = SYNTH_BUFFER_MS;
  const api = new alphaTab.AlphaTabApi($('score'), atSettings);
  api.countInVolume = 0;
  api.metronomeVolume = 0;
  window.songsApi = api; // for the tests and the curious

  function extensionOf(name) {
    const dot = name.lastIndexOf('.');
    return dot < 0 ? '' : name.slice(dot + 1).toLowerCase();
  }

  function describeError(error) {
    const text = error && (error.message || String(error));
    return text ? ' (' + text.slice(0, 160) + ')' : '';
  }

  /** Shows a song from its bytes (or alphaTex text); a file that cannot be read is refused. */
  function open(name, data) {
    if (run) stopRun(false);
    pending = name;
    const ext = extensionOf(name);
    try {
      if (typeof data === 'string' || TEX_EXTENSIONS.includes(ext)) {
        const text = typeof data === 'string' ? data : new TextDecoder('utf-8').decode(data);
        source = { name, text };
        api.tex(text);
      } else {
        source = { name, bytes: data };
        // A file alphaTab cannot read is also reported through its error event: say it once.
        if (api.load(new Uint8Array(data)) === false && pending === name) failed(name, null);
      }
    } catch (error) {
      failed(name, error);
    }
  }

  // alphaTab calls a file unsupported when none of its readers knows it (and an alphaTex text
  // by its diagnostics); any other error came from a reader that knew the file but met
  // something it could not read, most often the end of a file cut short.
  function failed(name, error) {
    pending = null;
    const unknown = !error || error instanceof alphaTab.importer.UnsupportedFormatError ||
        error instanceof alphaTab.importer.AlphaTexErrorWithDiagnostics;
    const why = unknown ? 'it is not a Guitar Pro (3–7), MusicXML or alphaTex file that Tunewick can read'
                        : 'the file is damaged or cut short';
    say('“' + name + '” cannot be opened: ' + why + describeError(error) + '. ' +
        (score ? 'The song shown before is still here.' : 'Choose another one.'), true);
  }

  api.error.on((error) => {
    if (pending) failed(pending, error);
    else say('Something went wrong with this song' + describeError(error) + '.', true);
  });

  api.scoreLoaded.on((loaded) => {
    score = loaded;
    const name = pending || (source && source.name) || 'the song';
    pending = null;
    trackSelect.innerHTML = '';
    loaded.tracks.forEach((track, i) => {
      const option = document.createElement('option');
      option.value = String(i);
      option.textContent = (track.name || 'Track ' + (i + 1)).slice(0, 40);
      trackSelect.append(option);
    });
    // The first track with a tab of strings is the player's.
    const stringed = loaded.tracks.findIndex((t) => t.staves.some((s) => s.tuning && s.tuning.length >= 4));
    trackIndex = stringed >= 0 ? stringed : 0;
    trackSelect.value = String(trackIndex);
    trackSelect.disabled = loaded.tracks.length < 2;
    const bars = loaded.masterBars.length;
    loopFrom.max = loopTo.max = String(bars);
    loopFrom.value = '1';
    loopTo.value = String(Math.min(bars, 4));
    loop.checked = false;
    api.isLooping = false;
    api.playbackRange = null;
    clearMarks();
    lastRun = null;
    scoreLine.textContent = 'Score: –';
    const subtitle = loaded.subTitle ? ' — ' + loaded.subTitle.replace(/[.\s]+$/, '') : '';
    say('Opened “' + (loaded.title || name) + '”' + subtitle + '. ' + bars + ' bar' + (bars === 1 ? '' : 's') + '.');
    document.body.dataset.song = name;
    if (loaded.tracks.length > 1 || stringed > 0) api.renderTracks([loaded.tracks[trackIndex]]);
    applyMute();
  });

  api.renderFinished.on(() => {
    document.body.dataset.rendered = String(Date.now());
    updateButtons();
    redrawMarks();
  });

  api.playerReady.on(() => {
    document.body.dataset.player = 'ready';
    updateButtons();
  });

  api.playerStateChanged.on((event) => {
    playing = event.state === 1;
    playButton.textContent = playing ? '❚❚ Pause' : '▶ Play';
    playButton.setAttribute('aria-pressed', String(playing));
    document.body.dataset.playing = String(playing);
  });

  api.playerPositionChanged.on((event) => {
    if (run && Number.isFinite(run.musicFrom) && run.stalls) {
      run.played = event.currentTime - run.musicFrom;
      if (run.reports) run.reports.push({ at: performance.now(), played: run.played });
      followSound(run);
    }
    document.body.dataset.tick = String(event.currentTick);
  });

  // The synthesizer echoes every range it is given, late and from its worker. Those echoes
  // are the page's own ranges, not a selection made on the tab: remembering them keeps a
  // late echo of the whole song from undoing the loop's bars typed since.
  const ownRanges = [];
  function setRange(range) {
    ownRanges.push(range.startTick + '-' + range.endTick);
    if (ownRanges.length > 16) ownRanges.shift();
    api.playbackRange = range;
  }

  api.playbackRangeChanged.on((event) => {
    // A selection made on the tab with the mouse becomes the loop's bars.
    const range = event.playbackRange;
    if (!range || !score || !api.tickCache) return;
    const own = ownRanges.indexOf(range.startTick + '-' + range.endTick);
    if (own >= 0) {
      ownRanges.splice(own, 1);
      return;
    }
    const bars = score.masterBars;
    let from = 0;
    let to = bars.length - 1;
    for (let i = 0; i < bars.length; ++i) {
      const start = api.tickCache.getMasterBarStart(bars[i]);
      if (start <= range.startTick) from = i;
      if (start < range.endTick) to = i;
    }
    loopFrom.value = String(from + 1);
    loopTo.value = String(to + 1);
  });

  function updateButtons() {
    const ready = !!score && api.isReadyForPlayback;
    playButton.disabled = !ready;
    stopButton.disabled = !ready;
    practiceButton.disabled = !ready;
    calibrateButton.disabled = !ready;
  }
  api.scoreLoaded.on(() => setTimeout(updateButtons, 0));

  // ---------------------------------------------------------------- playback controls

  function setSpeed(percent) {
    const p = Math.max(25, Math.min(150, Math.round(percent)));
    speed.value = String(p);
    speedValue.textContent = p + ' %';
    speed.setAttribute('aria-valuetext', p + ' %');
    api.playbackSpeed = p / 100;
    document.body.dataset.speed = String(p);
  }
  speed.addEventListener('input', () => setSpeed(Number(speed.value)));

  $('count-in').addEventListener('change', (e) => (api.countInVolume = e.target.checked ? 1 : 0));
  $('metronome').addEventListener('change', (e) => (api.metronomeVolume = e.target.checked ? 1 : 0));

  function applyMute() {
    if (!score) return;
    score.tracks.forEach((t, i) => api.changeTrackMute([t], i === trackIndex && muteTrack.checked));
  }
  muteTrack.addEventListener('change', applyMute);

  trackSelect.addEventListener('change', () => {
    if (!score) return;
    trackIndex = Number(trackSelect.value);
    clearMarks();
    lastRun = null;
    api.renderTracks([score.tracks[trackIndex]]);
    applyMute();
  });

  /** The loop's bars (0-based, inclusive), or null without a loop. */
  function loopBars() {
    if (!score || !loop.checked) return null;
    const last = score.masterBars.length - 1;
    const from = Math.max(0, Math.min(last, (Number(loopFrom.value) || 1) - 1));
    const to = Math.max(from, Math.min(last, (Number(loopTo.value) || 1) - 1));
    return { from, to };
  }

  function barTicks(from, to) {
    const bars = score.masterBars;
    const start = api.tickCache ? api.tickCache.getMasterBarStart(bars[from]) : bars[from].start;
    const endStart = api.tickCache ? api.tickCache.getMasterBarStart(bars[to]) : bars[to].start;
    return { startTick: start, endTick: endStart + bars[to].calculateDuration() };
  }

  function applyLoop() {
    const bars = loopBars();
    if (!bars) {
      api.isLooping = false;
      api.playbackRange = null;
      document.body.dataset.loop = '';
      return;
    }
    loopFrom.value = String(bars.from + 1);
    loopTo.value = String(bars.to + 1);
    setRange(barTicks(bars.from, bars.to));
    api.isLooping = true;
    document.body.dataset.loop = bars.from + 1 + '-' + (bars.to + 1);
  }
  loop.addEventListener('change', applyLoop);
  loopFrom.addEventListener('change', () => loop.checked && applyLoop());
  loopTo.addEventListener('change', () => loop.checked && applyLoop());

  function playPause() {
    if (playButton.disabled) return;
    if (run) {
      stopRun(true);
      return;
    }
    api.playPause();
  }
  playButton.addEventListener('click', playPause);
  stopButton.addEventListener('click', () => {
    if (run) stopRun(true);
    else api.stop();
  });

  // The space bar plays and pauses, unless it is typing into a field.
  document.addEventListener('keydown', (event) => {
    if (event.key !== ' ' || event.repeat || event.ctrlKey || event.altKey || event.metaKey) return;
    const t = event.target;
    if (t && (t.tagName === 'INPUT' && t.type !== 'checkbox' && t.type !== 'range' || t.tagName === 'SELECT' || t.tagName === 'TEXTAREA')) return;
    if (document.querySelector('dialog[open]')) return;
    event.preventDefault();
    playPause();
  }, true);
  // A button that has the focus must not also take the space bar as a click.
  document.addEventListener('keyup', (event) => {
    if (event.key === ' ' && event.target && event.target.tagName === 'BUTTON' && !document.querySelector('dialog[open]')) event.preventDefault();
  }, true);

  // ---------------------------------------------------------------- opening songs

  async function fetchBytes(url) {
    const response = await fetch(url);
    if (!response.ok) throw new Error('the host answered ' + response.status);
    return response.arrayBuffer();
  }

  function markCurrent(button) {
    for (const b of document.querySelectorAll('.list button[aria-current]')) b.removeAttribute('aria-current');
    if (button) button.setAttribute('aria-current', 'true');
  }

  async function loadLessons() {
    const list = $('lessons');
    try {
      const index = JSON.parse(new TextDecoder().decode(await fetchBytes('lessons/index.json')));
      index.lessons.forEach((lesson, i) => {
        const li = document.createElement('li');
        const b = document.createElement('button');
        b.type = 'button';
        b.textContent = i + 1 + '. ' + lesson.title;
        b.title = lesson.goal;
        b.dataset.file = lesson.file;
        lessonPlaces.set(lesson.file, i + 1);
        b.addEventListener('click', async () => {
          markCurrent(b);
          try {
            open(lesson.file, new TextDecoder().decode(await fetchBytes('lessons/' + encodeURIComponent(lesson.file))));
          } catch (error) {
            failed(lesson.file, error);
          }
        });
        li.append(b);
        list.append(li);
      });
    } catch (error) {
      list.innerHTML = '<li class="empty">The lessons cannot be read' + describeError(error) + '.</li>';
    }
  }

  async function loadSongList() {
    const list = $('songs');
    list.innerHTML = '';
    let answer = null;
    try {
      answer = await Tunewick.call('listSongs');
    } catch (e) {
      answer = null;
    }
    const songs = answer && Array.isArray(answer.songs) ? answer.songs : [];
    if (songs.length === 0) {
      const li = document.createElement('li');
      li.className = 'empty';
      li.textContent = answer && answer.folder ? 'No songs yet in ' + answer.folder : 'No songs folder.';
      list.append(li);
      return;
    }
    for (const song of songs) {
      const li = document.createElement('li');
      const b = document.createElement('button');
      b.type = 'button';
      b.textContent = song.name;
      b.dataset.url = song.url;
      b.addEventListener('click', async () => {
        markCurrent(b);
        try {
          open(song.name, await fetchBytes(song.url + '?token=' + encodeURIComponent(token)));
        } catch (error) {
          failed(song.name, error);
        }
      });
      li.append(b);
      list.append(li);
    }
  }

  async function openFile(file) {
    if (!file) return;
    if (!SONG_EXTENSIONS.includes(extensionOf(file.name))) {
      failed(file.name, new Error('unknown file type'));
      return;
    }
    markCurrent(null);
    try {
      open(file.name, await file.arrayBuffer());
    } catch (error) {
      failed(file.name, error);
    }
  }

  $('open-file').addEventListener('click', () => $('file-input').click());
  $('file-input').addEventListener('change', (e) => {
    openFile(e.target.files[0]);
    e.target.value = '';
  });
  let dragDepth = 0;
  document.addEventListener('dragenter', (e) => {
    e.preventDefault();
    ++dragDepth;
    document.body.classList.add('dragging');
  });
  document.addEventListener('dragleave', () => {
    if (--dragDepth <= 0) {
      dragDepth = 0;
      document.body.classList.remove('dragging');
    }
  });
  document.addEventListener('dragover', (e) => e.preventDefault());
  document.addEventListener('drop', (e) => {
    e.preventDefault();
    dragDepth = 0;
    document.body.classList.remove('dragging');
    openFile(e.dataTransfer && e.dataTransfer.files[0]);
  });

  // ---------------------------------------------------------------- verdicts on the tab

  function clearMarks() {
    marks.innerHTML = '';
  }

  function placeMark(r, index) {
    const beats = r.built.beats[index];
    const verdict = r.verdicts.get(index);
    if (!beats || !verdict || !api.boundsLookup) return;
    const all = api.boundsLookup.findBeats ? api.boundsLookup.findBeats(beats[0]) : [api.boundsLookup.findBeat(beats[0])];
    const bounds = (all || []).filter(Boolean);
    if (bounds.length === 0) return;
    const lowest = bounds[bounds.length - 1].realBounds;
    const m = PA.verdictMark(verdict, r.built.events[index].notes);
    const el = document.createElement('span');
    el.className = 'mark ' + m.kind;
    el.textContent = m.symbol + (m.text ? ' ' + m.text : '');
    el.title = m.label;
    // Marks of close beats take turns in up to three rows, so that none hides another.
    const x = lowest.x + lowest.w / 2;
    let y = lowest.y + lowest.h + 2;
    for (let row = 0; row < 2; ++row) {
      const crowded = [...marks.children].some((other) =>
        Math.abs(parseFloat(other.style.top) - y) < 1 && Math.abs(parseFloat(other.style.left) - x) < 78);
      if (!crowded) break;
      y += 22;
    }
    el.style.left = x + 'px';
    el.style.top = y + 'px';
    el.dataset.index = String(index);
    el.dataset.verdict = verdict.verdict;
    marks.append(el);
  }

  function redrawMarks() {
    clearMarks();
    const r = run || lastRun;
    if (!r) return;
    for (const index of r.verdicts.keys()) placeMark(r, index);
  }

  function showScore(r) {
    scoreLine.textContent = 'Score: ' + r.tally.hits + ' / ' + r.tally.judged + ' hits · ' + r.tally.percent + ' %';
  }

  Tunewick.addCallback('setVerdict', (verdict) => {
    const r = run;
    if (!r || !verdict || !Number.isInteger(verdict.index)) return null;
    if (!r.tally.add(verdict)) return null;
    r.verdicts.set(verdict.index, verdict);
    if (r.calibration) return null;
    placeMark(r, verdict.index);
    showScore(r);
    return null;
  });

  // ---------------------------------------------------------------- play along

  // The synthesizer's first play in a page loads its audio worklet, which holds back its
  // sound by 100 ms and more, a delay no later play has: a run started then would be heard
  // that much late, and a latency measured then would be wrong for every run after it. A
  // silent play before the first run makes that first start happen where nothing is timed.
  let synthWarm = false;
  let warming = false;
  async function warmUpSynth() {
    if (synthWarm) return;
    warming = true;
    const volume = api.masterVolume;
    api.masterVolume = 0;
    const sounding = new Promise((resolve) => {
      const timer = setTimeout(done, WARM_UP_MS);
      function done() {
        clearTimeout(timer);
        api.playerPositionChanged.off(moved);
        resolve();
      }
      function moved(event) {
        if (event.currentTime >= WARM_UP_PLAY_MS) done();
      }
      api.playerPositionChanged.on(moved);
    });
    api.play();
    await sounding;
    api.stop();
    api.masterVolume = volume;
    synthWarm = true;
    warming = false;
  }

  // The synthesizer's own audio context, or null where alphaTab plays without one.
  function synthContext() {
    try {
      return (api.player && api.player.output && api.player.output.context) || null;
    } catch (e) {
      return null;
    }
  }

  function outputLatency() {
    // The synthesizer's own audio context knows best; a probe of the same device otherwise.
    let context = synthContext();
    if (!context && window.AudioContext) {
      outputLatency.probe = outputLatency.probe || new AudioContext({ latencyHint: 'interactive' });
      context = outputLatency.probe;
    }
    if (!context) return 0;
    return (context.baseLatency || 0) + (context.outputLatency || 0);
  }

  // The output latency (ms) a run starts its music early by. A calibration takes the
  // browser's report and keeps it with what it measured; the runs after it take the kept one,
  // since the report wanders (on a busy machine, by hundreds of ms) and the measured latency is
  // only true beside the report it was measured with.
  function runOutputLatency(r, s) {
    const reported = outputLatency() * 1000;
    const kept = Number(s.outputLatency);
    if (r.calibration || !(kept >= 0)) return reported;
    if (Math.abs(reported - kept) > OUTPUT_CHANGED_MS) r.outputChanged = true;
    return kept;
  }

  async function settings() {
    try {
      const s = await Tunewick.call('getSettings');
      return s && typeof s === 'object' ? s : {};
    } catch (e) {
      return {};
    }
  }

  function showCountdown(until) {
    const tick = () => {
      if (!run) {
        countdown.textContent = '';
        return;
      }
      const left = until - performance.now();
      countdown.textContent = left > 0 ? String(Math.ceil(left / 1000)) : '';
      if (left > 0) setTimeout(tick, 100);
    };
    tick();
  }

  /**
   * Starts a judged run over the loop's bars (or the whole song). options.calibration: a
   * latency run ({heard: true} plays the notes, else only the clicks for the player to pluck).
   */
  async function startRun(options) {
    const opts = options || {};
    if (!score || run || warming) return false;
    const bars = loopBars();
    const percent = Number(speed.value);
    let built;
    try {
      built = PA.buildEvents(score, trackIndex, { speed: percent / 100, fromBar: bars ? bars.from : 0, toBar: bars ? bars.to : undefined });
    } catch (error) {
      say('This track has no notes to play along with' + describeError(error) + '.', true);
      return false;
    }
    if (built.events.length === 0) {
      say('This track has no notes to play along with; choose another track.', true);
      return false;
    }
    const s = await settings();
    // The host allows for the stored latency itself; a calibration takes wide windows, so that
    // a click heard late still counts with its offset.
    const judgeOptions = opts.calibration
      ? { hitWindow: 150, lateWindow: 400 }
      : { hitWindow: Number(s.hitWindow) || 50, lateWindow: Number(s.lateWindow) || 150 };

    api.stop();
    api.isLooping = false;
    await warmUpSynth();
    const from = bars ? bars.from : 0;
    const to = bars ? bars.to : score.masterBars.length - 1;
    const range = barTicks(from, to);
    setRange(range);
    api.tickPosition = range.startTick;
    const saved = { countIn: api.countInVolume, metronome: api.metronomeVolume };
    api.countInVolume = 0; // the countdown counts in instead: song time 0 must stay where the host expects it
    if (opts.calibration) {
      api.metronomeVolume = opts.calibration.heard ? 0 : 1;
      score.tracks.forEach((t) => api.changeTrackMute([t], !opts.calibration.heard));
    }

    clearMarks();
    const r = {
      built,
      tally: new PA.Tally(built.events.length),
      verdicts: new Map(),
      calibration: opts.calibration || null,
      speed: percent,
      from,
      to,
      saved,
      timers: [],
      windows: judgeOptions,
      latency: Number(s.latency) || 0,
      stallLate: 0, // how much later than its start the sound plays now, in ms
      untold: new Map(), // stalls the host has not heard of: music ms -> late ms
      toldAt: -Infinity,
    };
    run = r;
    document.body.dataset.run = 'starting';
    const sentAt = performance.now();
    let answer;
    try {
      answer = await Tunewick.call('startPractice', built.events, START_DELAY_MS, judgeOptions);
    } catch (error) {
      answer = undefined;
    }
    if (answer !== true) {
      run = null;
      restoreAfterRun(r);
      document.body.dataset.run = 'refused';
      say(answer === null
        ? 'Playing along needs the host to listen, and this host cannot (“startPractice” is unknown).'
        : 'The host did not take this song’s notes to judge' + (answer === false ? ' (it refused the list)' : '') + '.', true);
      return false;
    }
    r.outputMs = runOutputLatency(r, s);
    const startAt = PA.synthStartAt(sentAt, START_DELAY_MS, r.outputMs / 1000, SYNTH_LEAD_MS);
    r.sentAt = sentAt;
    r.timers.push(setTimeout(() => {
      if (run === r) {
        r.musicFrom = api.timePosition;
        r.reports = Number.isFinite(r.musicFrom) ? [] : null;
        r.played = 0;
        r.context = synthContext();
        r.stalls = new PA.SoundStalls();
        api.play();
        document.body.dataset.run = 'playing';
        r.timers.push(setTimeout(() => tellMusicStart(r, startAt), MUSIC_MEASURE_MS));
        r.timers.push(setInterval(() => run === r && followSound(r), STALL_LOOK_MS));
      }
    }, Math.max(0, startAt - performance.now())));
    r.endAt = sentAt + START_DELAY_MS + built.durationMs + r.windows.lateWindow + END_GRACE_MS;
    scheduleEnd(r);
    showCountdown(sentAt + START_DELAY_MS);
    if (!r.calibration) {
      scoreLine.textContent = 'Score: 0 / 0 hits';
      say('Play along from bar ' + (from + 1) + ' at ' + percent + ' %: ' + built.events.length + ' notes and chords to play.' +
        (r.outputChanged ? ' The sound seems to go to another output than when the latency was measured: if the verdicts come early or late, measure it again (Latency…).' : ''));
    }
    return true;
  }

  // The synthesizer begins a few ms after play(), by as much as its worker takes to make the
  // first sound, and differently each run: the host moves its due times by what was measured.
  function tellMusicStart(r, startAt) {
    if (run !== r || !r.reports) return;
    const began = PA.musicStartedAt(r.reports);
    r.reports = null;
    r.startLate = Number.isFinite(began) ? Math.round((began - startAt) * 10) / 10 : 0;
    document.body.dataset.musicLate = String(r.startLate);
    if (Math.abs(r.startLate) >= 1) Promise.resolve(Tunewick.call('setMusicLate', r.startLate)).catch(() => {});
    tellMusicLate(r);
  }

  // A stall of the browser's sound makes everything after it sound later (see
  // PlayAlong.SoundStalls): the host moves its due times from there on, and the run ends later.
  function followSound(r) {
    if (!r.context || !r.stalls) return;
    const moved = r.stalls.add(performance.now(), r.context.currentTime * 1000, r.played);
    if (!moved) return;
    r.stallLate = moved.late;
    r.untold.set(moved.from, moved.late);
    document.body.dataset.soundStalls = String(moved.late);
    tellMusicLate(r);
  }

  // Tells the host what it has not heard of the stalls, once the start is known, and at most
  // every STALL_TELL_MS while a stall grows.
  function tellMusicLate(r) {
    if (run !== r || r.startLate === undefined || r.telling || !r.untold.size) return;
    r.telling = setTimeout(() => {
      r.telling = null;
      if (run !== r) return;
      r.toldAt = performance.now();
      for (const [from, late] of r.untold) {
        Promise.resolve(Tunewick.call('setMusicLate', r.startLate + late, from)).catch(() => {});
      }
      r.untold.clear();
      scheduleEnd(r);
    }, Math.max(0, r.toldAt + STALL_TELL_MS - performance.now()));
    r.timers.push(r.telling);
  }

  // The run ends once its last window has closed and its verdict come, as late as its music.
  function scheduleEnd(r) {
    clearTimeout(r.ending);
    const late = Math.max(0, (r.startLate || 0) + r.stallLate);
    r.ending = setTimeout(() => run === r && finishRun(), Math.max(0, r.endAt + late - performance.now()));
    r.timers.push(r.ending);
  }

  function restoreAfterRun(r) {
    for (const t of r.timers) clearTimeout(t);
    api.countInVolume = r.saved.countIn;
    api.metronomeVolume = r.saved.metronome;
    countdown.textContent = '';
    applyMute();
    applyLoop();
  }

  /** Ends the run early (the player stopped it): what was judged so far counts. */
  function stopRun(showResults) {
    if (!run) return;
    finishRun(showResults);
  }

  async function finishRun(showResults) {
    const r = run;
    if (!r) return;
    run = null;
    api.stop();
    let summary = null;
    try {
      summary = await Tunewick.call('stopPractice');
    } catch (e) {
      summary = null;
    }
    restoreAfterRun(r);
    r.hostSummary = summary;
    document.body.dataset.run = 'done';
    if (r.calibration) {
      finishCalibration(r);
      return;
    }
    lastRun = r;
    const own = PA.summarize(r.tally, r.built.bars);
    r.summary = own;
    try {
      await Tunewick.call('recordResult', 'playalong', playAlongRecord(r, own));
    } catch (e) {
      // Results are kept where the host can; a host without them still plays along.
    }
    if (showResults !== false) showResultsDialog(r);
  }

  // What the practice history keeps of a run: one item per event with its bar and verdict, and
  // the place on the neck of a single note (strings counted from the low E there), so the
  // Progress page can show which bars and which places go wrong.
  function playAlongRecord(r, own) {
    const events = [];
    for (let i = 0; i < r.tally.total; ++i) {
      const v = r.tally.byIndex.get(i);
      const item = {
        index: i,
        bar: r.built.bars[i] + 1,
        verdict: v ? v.verdict : 'missed',
        offset: v && Number.isFinite(v.offset) ? Math.round(v.offset) : null,
      };
      const notes = r.built.events[i].notes;
      if (notes.length === 1 && notes[0].string >= 1 && notes[0].string <= 6) {
        item.string = 6 - notes[0].string;
        item.fret = notes[0].fret;
      }
      events.push(item);
    }
    const place = source && lessonPlaces.get(source.name);
    const lesson = place ? `Lesson ${place}` : null;
    return {
      song: ((score && score.title) || (source && source.name) || 'Untitled').slice(0, 64),
      lesson,
      speed: r.speed / 100, // the history keeps the tempo factor; the page shows per cent
      accuracy: own.accuracy / 100,
      spread: own.spread === null ? 0 : Math.round(own.spread),
      events,
    };
  }

  // ---------------------------------------------------------------- results and the speed trainer

  const results = $('results');
  function showResultsDialog(r) {
    const s = r.summary;
    $('r-accuracy').textContent = Math.round(s.accuracy) + ' % — ' + s.hits + ' of ' + s.events + ' hit';
    $('r-timing').textContent = s.spread === null
      ? 'nothing sounded in time'
      : 'spread ±' + Math.round(s.spread) + ' ms, on average ' + (Math.round(s.meanOffset) >= 0 ? Math.round(s.meanOffset) + ' ms late' : -Math.round(s.meanOffset) + ' ms early');
    $('r-speed').textContent = r.speed + ' %';
    const worst = $('r-worst');
    worst.innerHTML = '';
    for (const w of s.worstBars) {
      const li = document.createElement('li');
      li.textContent = 'Bar ' + (w.bar + 1) + ': ' + w.mistakes + ' mistake' + (w.mistakes === 1 ? '' : 's');
      worst.append(li);
    }
    $('r-worst-head').textContent = s.worstBars.length ? 'Bars with the most mistakes:' : 'No mistakes. Well played!';
    $('r-loop').disabled = s.worstBars.length === 0;
    const trainer = $('trainer');
    let note = '';
    if (trainer.checked && r.tally.clean) {
      const next = PA.nextSpeed(r.speed, true, Number($('trainer-step').value) || 5, Number($('trainer-target').value) || 100);
      if (next > r.speed) {
        setSpeed(next);
        note = 'A clean loop: the speed goes up to ' + next + ' %.';
      } else {
        note = 'A clean loop at the target speed.';
      }
    } else if (trainer.checked) {
      note = 'Not clean yet: the speed stays at ' + r.speed + ' %.';
    }
    $('r-trainer').textContent = note;
    document.body.dataset.accuracy = String(Math.round(s.accuracy));
    if (!results.open) results.showModal();
  }

  $('r-loop').addEventListener('click', () => {
    const r = lastRun;
    if (!r || !r.summary || r.summary.worstBars.length === 0) return;
    const barsWithMistakes = r.summary.worstBars.map((w) => w.bar);
    loopFrom.value = String(Math.min(...barsWithMistakes) + 1);
    loopTo.value = String(Math.max(...barsWithMistakes) + 1);
    loop.checked = true;
    applyLoop();
    results.close('loop');
  });

  results.addEventListener('close', () => {
    if (results.returnValue === 'again') startRun();
  });

  practiceButton.addEventListener('click', () => startRun());

  // ---------------------------------------------------------------- latency calibration

  const calibration = $('calibration');
  let beforeCalibration = null;

  async function calibrate(heard) {
    if (run) return;
    beforeCalibration = { source, trackIndex, speed: Number(speed.value), loop: loop.checked };
    $('cal-result').textContent = heard ? 'Listening for the click…' : 'Pluck the open high e on each click…';
    loop.checked = false;
    setSpeed(100);
    const loaded = new Promise((resolve) => {
      const once = () => {
        api.scoreLoaded.off(once);
        resolve();
      };
      api.scoreLoaded.on(once);
    });
    open('latency clicks', CALIBRATION_TEX);
    await loaded;
    await new Promise((resolve) => setTimeout(resolve, 300));
    if (!(await startRun({ calibration: { heard } }))) {
      $('cal-result').textContent = status.textContent;
      restoreSong();
    }
  }

  async function finishCalibration(r) {
    const measured = PA.calibrationResult([...r.verdicts.values()], CALIBRATION_CLICKS, r.latency, r.outputMs);
    const result = $('cal-result');
    if (measured === null) {
      result.textContent = 'Too few clicks were heard (' + r.verdicts.size + ' verdicts); the latency stays as it was.';
    } else {
      const { latency } = measured;
      let stored = false;
      try {
        stored = (await Tunewick.call('setSetting', 'outputLatency', measured.outputLatency)) === true &&
          (await Tunewick.call('setSetting', 'latency', latency)) === true;
      } catch (e) {
        stored = false;
      }
      result.textContent = 'Latency: ' + latency + ' ms' + (stored ? ', kept for judging.' : ' (it could not be kept).');
      document.body.dataset.latency = String(latency);
    }
    restoreSong();
  }

  function restoreSong() {
    const before = beforeCalibration;
    beforeCalibration = null;
    if (!before) return;
    setSpeed(before.speed);
    if (before.source) {
      const once = () => {
        api.scoreLoaded.off(once);
        if (score && before.trackIndex < score.tracks.length && before.trackIndex !== trackIndex) {
          trackSelect.value = String(before.trackIndex);
          trackSelect.dispatchEvent(new Event('change'));
        }
      };
      api.scoreLoaded.on(once);
      open(before.source.name, before.source.text !== undefined ? before.source.text : before.source.bytes);
    }
  }

  calibrateButton.addEventListener('click', () => {
    $('cal-result').textContent = '';
    calibration.showModal();
  });
  $('cal-heard').addEventListener('click', () => calibrate(true));
  $('cal-pluck').addEventListener('click', () => calibrate(false));

  // The Progress page sent the player here for a lesson's weak bars: open it and loop them.
  function practiseNext() {
    let item = null;
    try {
      item = JSON.parse(sessionStorage.getItem('tunewick.practiseNext') || 'null');
    } catch (e) {
      item = null;
    }
    if (!item || item.kind !== 'lesson' || !item.detail) return;
    sessionStorage.removeItem('tunewick.practiseNext');
    const place = /^Lesson (\d+)$/.exec(String(item.detail.lesson || ''));
    const button = place && document.querySelector(`#lessons li:nth-child(${Number(place[1])}) button`);
    if (!button) return;
    const bars = (Array.isArray(item.detail.bars) ? item.detail.bars : []).map(Number).filter((b) => Number.isInteger(b) && b >= 1);
    if (bars.length > 0) {
      const once = () => {
        api.scoreLoaded.off(once);
        // After the page's own handling of the new score, which resets the loop.
        setTimeout(() => {
          loopFrom.value = String(Math.min(...bars));
          loopTo.value = String(Math.max(...bars));
          loop.checked = true;
          applyLoop();
        }, 0);
      };
      api.scoreLoaded.on(once);
    }
    button.click();
  }

  // ---------------------------------------------------------------- the page

  Tunewick.page({ title: 'Songs', practice: true });
  setSpeed(100);
  loadLessons().then(practiseNext);
  loadSongList();
  window.addEventListener('pagehide', () => {
    if (run) Tunewick.call('stopPractice');
  });
})();
