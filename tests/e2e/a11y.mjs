// What the end-to-end tests use to hold a page to the needs of screen-reader, voice-control
// and keyboard users: axe-core's rules run inside a page's frame, and walks by keyboard alone
// that check where the focus goes and that it can be seen.
import fs from 'node:fs';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
let axeSource;
try {
  axeSource = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
} catch (e) {
  throw new Error('axe-core is missing: run scripts/setup (npm ci in tests/e2e) first');
}

// Impacts that fail a test; the others are printed for whoever reads the log.
const FAILING = new Set(['serious', 'critical']);

/** One line per offending element: rule, impact, where, and axe's own summary. */
export function describeViolations(violations) {
  return violations.flatMap((v) => v.nodes.map((n) =>
    `  [${v.impact}] ${v.id}: ${v.help}\n    at ${n.target.join(' ')}\n    ${(n.failureSummary || '').replace(/\n/g, '\n    ')}`)).join('\n');
}

/**
 * Runs axe-core over the document of a page (a playwright Frame or Page), as it is now.
 * Throws on any serious or critical violation, listing each element and what is wrong with
 * it; prints the moderate and minor ones. Resolves to axe's results, for checks of a rule.
 */
export async function expectAccessible(frameOrPage, label) {
  // Evaluated rather than added as a script tag: no page's policy on scripts can stop it,
  // and nothing is left in its markup.
  const loaded = await frameOrPage.evaluate(() => typeof window.axe === 'object');
  if (!loaded) await frameOrPage.evaluate(axeSource);
  const results = await frameOrPage.evaluate(async () => {
    // One run at a time per document: axe refuses to start while another is running.
    window.__axeRun = (window.__axeRun || Promise.resolve()).then(() =>
      window.axe.run(document, { iframes: false, resultTypes: ['violations', 'passes'] }));
    const r = await window.__axeRun;
    const slim = (list) => list.map((v) => ({
      id: v.id, impact: v.impact, help: v.help,
      nodes: v.nodes.map((n) => ({ target: n.target.map(String), failureSummary: n.failureSummary })),
    }));
    return { violations: slim(r.violations), passes: slim(r.passes) };
  });
  const failing = results.violations.filter((v) => FAILING.has(v.impact));
  const others = results.violations.filter((v) => !FAILING.has(v.impact));
  if (others.length) console.log(`axe (${label}): not failing, worth a look:\n${describeViolations(others)}`);
  if (failing.length) throw new Error(`axe (${label}): serious or critical violations:\n${describeViolations(failing)}`);
  return results;
}

// Inside a page: what the focused element is, where it is, and whether its focus shows.
// Runs in the page (serialised by playwright), so it takes everything it needs as arguments.
function focusedInPage() {
  const el = document.activeElement;
  if (!document.hasFocus() || !el || el === document.body || el === document.documentElement) return null;
  const describe = (e) => {
    if (e.id) return '#' + e.id;
    // Classes that come and go with a control's state do not name it.
    const cls = [...e.classList].filter((c) => !['selected', 'detected', 'active'].includes(c)).map((c) => '.' + c).join('');
    const data = [...e.attributes].filter((a) => a.name.startsWith('data-')).map((a) => `[${a.name}="${a.value}"]`).join('');
    return e.tagName.toLowerCase() + cls + data;
  };
  const box = el.getBoundingClientRect();
  const style = getComputedStyle(el);
  const outline = style.outlineStyle !== 'none' && parseFloat(style.outlineWidth) >= 2;
  return {
    name: describe(el),
    box: { left: box.left, top: box.top, right: box.right, bottom: box.bottom },
    // A focus ring: an outline of some width on the element itself while it shows focus.
    ring: el.matches(':focus-visible') && outline,
  };
}

// Every control a user can reach on the page now: shown, enabled, not taken out of the order,
// and not hidden behind a modal dialog.
function reachableInPage() {
  const modal = document.querySelector('dialog[open]');
  const scope = modal && modal.matches(':modal') ? modal : document;
  const selector = 'button, select, input, textarea, a[href], [tabindex], [contenteditable="true"]';
  const describe = (e) => {
    if (e.id) return '#' + e.id;
    // Classes that come and go with a control's state do not name it.
    const cls = [...e.classList].filter((c) => !['selected', 'detected', 'active'].includes(c)).map((c) => '.' + c).join('');
    const data = [...e.attributes].filter((a) => a.name.startsWith('data-')).map((a) => `[${a.name}="${a.value}"]`).join('');
    return e.tagName.toLowerCase() + cls + data;
  };
  return [...scope.querySelectorAll(selector)]
    .filter((e) => !e.disabled && e.tabIndex >= 0 && e.getClientRects().length > 0
      && getComputedStyle(e).visibility !== 'hidden' && !e.closest('[inert]'))
    // Of a group of radio buttons only one takes the focus; the arrows move within it.
    .filter((e) => !(e.type === 'radio' && e.name && !e.checked
      && [...document.getElementsByName(e.name)].some((o) => o.checked)))
    .map(describe);
}

