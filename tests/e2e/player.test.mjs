// The player's connection logic (web/player/player.js) against a scripted socket.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const EI = require('../../web/player/external.js');
const { Bridge, stageLayout } = require('../../web/player/player.js');

// A socket whose whole life the test drives: open, messages in, close.
class ScriptedSocket {
  constructor(url, registry) {
    this.url = url;
    this.sent = [];
    this.closed = false;
    registry.push(this);
  }
  send(text) {
    if (this.closed) throw new Error('closed');
    this.sent.push(JSON.parse(text));
  }
  close() {
    if (this.closed) return;
    this.closed = true;
    if (this.onclose) this.onclose();
  }
  open() {
    this.onopen();
  }
  deliver(message) {
    this.onmessage({ data: typeof message === 'string' ? message : JSON.stringify(message) });
  }
  drop(code = 1006) {
    this.closed = true;
    this.onclose({ code });
  }
}

// A bridge with scripted sockets and timers that run only when the test says so.
function makeBridge() {
  const sockets = [];
  const timers = [];
  const events = [];
  const bridge = new Bridge({
    url: 'ws://127.0.0.1:1/bridge?token=t',
    codec: EI,
    WebSocket: class extends ScriptedSocket {
      constructor(url) {
        super(url, sockets);
      }
    },
    setTimeout: (fn, ms) => {
      const timer = { fn, ms, cancelled: false };
      timers.push(timer);
      return timer;
    },
    clearTimeout: (timer) => {
      if (timer) timer.cancelled = true;
    },
    load: (layer, url) => events.push(['load', layer, url]),
    alert: (caption, text) => events.push(['alert', caption, text]),
    exit: (reason) => events.push(reason === 'exit' ? ['exit'] : ['exit', reason]),
    connection: (up) => events.push(['connection', up]),
  });
  const runTimers = () => {
    const due = timers.splice(0).filter((t) => !t.cancelled);
    for (const t of due) t.fn();
    return due.map((t) => t.ms);
  };
  return { bridge, sockets, events, runTimers };
}

const settle = () => new Promise((resolve) => setImmediate(resolve));
const owner = (name) => ({ name, window: null });

test('the stage sits centred, halves truncated toward zero, and shrinks to fit smaller windows', () => {
  assert.deepEqual(stageLayout(1280, 1024), { left: 128, top: 128, scale: 1 });
  assert.deepEqual(stageLayout(1366, 768), { left: 171, top: 0, scale: 1 });
  assert.deepEqual(stageLayout(1024, 768), { left: 0, top: 0, scale: 1 });
  assert.deepEqual(stageLayout(1025, 769), { left: 0, top: 0, scale: 1 });
  assert.deepEqual(stageLayout(1920, 1080), { left: 448, top: 156, scale: 1 });
  // Smaller: scaled with its proportions kept, centred along the longer side.
  assert.deepEqual(stageLayout(800, 600), { left: 0, top: 0, scale: 0.78125 });
  assert.deepEqual(stageLayout(1024, 600), { left: 112, top: 0, scale: 0.78125 });
  assert.deepEqual(stageLayout(512, 768), { left: 0, top: 192, scale: 0.5 });
  assert.equal(stageLayout(0, 0).scale, 0);
});

test('connects with the token and passes load and alert messages on', () => {
  const { bridge, sockets, events } = makeBridge();
  bridge.start();
  assert.equal(sockets.length, 1);
  assert.equal(sockets[0].url, 'ws://127.0.0.1:1/bridge?token=t');
  sockets[0].open();
  sockets[0].deliver({ type: 'load', layer: 0, url: '/movies/Loader.html' });
  sockets[0].deliver({ type: 'alert', caption: 'Wav Recorder', text: 'Error initializing Wav Recorder.' });
  // Rubbish from the wire is ignored.
  sockets[0].deliver('not json');
  sockets[0].deliver('42');
  sockets[0].deliver({ type: 'mystery' });
  assert.deepEqual(events, [
    ['connection', true],
    ['load', 0, '/movies/Loader.html'],
    ['alert', 'Wav Recorder', 'Error initializing Wav Recorder.'],
  ]);
});

