// Pages, history and the player: the host with its movies in headless Chromium.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startHost, openPlayer, currentMovie, historyButtons, loaderFrame, screenshot, waitUntil } from './harness.mjs';

let host;
let player;

before(async () => {
  host = await startHost({ segments: [{ seconds: 1, partials: [] }] });
  player = await openPlayer(host.url);
});

after(async () => {
  if (player) await player.close();
  if (host) await host.stop();
});

// Whatever page is shown, its home button leads to the menu.
async function goHome(page) {
  const shown = loaderFrame(page).childFrames()[0];
  if (!shown.url().endsWith('/Menu.html')) await shown.click('.nav-home');
  return currentMovie(page, 'Menu.html');
}

const buttonsAre = (frame, expected) =>
  waitUntil(async () => {
    const now = await historyButtons(frame);
    return now.back === expected.back && now.forward === expected.forward;
  }, `history buttons ${JSON.stringify(expected)}`);

test('the start movie shows the menu, with nowhere to step yet', async () => {
  const { page } = player;
  const menu = await currentMovie(page, 'Menu.html');
  await buttonsAre(menu, { back: false, forward: false });
  assert.equal(await menu.locator('.topbar .title').textContent(), 'Menu');
  assert.ok(await menu.locator('.nav-home').isDisabled(), 'home is off on the menu itself');
  for (const id of ['#go-tuner', '#go-notes', '#go-recorder', '#go-maze', '#quit']) {
    assert.ok(await menu.locator(id).isVisible(), `${id} is on the menu`);
  }
  await screenshot(page, 'Menu');
});

test('back and forward walk the history; a new page after going back drops the pages ahead', async () => {
  const { page } = player;
  let frame = await currentMovie(page, 'Menu.html');
  await frame.click('#go-tuner');
  frame = await currentMovie(page, 'Tuner.html');
  await buttonsAre(frame, { back: true, forward: false });

  await frame.click('.nav-back');
  frame = await currentMovie(page, 'Menu.html');
  await buttonsAre(frame, { back: false, forward: true });

  await frame.click('.nav-forward');
  frame = await currentMovie(page, 'Tuner.html');
  await buttonsAre(frame, { back: true, forward: false });

  // History now: Menu, Tuner. Back to the menu, then a new page: Tuner is dropped.
  await frame.click('.nav-back');
  frame = await currentMovie(page, 'Menu.html');
  await frame.click('#go-maze');
  frame = await currentMovie(page, 'Maze.html');
  await buttonsAre(frame, { back: true, forward: false });
  await frame.click('.nav-back');
  frame = await currentMovie(page, 'Menu.html');
  await buttonsAre(frame, { back: false, forward: true });
  await frame.click('.nav-forward');
  frame = await currentMovie(page, 'Maze.html');

  // Home loads the menu as a new page: back leads to the maze again.
  await frame.click('.nav-home');
  frame = await currentMovie(page, 'Menu.html');
  await buttonsAre(frame, { back: true, forward: false });
  await frame.click('.nav-back');
  await currentMovie(page, 'Maze.html');
});

test('every page can be reached from the menu and shows its own controls', async () => {
  const { page } = player;
  const pages = [
    ['#go-tuner', 'Tuner.html', 'Tuner', '#strings .string'],
    ['#go-notes', 'Notes.html', 'Notes', '#board .string'],
    ['#go-recorder', 'Recorder.html', 'Recorder', '#record'],
    ['#go-maze', 'Maze.html', 'Maze', '#maze'],
  ];
  let menu = await goHome(page);
  for (const [card, file, title, control] of pages) {
    await menu.click(card);
    const shown = await currentMovie(page, file);
    assert.equal(await shown.locator('.topbar .title').textContent(), title);
    assert.ok((await shown.locator(control).count()) > 0, `${file} has ${control}`);
    menu = await goHome(page);
  }
  assert.deepEqual(player.errors, []);
});

test('a page name that leads nowhere shows a way back instead of a dead end', async () => {
  const { page } = player;
  const menu = await currentMovie(page, 'Menu.html');
  await menu.evaluate(() => ExternalInterface.call('loadSwf', 'NoSuchPage.html'));
  const loader = loaderFrame(page);
  await waitUntil(() => loader.locator('#missing').isVisible(), 'the missing-page notice');
  assert.match(await loader.locator('#missing-name').textContent(), /NoSuchPage\.html/);
  // A name pointing off the program's own pages is refused the same way.
  await loader.evaluate(() => ExternalInterface.call('loadSwf', 'http://example.invalid/x.html'));
  await waitUntil(async () => /example\.invalid/.test(await loader.locator('#missing-name').textContent()), 'the refused name');
  await loader.click('#missing-menu');
  await currentMovie(page, 'Menu.html');
  assert.ok(await loader.locator('#missing').isHidden());
});

test('right-button presses and the context menu never reach a movie', async () => {
  const { page } = player;
  const menu = await currentMovie(page, 'Menu.html');
  const outcome = await menu.evaluate(() => {
    const seen = [];
    const card = document.getElementById('go-notes');
    card.addEventListener('mousedown', (e) => seen.push('mousedown' + e.button));
    card.addEventListener('contextmenu', () => seen.push('contextmenu'));
    const right = new MouseEvent('mousedown', { button: 2, bubbles: true, cancelable: true });
    const menuEvent = new MouseEvent('contextmenu', { button: 2, bubbles: true, cancelable: true });
    const left = new MouseEvent('mousedown', { button: 0, bubbles: true, cancelable: true });
    card.dispatchEvent(right);
    card.dispatchEvent(menuEvent);
    card.dispatchEvent(left);
    return { seen, rightPrevented: right.defaultPrevented, menuPrevented: menuEvent.defaultPrevented };
  });
  assert.deepEqual(outcome, { seen: ['mousedown0'], rightPrevented: true, menuPrevented: true });
  // A real right click on the stage changes nothing either.
  await page.mouse.click(300, 300, { button: 'right' });
  await currentMovie(page, 'Menu.html');
});

