// The player's SWF side (web/player/flash.js and the Bridge's hooks for it), in Node: the
// synchronous call against a scripted XMLHttpRequest, the command globals, the movie's
// callbacks on its player element.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const EI = require('../../web/player/external.js');
const Flash = require('../../web/player/flash.js');
const { Bridge } = require('../../web/player/player.js');

// An XMLHttpRequest whose answer the test scripts; it keeps what the player did with it.
function scriptedXhr(answer) {
  const made = [];
  class ScriptedXhr {
    constructor() {
      this.headers = {};
      made.push(this);
    }
    open(method, url, async) {
      Object.assign(this, { method, url, async });
    }
    setRequestHeader(name, value) {
      this.headers[name] = value;
    }
    send(body) {
      this.body = body;
      const { status, text, fail } = answer(body);
      if (fail) throw new Error('network error');
      this.status = status;
      this.responseText = text;
    }
  }
  return { XMLHttpRequest: ScriptedXhr, made };
}

test('a movie call is one synchronous POST of the invoke XML, answered with a plain JS value', () => {
  const cases = [
    ['object with an array', '<object><property id="canGoBack"><true/></property><property id="list"><array><property id="0"><number>1.5</number></property><property id="1"><string>a&lt;b</string></property></array></property></object>',
      { canGoBack: true, list: [1.5, 'a<b'] }],
    ['string', '<string>#  E#</string>', '#  E#'],
    ['number', '<number>-3</number>', -3],
    ['false', '<false/>', false],
    ['null', '<null/>', null],
    ['rubbish', 'not xml', null],
  ];
  for (const [what, reply, expected] of cases) {
    const xhr = scriptedXhr(() => ({ status: 200, text: reply }));
    const value = Flash.callHostSync({ XMLHttpRequest: xhr.XMLHttpRequest, token: 'a b', codec: EI }, 'generateMaze', [5, undefined, 'x']);
    assert.deepEqual(value, expected, what);
    const [request] = xhr.made;
    assert.equal(request.method, 'POST');
    assert.equal(request.url, '/call?token=a%20b');
    assert.equal(request.async, false, 'the movie needs the answer before its call returns');
    assert.match(request.headers['Content-Type'], /^application\/xml/);
    assert.equal(request.body, '<invoke name="generateMaze" returntype="xml"><arguments><number>5</number><null/><string>x</string></arguments></invoke>');
  }
});

test('a refused or failed call reads as null, as in Flash', () => {
  for (const answer of [{ status: 403, text: 'Forbidden' }, { status: 400, text: 'Bad Request' }, { status: 0, text: '' }, { fail: true }]) {
    const xhr = scriptedXhr(() => answer);
    assert.equal(Flash.callHostSync({ XMLHttpRequest: xhr.XMLHttpRequest, token: 't', codec: EI }, 'goBack', []), null, JSON.stringify(answer));
  }
});

test('each host command becomes a global function; a new list replaces the old one', () => {
  const calls = [];
  const target = { close() {}, alert: 1 };
  const globals = new Flash.CommandGlobals(target, (name, args) => {
    calls.push([name, args]);
    return name.length;
  });
  const defined = globals.define(['goBack', 'getHistoryInfo', 'close', 'alert', 'not a name', '1st', 'set-tone', 'startPitchTracker']);
  assert.deepEqual(defined, ['getHistoryInfo', 'goBack', 'startPitchTracker']);
  assert.equal(target.goBack(1, 'two'), 6);
  assert.deepEqual(calls, [['goBack', [1, 'two']]]);
  assert.equal(typeof target.close, 'function', 'the window keeps what is its own');
  assert.equal(target.alert, 1);
  assert.equal(target['not a name'], undefined);

  assert.deepEqual(globals.define(['goBack', 'getSettings']), ['getSettings', 'goBack']);
  assert.equal(target.getHistoryInfo, undefined, 'a command the host no longer has is gone');
  assert.equal(target.startPitchTracker, undefined);
  assert.equal(target.getSettings(), 11);
  assert.equal(typeof target.close, 'function');
});

test('the host reaches only the callbacks a movie registered on its player element', () => {
  class Element {
    focus() {
      return 'focused';
    }
  }
  const player = new Element();
  Object.defineProperty(player, 'setTone', { value(tone) { return { tone, self: this === player }; }, configurable: true });
  player.notAFunction = 5;
  assert.deepEqual(Flash.movieCallback(player, 'setTone')(2), { tone: 2, self: true });
  assert.equal(Flash.movieCallback(player, 'focus'), null, 'the element\'s own methods are no callbacks');
  assert.equal(Flash.movieCallback(player, 'notAFunction'), null);
  assert.equal(Flash.movieCallback(player, 'missing'), null);
  assert.equal(Flash.movieCallback(player, ''), null);
  assert.equal(Flash.movieCallback(null, 'setTone'), null);
});

test('SWF movies are told apart by their path; relative names in one resolve in its folder', () => {
  for (const [url, swf] of [['/movies/Loader.swf', true], ['/movies/LOADER.SWF', true], ['/movies/a.swf?x=1#y', true],
    ['/movies/Loader.html', false], ['/movies/swf', false], ['/movies/a.swf/b.html', false]]) {
    assert.equal(Flash.isSwfUrl(url), swf, url);
  }
  const config = Flash.ruffleConfig('http://127.0.0.1:5/movies/set/Loader.swf');
  assert.equal(config.base, 'http://127.0.0.1:5/movies/set/');
  assert.equal(config.allowScriptAccess, true);
  assert.equal(config.preferredRenderer, 'webgl');
  assert.deepEqual(config.defaultFonts.typewriter, ['DejaVu Sans Mono']);
});

test('the host\'s calls reach a SWF movie\'s callbacks and the load passes the command list on', async () => {
  const sent = [];
  const loads = [];
  const movie = {
    setTone: (tone) => tone * 10,
    broken: () => {
      throw new Error('movie bug');
    },
  };
  const bridge = new Bridge({
    url: 'ws://h/bridge',
    codec: EI,
    WebSocket: class {
      constructor() {
        setImmediate(() => this.onopen());
      }
      send(text) {
        sent.push(JSON.parse(text));
      }
    },
    setTimeout,
    clearTimeout,
    load: (layer, url, commands) => loads.push([layer, url, commands]),
    movieCallback: (name) => (Object.hasOwn(movie, name) ? movie[name] : null),
  });
  bridge.start();
  await new Promise((r) => setImmediate(r));
  bridge.receive(JSON.stringify({ type: 'load', layer: 0, url: '/movies/Loader.swf', commands: ['exit', 'goBack'] }));
  bridge.receive(JSON.stringify({ type: 'load', layer: 0, url: '/movies/Loader.html' }));
  assert.deepEqual(loads, [[0, '/movies/Loader.swf', ['exit', 'goBack']], [0, '/movies/Loader.html', null]]);

  const originalError = console.error;
  console.error = () => {};
  try {
    bridge.receive(JSON.stringify({ type: 'call', id: 1, request: EI.invokeXml('setTone', [2]) }));
    bridge.receive(JSON.stringify({ type: 'call', id: 2, request: EI.invokeXml('nobody', []) }));
    bridge.receive(JSON.stringify({ type: 'call', id: 3, request: EI.invokeXml('broken', []) }));
    await new Promise((r) => setImmediate(r));
  } finally {
    console.error = originalError;
  }
  assert.deepEqual(sent.map((m) => [m.id, m.value]).sort((a, b) => a[0] - b[0]), [[1, '<number>20</number>'], [2, '<null/>'], [3, '<null/>']]);
});