test('answers the host\'s calls from the movies\' callbacks', async () => {
  const { bridge, sockets } = makeBridge();
  bridge.start();
  const socket = sockets[0];
  socket.open();
  const seen = [];
  bridge.register('setTone', (tone) => {
    seen.push(tone);
  }, owner('notes'));
  bridge.register('echo', (...args) => ({ got: args }), owner('notes'));
  bridge.register('later', async (n) => n * 2, owner('notes'));
  bridge.register('broken', () => {
    throw new Error('movie bug');
  }, owner('notes'));

  const originalError = console.error;
  console.error = () => {};
  try {
    socket.deliver({ type: 'call', id: 7, request: EI.invokeXml('setTone', [3]) });
    socket.deliver({ type: 'call', id: 8, request: EI.invokeXml('echo', ['a', null]) });
    socket.deliver({ type: 'call', id: 9, request: EI.invokeXml('later', [21]) });
    socket.deliver({ type: 'call', id: 10, request: EI.invokeXml('nobodyHome', []) });
    socket.deliver({ type: 'call', id: 11, request: EI.invokeXml('broken', []) });
    socket.deliver({ type: 'call', id: 12, request: 'not xml at all' });
    await settle();
  } finally {
    console.error = originalError;
  }
  assert.deepEqual(seen, [3]);
  const replies = Object.fromEntries(socket.sent.map((m) => [m.id, m]));
  assert.deepEqual(replies[7], { type: 'return', id: 7, value: '<null/>' });
  assert.equal(replies[8].value, '<object><property id="got"><array><property id="0"><string>a</string></property><property id="1"><null/></property></array></property></object>');
  assert.equal(replies[9].value, '<number>42</number>');
  assert.equal(replies[10].value, '<null/>');
  assert.equal(replies[11].value, '<null/>');
  assert.equal(replies[12].value, '<null/>');
  assert.equal(socket.sent.length, 6);
});

test('the movie shown last answers; a movie that has gone answers no more', async () => {
  const { bridge, sockets } = makeBridge();
  bridge.start();
  const socket = sockets[0];
  socket.open();
  const tuner = owner('tuner');
  const menu = owner('menu');
  const calls = [];
  bridge.register('setStringTune', (v) => calls.push(['tuner', v]), tuner);
  bridge.register('setStringTune', (v) => calls.push(['menu', v]), menu);
  socket.deliver({ type: 'call', id: 1, request: EI.invokeXml('setStringTune', [0.5]) });
  await settle();
  bridge.detach(menu);
  socket.deliver({ type: 'call', id: 2, request: EI.invokeXml('setStringTune', [null]) });
  await settle();
  bridge.detach(tuner);
  socket.deliver({ type: 'call', id: 3, request: EI.invokeXml('setStringTune', [0]) });
  await settle();
  assert.deepEqual(calls, [['menu', 0.5], ['tuner', null]]);
  assert.equal(socket.sent.find((m) => m.id === 3).value, '<null/>');

  // Registering the same name again from the same movie replaces its callback.
  bridge.register('loadSwf', () => 'first', tuner);
  bridge.register('loadSwf', () => 'second', tuner);
  assert.equal(bridge.lookup('loadSwf')(), 'second');
  bridge.forgetAll();
  assert.equal(bridge.lookup('loadSwf'), null);
});