test('the stage is centred in a large window and scaled down in a small one', async () => {
  const { page } = player;
  const stageBox = () => page.evaluate(() => {
    const r = document.getElementById('stage').getBoundingClientRect();
    return { x: r.x, y: r.y, width: r.width, height: r.height };
  });
  await page.setViewportSize({ width: 1280, height: 1024 });
  await waitUntil(async () => (await stageBox()).x === 128, 'the stage to move');
  assert.deepEqual(await stageBox(), { x: 128, y: 128, width: 1024, height: 768 });
  await page.setViewportSize({ width: 800, height: 600 });
  await waitUntil(async () => (await stageBox()).width === 800, 'the stage to shrink');
  assert.deepEqual(await stageBox(), { x: 0, y: 0, width: 800, height: 600 });
  await page.setViewportSize({ width: 1024, height: 768 });
  await waitUntil(async () => (await stageBox()).width === 1024, 'the stage to grow back');
});

test('Esc reaches the movie, also when the player itself has the focus', async () => {
  const { page } = player;
  let menu = await currentMovie(page, 'Menu.html');
  await menu.click('#go-recorder');
  await currentMovie(page, 'Recorder.html');
  // On a page, Esc leads back to the menu.
  await page.keyboard.press('Escape');
  menu = await currentMovie(page, 'Menu.html');
  // A click on the black border takes the focus away from the movie; Esc still arrives.
  await page.setViewportSize({ width: 1280, height: 1024 });
  await menu.click('#go-notes');
  await currentMovie(page, 'Notes.html');
  await page.mouse.click(20, 20);
  await page.keyboard.press('Escape');
  menu = await currentMovie(page, 'Menu.html');
  await page.setViewportSize({ width: 1024, height: 768 });
  // On the menu, Esc asks whether to quit; Esc again closes the question.
  await page.keyboard.press('Escape');
  await waitUntil(() => menu.locator('#confirm-quit').isVisible(), 'the quit question');
  await page.keyboard.press('Escape');
  await waitUntil(() => menu.locator('#confirm-quit').isHidden(), 'the question to close');
  assert.ok(host.running);
});

test('a message box from the host is modal and goes with OK', async () => {
  const { page } = player;
  const menu = await currentMovie(page, 'Menu.html');
  // Delivered where the host's messages arrive, as the host sends them.
  await page.evaluate(() => window.tunewickBridge.receive(JSON.stringify({
    type: 'alert', caption: 'DirectSound Sample', text: 'Error handling DirectSound notifications. Sample will now exit.',
  })));
  const dialog = page.locator('#alert');
  await waitUntil(() => dialog.isVisible(), 'the message box');
  assert.equal(await page.locator('#alert-caption').textContent(), 'DirectSound Sample');
  assert.equal(await page.locator('#alert-text').textContent(), 'Error handling DirectSound notifications. Sample will now exit.');
  assert.ok(await page.evaluate(() => document.getElementById('alert').matches(':modal')));
  await page.click('#alert button');
  await waitUntil(() => dialog.isHidden(), 'the message box to go');
  await currentMovie(page, 'Menu.html');
  assert.ok(await menu.locator('#go-tuner').isVisible());
});

test('after a dropped connection the player reconnects quietly and the page goes on working', async () => {
  const { page } = player;
  let menu = await currentMovie(page, 'Menu.html');
  await menu.click('#go-tuner');
  let tuner = await currentMovie(page, 'Tuner.html');
  await page.evaluate(() => window.tunewickBridge.socket.close());
  await waitUntil(() => page.evaluate(() => window.tunewickBridge.open), 'the connection to come back');
  // The same page is still shown and still reaches the host.
  tuner = await currentMovie(page, 'Tuner.html');
  assert.ok(await page.locator('#status').isHidden(), 'a short outage is not announced');
  await tuner.click('.nav-back');
  menu = await currentMovie(page, 'Menu.html');
  await buttonsAre(menu, { back: true, forward: true });

  // A reload takes over the connection and starts from the start movie again.
  await page.reload();
  menu = await currentMovie(page, 'Menu.html');
  await buttonsAre(menu, { back: true, forward: false });
  assert.ok(host.running);
});

test('quitting from the menu asks first, then ends the host cleanly', async () => {
  const { page } = player;
  const menu = await currentMovie(page, 'Menu.html');
  await menu.click('#quit');
  await waitUntil(() => menu.locator('#confirm-quit').isVisible(), 'the question');
  await menu.click('#confirm-quit button[value="stay"]');
  await waitUntil(() => menu.locator('#confirm-quit').isHidden(), 'the question to go');
  assert.ok(host.running, 'staying keeps the program running');

  await menu.click('#quit');
  await menu.click('#confirm-quit-yes');
  const { code, signal } = await host.exited;
  assert.equal(signal, null);
  assert.equal(code, 0, host.stderr);
  await waitUntil(() => page.locator('#ended').isVisible(), 'the player to say the program has ended');
});