/**
 * Whether stepping from one focused box to the next follows the reading order: down or on
 * along the same row, or up only into a new column to the right. Boxes are viewport
 * rectangles ({left, top, right, bottom}); a few pixels of overlap are allowed.
 */
export function followsVisualOrder(from, to, slack = 4) {
  const sameRow = to.top < from.bottom - slack && to.bottom > from.top + slack;
  if (sameRow) return to.left >= from.left - slack;
  if (to.top >= from.bottom - slack) return true; // a later row
  return to.left >= from.right - slack; // above: only as the start of a column further right
}

/**
 * Walks a page movie by the Tab key alone, from before its first control until the focus
 * leaves it or comes back round. Checks each stop: its focus ring shows, and it follows the
 * previous one in reading order. With `expect` (CSS selectors) a stop matching each must be
 * reached, in that order; with `all` (the default) every control the page offers now must be
 * reached. Resolves to the names of the stops ("#id", or tag.class[data-…] without the
 * classes of a state), in order.
 */
export async function walkByKeyboard(page, frame, { expect = null, all = true, maxSteps = 60, visualOrder = true } = {}) {
  // Tab goes on from where the focus was last; a stand-in at the very start of the page (or
  // of its open modal dialog, outside which nothing takes the focus) makes that the start.
  await frame.evaluate(() => {
    const modal = document.querySelector('dialog[open]');
    const start = document.createElement('span');
    start.tabIndex = -1;
    start.dataset.walkStart = '';
    (modal && modal.matches(':modal') ? modal : document.body).prepend(start);
    window.focus();
    start.focus();
  });
  const stops = [];
  const problems = [];
  for (let i = 0; i < maxSteps; i += 1) {
    await page.keyboard.press('Tab');
    if (i === 0) await frame.evaluate(() => document.querySelector('[data-walk-start]')?.remove());
    const now = await frame.evaluate(focusedInPage);
    if (!now) {
      if (stops.length) break; // gone on past the page's last control
      continue; // still on the way in from the player around it
    }
    if (stops.length && now.name === stops[0].name) break; // round again
    if (expect) now.matches = await frame.evaluate((selectors) => selectors.map((s) => document.activeElement.matches(s)), expect);
    if (!now.ring) problems.push(`${now.name}: no visible focus ring`);
    const last = stops.at(-1);
    if (visualOrder && last && !followsVisualOrder(last.box, now.box)) {
      problems.push(`${last.name} → ${now.name}: against the reading order (${JSON.stringify(last.box)} then ${JSON.stringify(now.box)})`);
    }
    stops.push(now);
  }
  const names = stops.map((s) => s.name);
  if (expect) {
    let at = 0;
    expect.forEach((want, k) => {
      const found = stops.findIndex((s, i) => i >= at && s.matches[k]);
      if (found < 0) problems.push(`${want} not reached in order (walk: ${names.join(', ')})`);
      else at = found + 1;
    });
  }
  if (all) {
    const missed = (await frame.evaluate(reachableInPage)).filter((n) => !names.includes(n));
    if (missed.length) problems.push(`not reached by Tab: ${missed.join(', ')} (walk: ${names.join(', ')})`);
  }
  if (problems.length) throw new Error(`keyboard walk:\n  ${problems.join('\n  ')}`);
  return names;
}

/** Whether the element of the frame that has the focus matches a CSS selector. */
export function hasFocus(frame, selector) {
  return frame.evaluate((s) => document.hasFocus() && !!document.activeElement && document.activeElement.matches(s), selector);
}

/** Tabs until an element matching `selector` has the focus; throws when none ever does. */
export async function tabTo(page, frame, selector, maxSteps = 60) {
  for (let i = 0; i < maxSteps; i += 1) {
    if (await hasFocus(frame, selector)) return;
    await page.keyboard.press('Tab');
  }
  throw new Error(`${selector} never took the focus in ${maxSteps} presses of Tab`);
}
