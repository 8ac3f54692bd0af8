/*
 * The player: stands where the Flash control stood. It keeps one WebSocket to the host,
 * shows the start movie in a 1024 x 768 stage, carries the movies' calls to the host
 * and the host's calls to the movies, and shows the host's message boxes.
 *
 * Messages (JSON text objects):
 *   page -> host  {"type":"call","id":N,"request":"<invoke …>"}     answered by a "return"
 *   host -> page  {"type":"call","id":M,"request":"<invoke …>"}     answered by a "return"
 *   host -> page  {"type":"load","layer":0,"url":"…","commands":[…]} | {"type":"alert",…} | {"type":"exit"}
 *
 * A .swf movie plays in Ruffle (flash.js): its calls reach the host by a synchronous POST
 * instead, and the host's calls reach the functions it registered on the Ruffle element.
 *
 * The Bridge and stageLayout carry no DOM of their own, so they load in Node for tests.
 */
(function (root, factory) {
  'use strict';
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else api.startPlayer(root);
})(typeof window !== 'undefined' ? window : globalThis, function () {
  'use strict';

  const STAGE_WIDTH = 1024;
  const STAGE_HEIGHT = 768;
  const NULL_XML = '<null/>';

  /**
   * Where the stage goes in a window of w x h pixels: centred with the halving truncated
   * toward zero; scaled down to fit, keeping its proportions, when the window is smaller.
   */
  function stageLayout(w, h) {
    if (w >= STAGE_WIDTH && h >= STAGE_HEIGHT) {
      return { left: Math.trunc((w - STAGE_WIDTH) / 2), top: Math.trunc((h - STAGE_HEIGHT) / 2), scale: 1 };
    }
    const scale = Math.max(0, Math.min(w / STAGE_WIDTH, h / STAGE_HEIGHT));
    return {
      left: Math.trunc((w - STAGE_WIDTH * scale) / 2),
      top: Math.trunc((h - STAGE_HEIGHT * scale) / 2),
      scale,
    };
  }

  /**
   * The connection to the host and the movies' callbacks.
   *
   * options: url (of the WebSocket), codec (toXml, fromXml, parseInvoke), WebSocket (the
   * constructor), setTimeout/clearTimeout, and the hooks load(layer, url), alert(caption,
   * text), exit(), connection(isUp), and movieCallback(name): a callback of a movie that
   * does not register through external.js (a SWF movie), or null.
   */
  class Bridge {
    constructor(options) {
      this.options = options;
      this.codec = options.codec;
      this.socket = null;
      this.open = false;
      this.ended = false;
      this.nextId = 1;
      this.pending = new Map(); // id -> { resolve, sent }
      this.outbox = []; // messages waiting for the connection
      this.callbacks = new Map(); // name -> [{ fn, owner }], last registered wins
      this.owners = []; // the movies that have loaded, oldest first
      this.retryDelay = Bridge.FIRST_RETRY_MS;
      this.retryTimer = null;
    }

    start() {
      this.connect();
    }

    connect() {
      if (this.ended) return;
      let socket;
      try {
        socket = new this.options.WebSocket(this.options.url);
      } catch (e) {
        this.scheduleReconnect();
        return;
      }
      this.socket = socket;
      socket.onopen = () => {
        if (this.socket !== socket) return;
        this.open = true;
        this.retryDelay = Bridge.FIRST_RETRY_MS;
        this.hook('connection', true);
        const waiting = this.outbox;
        this.outbox = [];
        for (const message of waiting) this.transmit(message);
      };
      socket.onmessage = (event) => {
        if (this.socket === socket) this.receive(event.data);
      };
      socket.onclose = (event) => {
        if (this.socket !== socket) return;
        // Another window took over: reconnecting would only take it back and forth.
        if (event && event.code === Bridge.REPLACED_CODE) {
          this.end('replaced');
          return;
        }
        this.socket = null;
        this.open = false;
        this.dropSentCalls();
        if (!this.ended) {
          this.hook('connection', false);
          this.scheduleReconnect();
        }
      };
      socket.onerror = () => {}; // a close follows every error
    }

    scheduleReconnect() {
      if (this.ended || this.retryTimer !== null) return;
      const delay = this.retryDelay;
      this.retryDelay = Math.min(this.retryDelay * 2, Bridge.LAST_RETRY_MS);
      this.retryTimer = this.options.setTimeout(() => {
        this.retryTimer = null;
        this.connect();
      }, delay);
    }

    // Calls that went out on a connection that is gone will never be answered: they read null.
    dropSentCalls() {
      for (const [id, call] of this.pending) {
        if (call.sent) {
          this.pending.delete(id);
          call.resolve(NULL_XML);
        }
      }
    }

    transmit(message) {
      if (message.type === 'call') {
        const call = this.pending.get(message.id);
        if (!call) return;
        call.sent = true;
      }
      try {
        this.socket.send(JSON.stringify(message));
      } catch (e) {
        // The close handler settles what was lost.
      }
    }

    post(message) {
      if (this.ended) return;
      if (this.open) this.transmit(message);
      else if (message.type === 'call') this.outbox.push(message);
      // A reply to the host is pointless on a new connection: the host has given up on it.
    }

    /** A movie's call: sends the request text, resolves with the host's reply text. */
    send(request) {
      if (this.ended) return Promise.resolve(NULL_XML);
      const id = this.nextId++;
      return new Promise((resolve) => {
        this.pending.set(id, { resolve, sent: false });
        this.post({ type: 'call', id, request: String(request) });
      });
    }

    /** Makes fn callable by the host under name, for as long as owner's page lives. */
    register(name, fn, owner) {
      const list = (this.callbacks.get(name) || []).filter((entry) => entry.owner !== owner);
      list.push({ fn, owner });
      this.callbacks.set(name, list);
    }

    lookup(name) {
      const list = this.callbacks.get(name);
      return list && list.length ? list[list.length - 1].fn : null;
    }

    attach(owner) {
      this.owners = this.owners.filter((o) => o !== owner);
      this.owners.push(owner);
    }

    /** The owner's page is gone: its callbacks go with it. */
    detach(owner) {
      this.owners = this.owners.filter((o) => o !== owner);
      for (const [name, list] of this.callbacks) {
        const kept = list.filter((entry) => entry.owner !== owner);
        if (kept.length) this.callbacks.set(name, kept);
        else this.callbacks.delete(name);
      }
    }

    /** A new start movie replaces everything the old one had registered. */
    forgetAll() {
      this.callbacks.clear();
      this.owners = [];
    }

    /** The window of the movie that loaded last and is still there. */
    currentMovieWindow() {
      for (let i = this.owners.length - 1; i >= 0; i -= 1) {
        const w = this.owners[i].window;
        try {
          if (w && !w.closed && w.document) return w;
        } catch (e) {
          // gone or no longer reachable
        }
      }
      return null;
    }

    receive(text) {
      let message;
      try {
        message = JSON.parse(text);
      } catch (e) {
        return;
      }
      if (!message || typeof message !== 'object') return;
      switch (message.type) {
        case 'return': {
          const call = this.pending.get(message.id);
          if (!call) return;
          this.pending.delete(message.id);
          call.resolve(typeof message.value === 'string' ? message.value : NULL_XML);
          return;
        }
        case 'call':
          this.answer(message.id, message.request);
          return;
        case 'load':
          this.hook('load', Number(message.layer) || 0, String(message.url || ''),
            Array.isArray(message.commands) ? message.commands.map(String) : null);
          return;
        case 'alert':
          this.hook('alert', String(message.caption == null ? '' : message.caption), String(message.text == null ? '' : message.text));
          return;
        case 'exit':
          this.end();
          return;
        default:
      }
    }

    /** Runs the callback that the host's request names and returns its value; unknown names give null. */
    async answer(id, request) {
      let value = NULL_XML;
      try {
        const { name, args } = this.codec.parseInvoke(typeof request === 'string' ? request : '');
        let fn = this.lookup(name);
        if (!fn && typeof this.options.movieCallback === 'function') fn = this.options.movieCallback(name);
        if (fn) value = this.codec.toXml(await fn(...args));
      } catch (e) {
        if (typeof console !== 'undefined') console.error('Tunewick: a movie callback failed', e);
        value = NULL_XML;
      }
      this.post({ type: 'return', id, value });
    }

    /** The program has ended (or another window took over): no more calls, no reconnecting. */
    end(reason = 'exit') {
      if (this.ended) return;
      this.ended = true;
      if (this.retryTimer !== null) this.options.clearTimeout(this.retryTimer);
      this.retryTimer = null;
      for (const call of this.pending.values()) call.resolve(NULL_XML);
      this.pending.clear();
      this.outbox = [];
      const socket = this.socket;
      this.socket = null;
      this.open = false;
      if (socket) {
        try {
          socket.close();
        } catch (e) {
          // already closing
        }
      }
      this.hook('exit', reason);
    }

    hook(name, ...args) {
      const fn = this.options[name];
      if (typeof fn === 'function') fn(...args);
    }
  }
  Bridge.FIRST_RETRY_MS = 250;
  Bridge.LAST_RETRY_MS = 2000;
  Bridge.REPLACED_CODE = 4000;

  // ---------------------------------------------------------------- the page

  // Keys that the movies use; they reach the movie even when the player has the focus.
  const FORWARDED_KEYS = new Set(['Escape', 'Enter', 'ArrowUp', 'ArrowDown', 'ArrowLeft', 'ArrowRight']);
  // Only after a longer outage does the player say so; short drops pass unnoticed.
  const QUIET_OUTAGE_MS = 3000;

  function startPlayer(window) {
    const document = window.document;
    const stage = document.getElementById('stage');
    const frame = document.getElementById('layer0');
    const status = document.getElementById('status');
    const alertDialog = document.getElementById('alert');
    const alerts = [];
    const Flash = window.TunewickFlash;
    let loadedUrl = null;
    let outageTimer = null;
    let swfPlayer = null; // the <ruffle-player> while a SWF movie is shown

    function layout() {
      const { left, top, scale } = stageLayout(window.innerWidth, window.innerHeight);
      stage.style.left = left + 'px';
      stage.style.top = top + 'px';
      stage.style.transform = scale === 1 ? 'none' : 'scale(' + scale + ')';
    }

    function focusMovie() {
      if (swfPlayer) {
        // Keys reach a SWF movie only while its player element has the focus.
        swfPlayer.focus();
        return;
      }
      const w = bridge.currentMovieWindow();
      try {
        if (w) w.focus();
        else frame.focus();
      } catch (e) {
        frame.focus();
      }
    }

    function showMovie(layer, url, commands) {
      if (commands) commandGlobals.define(commands);
      if (layer !== 0) return; // the host only ever loads the start movie, into layer 0
      let target;
      try {
        target = new URL(url, window.location.href);
      } catch (e) {
        return;
      }
      if (target.origin !== window.location.origin) return;
      // After a dropped connection the host sends the same start movie again: keep the
      // page the user is on.
      if (loadedUrl === target.href) return;
      loadedUrl = target.href;
      bridge.forgetAll();
      removeSwf();
      if (Flash.isSwfUrl(target.href)) {
        frame.hidden = true;
        frame.src = 'about:blank';
        showSwf(target.href);
      } else {
        frame.hidden = false;
        frame.src = target.href;
      }
    }

    function removeSwf() {
      if (!swfPlayer) return;
      swfPlayer.remove();
      swfPlayer = null;
    }

    async function showSwf(url) {
      const shownFor = loadedUrl;
      let ruffle;
      try {
        ruffle = await Flash.loadRuffle(window);
      } catch (e) {
        alerts.push({ caption: 'Tunewick', text: 'This movie is a Flash movie, and the Flash player (Ruffle) is not installed with Tunewick.' });
        showNextAlert();
        return;
      }
      if (loadedUrl !== shownFor) return; // another movie was asked for meanwhile
      const player = ruffle.newest().createPlayer();
      player.id = 'swf';
      stage.appendChild(player);
      swfPlayer = player;
      try {
        await player.ruffle().load(Flash.ruffleConfig(url));
      } catch (e) {
        console.error('Tunewick: Ruffle could not load ' + url, e);
      }
      if (swfPlayer === player && !alertDialog.open) focusMovie();
    }

    function showNextAlert() {
      if (alertDialog.open || !alerts.length) return;
      const { caption, text } = alerts.shift();
      document.getElementById('alert-caption').textContent = caption;
      document.getElementById('alert-text').textContent = text;
      if (typeof alertDialog.showModal === 'function') alertDialog.showModal();
      else {
        window.alert(caption + '\n\n' + text);
        showNextAlert();
      }
    }

    function showEnded(reason) {
      document.getElementById('ended').hidden = false;
      status.hidden = true;
      if (reason === 'replaced') {
        document.getElementById('ended-title').textContent = 'Tunewick is open in another window';
        document.getElementById('ended-text').textContent = 'Carry on there; you can close this window.';
        return;
      }
      // Allowed when the window was opened by a script or in app mode; harmless otherwise.
      window.setTimeout(() => window.close(), 1500);
    }

    function connection(isUp) {
      window.clearTimeout(outageTimer);
      if (isUp) {
        status.hidden = true;
        return;
      }
      outageTimer = window.setTimeout(() => {
        status.textContent = 'Reconnecting to Tunewick…';
        status.hidden = false;
      }, QUIET_OUTAGE_MS);
    }

    const token = new URLSearchParams(window.location.search).get('token') || '';
    const scheme = window.location.protocol === 'https:' ? 'wss:' : 'ws:';
    const commandGlobals = new Flash.CommandGlobals(window, (name, args) =>
      Flash.callHostSync({ XMLHttpRequest: window.XMLHttpRequest, token, codec: window.ExternalInterface }, name, args));
    const bridge = new Bridge({
      url: scheme + '//' + window.location.host + '/bridge?token=' + encodeURIComponent(token),
      codec: window.ExternalInterface,
      WebSocket: window.WebSocket,
      setTimeout: window.setTimeout.bind(window),
      clearTimeout: window.clearTimeout.bind(window),
      load: showMovie,
      alert: (caption, text) => {
        alerts.push({ caption, text });
        showNextAlert();
      },
      exit: showEnded,
      connection,
      movieCallback: (name) => Flash.movieCallback(swfPlayer, name),
    });
    window.tunewickBridge = bridge;

    alertDialog.addEventListener('close', () => {
      if (alerts.length) showNextAlert();
      else focusMovie();
    });

    // The player's own guard; each movie's copy of external.js guards its own frame.
    window.ExternalInterface.swallowRightButton(window);
    frame.addEventListener('load', () => {
      try {
        window.ExternalInterface.swallowRightButton(frame.contentWindow);
      } catch (e) {
        // a frame of another origin is not ours to guard
      }
      if (!alertDialog.open) focusMovie();
    });

    // With the focus on the player (after a click on the black border) the keys still
    // reach the movie.
    window.addEventListener('keydown', (event) => {
      if (alertDialog.open || !FORWARDED_KEYS.has(event.key)) return;
      if (swfPlayer) {
        if (!swfPlayer.contains(event.target)) focusMovie();
        return;
      }
      const w = bridge.currentMovieWindow();
      if (!w) return;
      event.preventDefault();
      try {
        const init = { key: event.key, code: event.code, bubbles: true, cancelable: true };
        const target = w.document.activeElement || w.document.body || w.document;
        target.dispatchEvent(new w.KeyboardEvent('keydown', init));
      } catch (e) {
        // the movie went away meanwhile
      }
      focusMovie();
    });
    document.addEventListener('mousedown', (event) => {
      if (event.button === 0 && !alertDialog.open) window.setTimeout(focusMovie, 0);
    });

    window.addEventListener('resize', layout);
    layout();
    bridge.start();
  }

  return { stageLayout, Bridge, startPlayer, STAGE_WIDTH, STAGE_HEIGHT };
});
