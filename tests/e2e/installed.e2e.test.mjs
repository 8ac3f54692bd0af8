// The installed program: TUNEWICK_BIN names tunewick in a package unpacked by the package
// test, so the player and the movies come from its share/tunewick. The menu must open and
// lead on.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startHost, openPlayer, currentMovie } from './harness.mjs';

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

test('the installed program opens its menu, and the menu leads to a page', async () => {
  const menu = await currentMovie(player.page, 'Menu.html');
  for (const id of ['#go-tuner', '#go-notes', '#go-recorder', '#go-maze', '#quit']) {
    assert.ok(await menu.locator(id).isVisible(), `${id} is on the menu`);
  }
  await menu.click('#go-maze');
  await currentMovie(player.page, 'Maze.html');
  assert.deepEqual(player.errors, []);
  assert.equal(host.running, true);
});
