// The movies' value and invoke XML (web/player/external.js), written and read in Node.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const EI = require('../../web/player/external.js');

test('writes each kind of value as the host reads it', () => {
  assert.equal(EI.toXml(null), '<null/>');
  assert.equal(EI.toXml(undefined), '<null/>');
  assert.equal(EI.toXml(() => 1), '<null/>');
  assert.equal(EI.toXml(true), '<true/>');
  assert.equal(EI.toXml(false), '<false/>');
  assert.equal(EI.toXml(16), '<number>16</number>');
  assert.equal(EI.toXml(-2.5), '<number>-2.5</number>');
  assert.equal(EI.toXml(0.1), '<number>0.1</number>');
  // strtod on the host reads these spellings back as infinity and NaN.
  assert.equal(EI.toXml(-Infinity), '<number>-Infinity</number>');
  assert.equal(EI.toXml(NaN), '<number>NaN</number>');
  assert.equal(EI.toXml('Menu.html'), '<string>Menu.html</string>');
  assert.equal(EI.toXml(''), '<string></string>');
});

test('escapes markup in strings and property names', () => {
  assert.equal(EI.toXml('a<b & c>d'), '<string>a&lt;b &amp; c&gt;d</string>');
  assert.equal(EI.toXml('&lt;'), '<string>&amp;lt;</string>');
  assert.equal(EI.toXml({ 'say "hi" <now>': 1 }),
    '<object><property id="say &quot;hi&quot; &lt;now&gt;"><number>1</number></property></object>');
});

test('writes arrays and objects as properties, nested to any sensible depth', () => {
  assert.equal(EI.toXml([10, 'x']),
    '<array><property id="0"><number>10</number></property><property id="1"><string>x</string></property></array>');
  assert.equal(EI.toXml({}), '<object></object>');
  assert.equal(EI.toXml({ a: { b: [true] } }),
    '<object><property id="a"><object><property id="b"><array><property id="0"><true/></property></array></property></object></property></object>');
});

test('a value that contains itself, or nests too deep, is cut off as null', () => {
  const loop = { name: 'x' };
  loop.self = loop;
  assert.equal(EI.toXml(loop),
    '<object><property id="name"><string>x</string></property><property id="self"><null/></property></object>');
  // The same object twice side by side is no loop and is written twice.
  const shared = { v: 1 };
  assert.equal(EI.toXml([shared, shared]),
    '<array><property id="0"><object><property id="v"><number>1</number></property></object></property>' +
    '<property id="1"><object><property id="v"><number>1</number></property></object></property></array>');
  let deep = 'bottom';
  for (let i = 0; i < 100; i += 1) deep = [deep];
  const xml = EI.toXml(deep);
  assert.equal((xml.match(/<array>/g) || []).length, 64);
  assert.ok(xml.includes('<null/>'));
  assert.ok(!xml.includes('bottom'));
});

test('writes a call in the invoke form', () => {
  assert.equal(EI.invokeXml('loadSwf', ['Tuner.html']),
    '<invoke name="loadSwf" returntype="xml"><arguments><string>Tuner.html</string></arguments></invoke>');
  assert.equal(EI.invokeXml('goBack', []), '<invoke name="goBack" returntype="xml"><arguments></arguments></invoke>');
  assert.equal(EI.invokeXml('generateMaze', [21, 21]),
    '<invoke name="generateMaze" returntype="xml"><arguments><number>21</number><number>21</number></arguments></invoke>');
  assert.equal(EI.invokeXml('a"b', []), '<invoke name="a&quot;b" returntype="xml"><arguments></arguments></invoke>');
});

test('reads the host\'s replies, names without regard to case', () => {
  assert.equal(EI.fromXml('<null/>'), null);
  assert.equal(EI.fromXml('<true/>'), true);
  assert.equal(EI.fromXml('<TRUE/>'), true);
  assert.equal(EI.fromXml('<False/>'), false);
  assert.equal(EI.fromXml('<NUMBER>3</NUMBER>'), 3);
  assert.equal(EI.fromXml('<foo/>'), null);
  assert.deepEqual(EI.fromXml('<Object><property id="canGoBack"><true/></property><property id="canGoForward"><false/></property></Object>'),
    { canGoBack: true, canGoForward: false });
});

test('reads numbers the way C reads them', () => {
  assert.equal(EI.fromXml('<number>12abc</number>'), 12);
  assert.equal(EI.fromXml('<number>abc</number>'), 0);
  assert.equal(EI.fromXml('<number> 2.5e3</number>'), 2500);
  assert.equal(EI.fromXml('<number>1.23457e+06</number>'), 1234570);
  assert.equal(EI.fromXml('<number>-0.5</number>'), -0.5);
  assert.equal(EI.fromXml('<number>inf</number>'), Infinity);
  assert.equal(EI.fromXml('<number>-inf</number>'), -Infinity);
  assert.ok(Number.isNaN(EI.fromXml('<number>-nan</number>')));
  assert.equal(EI.fromXml('<number></number>'), 0);
});

