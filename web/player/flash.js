/*
 * Flash movies in the player: a .swf movie plays in Ruffle (served by the host from
 * /ruffle/) on the same 1024 x 768 stage as the HTML5 movies.
 *
 * Movie to host: Ruffle evaluates the name given to ExternalInterface.call as JavaScript
 * and hands the return value back to the movie at once, so a Promise would arrive as {}.
 * Each command the host has is therefore a global function here that sends the invoke XML
 * with a synchronous POST to /call and returns the reply as a plain JS value. A name the
 * host has no command for stays undefined, which the movie reads as null.
 *
 * Host to movie: ExternalInterface.addCallback makes player[name] a function on the
 * <ruffle-player> element; the host's calls go there.
 *
 * The parts without a DOM load in Node for tests.
 */
(function (root, factory) {
  'use strict';
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.TunewickFlash = api;
})(typeof window !== 'undefined' ? window : globalThis, function () {
  'use strict';

  const CALL_PATH = '/call';
  const IDENTIFIER = /^[A-Za-z_$][A-Za-z0-9_$]*$/;

  function isSwfUrl(url) {
    return /\.swf$/i.test(new URL(url, 'http://host/').pathname);
  }

  /**
   * One movie call, answered before it returns: the invoke XML goes to the host by a
   * synchronous POST; whatever goes wrong on the way reads as null, as in Flash.
   * options: XMLHttpRequest (the constructor), token, codec (invokeXml, fromXml).
   */
  function callHostSync(options, name, args) {
    const xhr = new options.XMLHttpRequest();
    try {
      xhr.open('POST', CALL_PATH + '?token=' + encodeURIComponent(options.token), false);
      xhr.setRequestHeader('Content-Type', 'application/xml; charset=utf-8');
      xhr.send(options.codec.invokeXml(name, Array.from(args, (a) => (a === undefined ? null : a))));
    } catch (e) {
      return null; // the host is gone or refused the connection
    }
    if (xhr.status !== 200) return null;
    return options.codec.fromXml(xhr.responseText);
  }

  /**
   * Keeps one global function per host command on target (the player's window). A new list
   * replaces the old one; names that are no JS identifier, or that the window already has
   * for itself, are left alone (a movie could not call them anyway).
   */
  class CommandGlobals {
    constructor(target, call) {
      this.target = target;
      this.call = call;
      this.defined = new Set();
    }

    define(names) {
      const wanted = new Set(names.map(String).filter((n) => IDENTIFIER.test(n)));
      for (const name of this.defined) {
        if (!wanted.has(name)) {
          delete this.target[name];
          this.defined.delete(name);
        }
      }
      for (const name of wanted) {
        if (this.defined.has(name) || name in this.target) continue;
        const call = this.call;
        Object.defineProperty(this.target, name, {
          value: function (...args) {
            return call(name, args);
          },
          configurable: true,
          writable: true,
        });
        this.defined.add(name);
      }
      return [...this.defined].sort();
    }
  }

  /** The callback a SWF movie registered under name on its player element, or null. */
  function movieCallback(player, name) {
    if (!player || typeof name !== 'string' || name === '') return null;
    if (!Object.prototype.hasOwnProperty.call(player, name)) return null;
    const fn = player[name];
    return typeof fn === 'function' ? (...args) => fn.apply(player, args) : null;
  }

  /** What Ruffle is given for a movie at url (absolute), shown in a 1024 x 768 stage. */
  function ruffleConfig(url) {
    const base = new URL('.', url).href;
    return {
      url,
      base, // relative names in the movie resolve against its own folder
      allowScriptAccess: true, // ExternalInterface does nothing without it
      // Without a GPU the default renderer puts up a notice that swallows the first click.
      preferredRenderer: 'webgl',
      autoplay: 'on',
      unmuteOverlay: 'hidden',
      splashScreen: false,
      contextMenu: 'off',
      letterbox: 'on',
      polyfills: false,
      warnOnUnsupportedContent: false,
      openUrlMode: 'deny',
      upgradeToHttps: false,
      // Flash's device fonts: _typewriter must be monospaced for the maze.
      fontSources: ['/ruffle/fonts/DejaVuSans.ttf', '/ruffle/fonts/DejaVuSans-Bold.ttf', '/ruffle/fonts/DejaVuSansMono.ttf'],
      defaultFonts: { sans: ['DejaVu Sans'], serif: ['DejaVu Sans'], typewriter: ['DejaVu Sans Mono'] },
    };
  }

  /**
   * Loads Ruffle into the page once (a script from the host itself); resolves with its
   * RufflePlayer API.
   */
  let ruffleLoading = null;
  function loadRuffle(window) {
    if (!ruffleLoading) {
      ruffleLoading = new Promise((resolve, reject) => {
        window.RufflePlayer = window.RufflePlayer || {};
        window.RufflePlayer.config = { polyfills: false, publicPath: '/ruffle/' };
        const script = window.document.createElement('script');
        script.src = '/ruffle/ruffle.js';
        script.onload = () => resolve(window.RufflePlayer);
        script.onerror = () => {
          ruffleLoading = null;
          reject(new Error('Ruffle could not be loaded from /ruffle/ruffle.js'));
        };
        window.document.head.appendChild(script);
      });
    }
    return ruffleLoading;
  }

  return { CALL_PATH, isSwfUrl, callHostSync, CommandGlobals, movieCallback, ruffleConfig, loadRuffle };
});
