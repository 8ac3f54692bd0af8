/*
 * What every page movie shares: the top bar with back, forward and home, whose buttons
 * follow the host's history ("getHistoryInfo" on entry and after each step), and the
 * keyboard: Esc leaves a page for the menu (or closes the question that is open).
 */
const Tunewick = (() => {
  'use strict';
  const EI = window.ExternalInterface;
  const MENU = 'Menu.html';

  const ICONS = {
    back: '<svg viewBox="0 0 24 24" aria-hidden="true"><path d="M15 4 7 12l8 8" fill="none" stroke="currentColor" stroke-width="3" stroke-linecap="round" stroke-linejoin="round"/></svg>',
    forward: '<svg viewBox="0 0 24 24" aria-hidden="true"><path d="m9 4 8 8-8 8" fill="none" stroke="currentColor" stroke-width="3" stroke-linecap="round" stroke-linejoin="round"/></svg>',
    home: '<svg viewBox="0 0 24 24" aria-hidden="true"><path d="M3 11.5 12 4l9 7.5M6 10v10h4.5v-6h3v6H18V10" fill="none" stroke="currentColor" stroke-width="2.4" stroke-linejoin="round"/></svg>',
    pick: '<svg viewBox="0 0 26 30" aria-hidden="true"><path d="M13 29C7 22 1 14 1 8.5 1 3.5 6 1 13 1s12 2.5 12 7.5C25 14 19 22 13 29Z" fill="#f0a030" stroke="#ffd089" stroke-width="1.5"/><path d="M9 9.5c2-2 6-2 8 0" stroke="#2b1d14" stroke-width="2" fill="none" stroke-linecap="round"/></svg>',
  };

  let backButton = null;
  let forwardButton = null;
  let stepping = false;
  let escapeHandler = null;

  function call(name, ...args) {
    return EI.call(name, ...args);
  }

  function addCallback(name, fn) {
    return EI.addCallback(name, fn);
  }

  async function refreshHistory() {
    let info = null;
    try {
      info = await call('getHistoryInfo');
    } catch (e) {
      info = null;
    }
    const canGoBack = !!(info && info.canGoBack === true);
    const canGoForward = !!(info && info.canGoForward === true);
    if (backButton) backButton.disabled = stepping || !canGoBack;
    if (forwardButton) forwardButton.disabled = stepping || !canGoForward;
    document.body.dataset.history = (canGoBack ? 'back' : '') + (canGoForward ? 'forward' : '');
    return { canGoBack, canGoForward };
  }

  // One step at a time: the buttons stay off until the host has answered.
  async function step(command) {
    if (stepping) return false;
    stepping = true;
    backButton.disabled = true;
    forwardButton.disabled = true;
    let moved = false;
    try {
      moved = (await call(command)) === true;
    } finally {
      stepping = false;
    }
    // When the step was taken the next page replaces this one; otherwise show where we are.
    await refreshHistory();
    return moved;
  }

  function goHome() {
    return call('loadSwf', MENU);
  }

  function button(className, label, icon, title) {
    const b = document.createElement('button');
    b.type = 'button';
    b.className = className;
    b.innerHTML = icon + '<span>' + label + '</span>';
    if (title) b.title = title;
    return b;
  }

  /**
   * Builds the top bar of a page. options.title: the page's name; options.isMenu: the menu
   * page itself (its home button is off); options.onEscape: what Esc does instead of
   * going home.
   */
  function page(options) {
    const bar = document.createElement('header');
    bar.className = 'topbar';
    backButton = button('btn nav-back', 'Back', ICONS.back, 'The page before');
    forwardButton = button('btn nav-forward', 'Forward', ICONS.forward, 'The page after');
    const homeButton = button('btn nav-home', 'Menu', ICONS.home, 'Back to the menu');
    backButton.disabled = true;
    forwardButton.disabled = true;
    homeButton.disabled = !!options.isMenu;
    backButton.addEventListener('click', () => step('goBack'));
    forwardButton.addEventListener('click', () => step('goForward'));
    homeButton.addEventListener('click', goHome);

    // The page's name is its one level-one heading.
    const title = document.createElement('h1');
    title.className = 'title';
    title.textContent = options.title;
    const brand = document.createElement('div');
    brand.className = 'brand';
    brand.innerHTML = ICONS.pick + '<span>Tunewick</span>';

    bar.append(backButton, forwardButton, homeButton, title, brand);
    document.body.prepend(bar);
    escapeHandler = options.onEscape || null;
    refreshHistory();
  }

  document.addEventListener('keydown', (event) => {
    if (event.key !== 'Escape') return;
    const open = document.querySelector('dialog[open]');
    if (open) return; // the dialog closes itself on Esc
    event.preventDefault();
    if (escapeHandler) escapeHandler();
    else goHome();
  });

  // The page takes the keyboard as soon as it is shown.
  window.addEventListener('load', () => window.focus());

  return { call, addCallback, page, refreshHistory, goHome, step, MENU };
})();