test('reads string contents the host writes unescaped, keeping every space', () => {
  // A maze row: the spaces are open cells and must survive.
  assert.equal(EI.fromXml('<string>#  E#\n# #</string>'), '#  E#\n# #');
  assert.equal(EI.fromXml('<string>   </string>'), '   ');
  assert.equal(EI.fromXml('<string>a<b</string>'), 'a<b');
  assert.equal(EI.fromXml('<string>x<number>1</number>y</string>'), 'x<number>1</number>y');
  assert.equal(EI.fromXml('<string>fish & chips</string>'), 'fish & chips');
  assert.equal(EI.fromXml('<string>a&lt;b&amp;c&#65;&#x42;&bogus;</string>'), 'a<b&cAB&bogus;');
  // Character references to no character stay as written.
  assert.equal(EI.fromXml('<string>&#x110000;&#xD800;&#0;</string>'), '&#x110000;&#xD800;&#0;');
  assert.equal(EI.fromXml('<string></string>'), '');
  assert.equal(EI.fromXml('<string/>'), '');
  assert.equal(EI.fromXml('<String>no end'), 'no end');
});

test('reads properties as the host\'s reader does', () => {
  // A property without id has the empty key; a repeated id keeps the later value.
  assert.deepEqual(EI.fromXml('<object><property><true/></property></object>'), { '': true });
  assert.deepEqual(EI.fromXml('<object><property id="a"><number>1</number></property><property id="a"><number>2</number></property></object>'), { a: 2 });
  // Elements that are no property are passed over; a property without value is null.
  assert.deepEqual(EI.fromXml('<object><junk/><property id="k"></property></object>'), { k: null });
  assert.deepEqual(EI.fromXml('<array><property id="1"><string>b</string></property><property id="0"><string>a</string></property></array>'), ['a', 'b']);
  // Keys that are no index have no place in an array and are dropped.
  assert.deepEqual(EI.fromXml('<array><property id="length"><number>5</number></property><property id="0"><true/></property></array>'), [true]);
});

test('a hostile key cannot reach the object prototype', () => {
  const value = EI.fromXml('<object><property id="__proto__"><object><property id="polluted"><true/></property></object></property></object>');
  assert.equal(Object.getPrototypeOf(value), Object.prototype);
  assert.deepEqual(Object.keys(value), ['__proto__']);
  assert.equal({}.polluted, undefined);
});

test('never throws on broken text and reads what it can', () => {
  for (const text of ['', '<', '<<<>>>', '</string>', '<object><property id="a">', 'plain text', '<!-- only a comment -->', null, undefined]) {
    assert.doesNotThrow(() => EI.fromXml(text));
  }
  assert.equal(EI.fromXml(''), null);
  assert.deepEqual(EI.fromXml('<object><property id="a"><true/>'), { a: true });
  assert.equal(EI.fromXml('<?xml version="1.0"?><!-- c --><number>7</number>'), 7);
  let deep = '';
  for (let i = 0; i < 200; i += 1) deep += '<array><property id="0">';
  assert.doesNotThrow(() => EI.fromXml(deep + '<true/>'));
});

test('reads the host\'s calls into name and arguments', () => {
  assert.deepEqual(EI.parseInvoke('<invoke name="setTone" returntype="xml"><arguments><number>2</number></arguments></invoke>'),
    { name: 'setTone', args: [2] });
  assert.deepEqual(EI.parseInvoke('<invoke name="setStringTune" returntype="xml"><arguments><null/></arguments></invoke>'),
    { name: 'setStringTune', args: [null] });
  assert.deepEqual(EI.parseInvoke('<invoke name="loadSwf" returntype="xml"><arguments><string>a<b.html</string></arguments></invoke>'),
    { name: 'loadSwf', args: ['a<b.html'] });
  assert.deepEqual(EI.parseInvoke('<invoke name="x"><arguments>text<number>1</number><!-- c --><true/></arguments></invoke>'),
    { name: 'x', args: [1, true] });
  assert.deepEqual(EI.parseInvoke('<invoke name="noArgs"/>'), { name: 'noArgs', args: [] });
  assert.deepEqual(EI.parseInvoke('<call name="x"/>'), { name: '', args: [] });
  assert.deepEqual(EI.parseInvoke(''), { name: '', args: [] });
});

test('what the page writes, it reads back unchanged', () => {
  const value = { title: 'A & B <live>', sizes: [11, 16, 21.5], on: true, off: false, none: null, nested: { deep: ['x', { y: -1e-7 }] } };
  assert.deepEqual(EI.fromXml(EI.toXml(value)), value);
  const call = EI.parseInvoke(EI.invokeXml('demo', ['  spaced  ', 3, [true]]));
  assert.deepEqual(call, { name: 'demo', args: ['  spaced  ', 3, [true]] });
});