test('a movie\'s call goes out with its own id and resolves with the matching reply', async () => {
  const { bridge, sockets } = makeBridge();
  bridge.start();
  const socket = sockets[0];
  socket.open();
  const back = bridge.send(EI.invokeXml('goBack', []));
  const info = bridge.send(EI.invokeXml('getHistoryInfo', []));
  assert.equal(socket.sent.length, 2);
  const [first, second] = socket.sent;
  assert.equal(first.type, 'call');
  assert.equal(first.request, '<invoke name="goBack" returntype="xml"><arguments></arguments></invoke>');
  assert.notEqual(first.id, second.id);
  // Replies may come in any order; an unknown id is ignored.
  socket.deliver({ type: 'return', id: 999, value: '<true/>' });
  socket.deliver({ type: 'return', id: second.id, value: '<object><property id="canGoBack"><false/></property></object>' });
  socket.deliver({ type: 'return', id: first.id, value: '<true/>' });
  assert.equal(await back, '<true/>');
  assert.equal(await info, '<object><property id="canGoBack"><false/></property></object>');
});

test('calls made while connecting wait for the connection', async () => {
  const { bridge, sockets } = makeBridge();
  bridge.start();
  const reply = bridge.send(EI.invokeXml('loadSwf', ['Menu.html']));
  assert.equal(sockets[0].sent.length, 0);
  sockets[0].open();
  assert.equal(sockets[0].sent.length, 1);
  sockets[0].deliver({ type: 'return', id: sockets[0].sent[0].id, value: '<null/>' });
  assert.equal(await reply, '<null/>');
});

test('after a dropped connection it reconnects quietly, backing off, and carries on', async () => {
  const { bridge, sockets, events, runTimers } = makeBridge();
  bridge.start();
  sockets[0].open();
  const lost = bridge.send(EI.invokeXml('startTuner', []));
  sockets[0].drop();
  // The call that went out on the lost connection reads null rather than hanging.
  assert.equal(await lost, '<null/>');
  assert.deepEqual(runTimers(), [250]);
  assert.equal(sockets.length, 2);
  sockets[1].drop(); // refused again
  assert.deepEqual(runTimers(), [500]);
  sockets[2].drop();
  assert.deepEqual(runTimers(), [1000]);
  sockets[3].drop();
  assert.deepEqual(runTimers(), [2000]);
  sockets[4].drop();
  assert.deepEqual(runTimers(), [2000]);
  // Calls made while it is down go out once it is back, and the delay starts over.
  const waiting = bridge.send(EI.invokeXml('getHistoryInfo', []));
  sockets[5].open();
  assert.equal(sockets[5].sent.length, 1);
  sockets[5].deliver({ type: 'return', id: sockets[5].sent[0].id, value: '<true/>' });
  assert.equal(await waiting, '<true/>');
  sockets[5].drop();
  assert.deepEqual(runTimers(), [250]);
  assert.deepEqual(events.filter((e) => e[0] === 'connection').map((e) => e[1]), [true, false, false, false, false, false, true, false]);
});

test('exit ends everything: pending calls read null, nothing reconnects, later calls do nothing', async () => {
  const { bridge, sockets, events, runTimers } = makeBridge();
  bridge.start();
  sockets[0].open();
  const pending = bridge.send(EI.invokeXml('exit', []));
  sockets[0].deliver({ type: 'exit' });
  assert.equal(await pending, '<null/>');
  assert.ok(sockets[0].closed);
  assert.deepEqual(events.at(-1), ['exit']);
  assert.deepEqual(runTimers(), []);
  assert.equal(sockets.length, 1);
  assert.equal(await bridge.send(EI.invokeXml('goBack', [])), '<null/>');
  assert.equal(sockets[0].sent.length, 1);
  // A second exit changes nothing.
  sockets[0].deliver({ type: 'exit' });
  assert.equal(events.filter((e) => e[0] === 'exit').length, 1);
});

test('a window taken over by another one stops for good instead of taking it back', async () => {
  const { bridge, sockets, events, runTimers } = makeBridge();
  bridge.start();
  sockets[0].open();
  const pending = bridge.send(EI.invokeXml('getHistoryInfo', []));
  sockets[0].drop(4000);
  assert.equal(await pending, '<null/>');
  assert.deepEqual(events.at(-1), ['exit', 'replaced']);
  assert.deepEqual(runTimers(), [], 'no reconnect is scheduled');
  assert.equal(sockets.length, 1);
});
