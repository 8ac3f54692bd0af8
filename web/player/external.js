/*
 * The movies' window on the host, shaped like Flash's ExternalInterface:
 *   ExternalInterface.call(name, ...args)   -> Promise of the host's reply value
 *   ExternalInterface.addCallback(name, fn) -> fn becomes callable by the host
 *
 * Requests travel as the host's invoke XML and values as its value XML. The one
 * WebSocket lives in the player (the top window); movies in frames of the same origin
 * reach it through window.tunewickBridge of an ancestor window.
 *
 * The same file also serves as the player's codec and loads in Node for tests.
 */
(function (root, factory) {
  'use strict';
  const api = factory(root);
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.ExternalInterface = api;
})(typeof window !== 'undefined' ? window : globalThis, function (root) {
  'use strict';

  // The host refuses values nested deeper than this, so the page never writes them.
  const MAX_DEPTH = 64;

  // ---------------------------------------------------------------- writing

  function escapeText(text) {
    return String(text).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
  }

  function escapeAttribute(text) {
    return escapeText(text).replace(/"/g, '&quot;');
  }

  function propertiesXml(entries, depth, seen) {
    let out = '';
    for (const [key, value] of entries) {
      out += '<property id="' + escapeAttribute(key) + '">' + valueXml(value, depth + 1, seen) + '</property>';
    }
    return out;
  }

  function valueXml(value, depth, seen) {
    switch (typeof value) {
      case 'boolean':
        return value ? '<true/>' : '<false/>';
      case 'number':
        // String() gives "Infinity" and "NaN", which the host's number reader understands.
        return '<number>' + String(value) + '</number>';
      case 'bigint':
        return '<number>' + String(Number(value)) + '</number>';
      case 'string':
        return '<string>' + escapeText(value) + '</string>';
      case 'object':
        break;
      default:
        return '<null/>'; // undefined, functions, symbols
    }
    if (value === null || depth >= MAX_DEPTH || seen.has(value)) return '<null/>';
    seen.add(value);
    try {
      if (Array.isArray(value)) {
        return '<array>' + propertiesXml(value.map((v, i) => [String(i), v]), depth, seen) + '</array>';
      }
      return '<object>' + propertiesXml(Object.entries(value), depth, seen) + '</object>';
    } finally {
      seen.delete(value);
    }
  }

  /** The value XML of a JS value: null, booleans, numbers, strings, arrays, objects. */
  function toXml(value) {
    return valueXml(value, 0, new Set());
  }

  /** The request of a call: <invoke name="NAME" returntype="xml"><arguments>…</arguments></invoke>. */
  function invokeXml(name, args) {
    return '<invoke name="' + escapeAttribute(name) + '" returntype="xml"><arguments>' +
      (args || []).map(toXml).join('') + '</arguments></invoke>';
  }

  // ---------------------------------------------------------------- reading
  //
  // A forgiving reader: the host writes string contents unescaped, so "<string>a<b</string>"
  // must still read as "a<b". String elements are therefore raw text up to their end tag;
  // everything else is read as plain nested elements, and an end tag closes the element
  // that is open whatever its name. Nothing here throws on bad input.

  const ENTITIES = { lt: '<', gt: '>', amp: '&', quot: '"', apos: "'" };

  function decodeEntities(text) {
    return text.replace(/&(#x[0-9a-fA-F]+|#[0-9]+|[a-zA-Z]+);/g, (whole, body) => {
      if (body[0] === '#') {
        const code = body[1] === 'x' || body[1] === 'X' ? parseInt(body.slice(2), 16) : parseInt(body.slice(1), 10);
        return code > 0 && code <= 0x10ffff && !(code >= 0xd800 && code <= 0xdfff) ? String.fromCodePoint(code) : whole;
      }
      return Object.prototype.hasOwnProperty.call(ENTITIES, body) ? ENTITIES[body] : whole;
    });
  }

  function parseDocument(text) {
    const src = String(text == null ? '' : text);
    const top = { name: '#document', attrs: {}, children: [] };
    const stack = [top];
    let i = 0;
    const current = () => stack[stack.length - 1];

    while (i < src.length) {
      const lt = src.indexOf('<', i);
      if (lt < 0) {
        current().children.push(decodeEntities(src.slice(i)));
        break;
      }
      if (lt > i) current().children.push(decodeEntities(src.slice(i, lt)));
      i = lt;
      if (src.startsWith('<!--', i)) {
        const end = src.indexOf('-->', i + 4);
        i = end < 0 ? src.length : end + 3;
      } else if (src.startsWith('<?', i) || src.startsWith('<!', i)) {
        const end = src.indexOf('>', i);
        i = end < 0 ? src.length : end + 1;
      } else if (src.startsWith('</', i)) {
        const end = src.indexOf('>', i);
        i = end < 0 ? src.length : end + 1;
        if (stack.length > 1) stack.pop();
      } else {
        const tag = /^<([^\s/>]+)((?:\s+[^\s=/>]+(?:\s*=\s*(?:"[^"]*"|'[^']*'|[^\s>]+))?)*)\s*(\/?)>/.exec(src.slice(i));
        if (!tag) {
          // A lone "<" in text: keep it as text.
          current().children.push('<');
          i += 1;
          continue;
        }
        const element = { name: tag[1], attrs: parseAttributes(tag[2]), children: [] };
        current().children.push(element);
        i += tag[0].length;
        if (tag[3] === '/') continue;
        if (element.name.toLowerCase() === 'string') {
          const close = findCloseTag(src, i, 'string');
          element.children.push(decodeEntities(src.slice(i, close.start)));
          i = close.end;
        } else {
          stack.push(element);
        }
      }
    }
    return top;
  }

  function parseAttributes(text) {
    const attrs = {};
    const re = /([^\s=/>]+)(?:\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s>]+)))?/g;
    let m;
    while ((m = re.exec(text)) !== null) {
      const value = m[2] !== undefined ? m[2] : m[3] !== undefined ? m[3] : m[4] !== undefined ? m[4] : '';
      attrs[m[1]] = decodeEntities(value);
    }
    return attrs;
  }

  function findCloseTag(src, from, name) {
    const re = new RegExp('</' + name + '\\s*>', 'ig');
    re.lastIndex = from;
    const m = re.exec(src);
    return m ? { start: m.index, end: m.index + m[0].length } : { start: src.length, end: src.length };
  }

  const elementsOf = (node) => node.children.filter((c) => typeof c !== 'string');
  const textOf = (node) => node.children.filter((c) => typeof c === 'string').join('');

  // What C's strtod makes of a number text: leading blanks skipped, the longest number
  // prefix taken, no number at all gives 0.
  function parseNumber(text) {
    const s = String(text).replace(/^\s+/, '');
    const special = /^([+-]?)(inf(?:inity)?|nan)/i.exec(s);
    if (special) {
      if (special[2].toLowerCase() === 'nan') return NaN;
      return special[1] === '-' ? -Infinity : Infinity;
    }
    const n = parseFloat(s);
    return Number.isNaN(n) ? 0 : n;
  }

  function valueFromNode(node, depth) {
    if (!node || typeof node === 'string' || depth > MAX_DEPTH) return null;
    switch (node.name.toLowerCase()) {
      case 'object':
      case 'array': {
        const isArray = node.name.toLowerCase() === 'array';
        const result = isArray ? [] : {};
        for (const property of elementsOf(node)) {
          if (property.name.toLowerCase() !== 'property') continue;
          const key = property.attrs.id !== undefined ? property.attrs.id : '';
          const value = valueFromNode(elementsOf(property)[0], depth + 1);
          if (isArray) {
            // Only element indices make sense in an array ("length" would even throw).
            if (/^(0|[1-9][0-9]{0,8})$/.test(key)) result[Number(key)] = value;
          } else {
            Object.defineProperty(result, key, { value, enumerable: true, writable: true, configurable: true });
          }
        }
        return result;
      }
      case 'number':
        return parseNumber(textOf(node));
      case 'string':
        return textOf(node);
      case 'true':
        return true;
      case 'false':
        return false;
      default:
        return null;
    }
  }

  /** The JS value of a value XML text; whatever cannot be read is null. */
  function fromXml(text) {
    return valueFromNode(elementsOf(parseDocument(text))[0], 0);
  }

  /** Name and arguments of an invoke request; a text that is no invoke names nothing. */
  function parseInvoke(text) {
    const rootElement = elementsOf(parseDocument(text))[0];
    if (!rootElement || rootElement.name.toLowerCase() !== 'invoke') return { name: '', args: [] };
    const name = rootElement.attrs.name !== undefined ? rootElement.attrs.name : '';
    const argumentsElement = elementsOf(rootElement).find((e) => e.name.toLowerCase() === 'arguments');
    const args = argumentsElement ? elementsOf(argumentsElement).map((e) => valueFromNode(e, 0)) : [];
    return { name, args };
  }

  // ---------------------------------------------------------------- the bridge

  // The player's bridge in this window or the nearest ancestor of the same origin.
  function findBridge() {
    let w = root;
    for (let hops = 0; w && hops < 16; hops += 1) {
      try {
        if (w.tunewickBridge) return w.tunewickBridge;
      } catch (e) {
        return null; // an ancestor of another origin: no way through
      }
      if (!w.parent || w.parent === w) break;
      w = w.parent;
    }
    return null;
  }

  // Each loaded copy of this file is one owner of callbacks; they go when its page goes.
  const owner = { window: root };

  function call(name, ...args) {
    const bridge = findBridge();
    if (!bridge) {
      // Like Flash without a container: the call does nothing and answers null.
      return Promise.resolve(null);
    }
    return bridge.send(invokeXml(name, args)).then(fromXml);
  }

  function addCallback(name, fn) {
    const bridge = findBridge();
    if (!bridge || typeof fn !== 'function') return false;
    bridge.register(String(name), fn, owner);
    return true;
  }

  // Right-button presses and the context menu never reach a movie.
  function swallowRightButton(target) {
    const stop = (event) => {
      if (event.type === 'contextmenu' || event.button === 2) {
        event.preventDefault();
        event.stopImmediatePropagation();
      }
    };
    for (const type of ['contextmenu', 'mousedown', 'pointerdown']) target.addEventListener(type, stop, true);
  }

  if (typeof root.addEventListener === 'function' && root.document) {
    swallowRightButton(root);
    const bridge = findBridge();
    if (bridge && typeof bridge.attach === 'function') bridge.attach(owner);
    root.addEventListener('pagehide', () => {
      const b = findBridge();
      if (b) b.detach(owner);
    });
  }

  return {
    call,
    addCallback,
    get available() {
      return findBridge() !== null;
    },
    toXml,
    fromXml,
    invokeXml,
    parseInvoke,
    swallowRightButton,
  };
});
