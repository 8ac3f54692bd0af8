// The maze page: a maze from the host, drawn, and walked with the arrow keys.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startHost, openPlayer, currentMovie, screenshot, waitUntil } from './harness.mjs';

let host;
let player;
let maze;

before(async () => {
  host = await startHost({ segments: [{ seconds: 1, partials: [] }] });
  player = await openPlayer(host.url);
  const menu = await currentMovie(player.page, 'Menu.html');
  await menu.click('#go-maze');
  maze = await currentMovie(player.page, 'Maze.html');
});

after(async () => {
  if (player) await player.close();
  if (host) await host.stop();
});

// The maze text the page drew, once it has one of the given size.
async function shownMaze(size) {
  await waitUntil(() => maze.evaluate((n) => {
    const c = document.getElementById('maze');
    return c.dataset.width === String(n) && (c.dataset.maze || '').length === n * n;
  }, size), `a ${size} x ${size} maze`);
  return maze.evaluate(() => document.getElementById('maze').dataset.maze);
}

// The way from the opening at the top to the one at the bottom, as arrow keys.
function solve(text, width, height) {
  const start = text.indexOf('E');
  const goal = text.indexOf('B');
  const previous = new Map([[start, null]]);
  const queue = [start];
  const steps = [[1, 0, 'ArrowRight'], [-1, 0, 'ArrowLeft'], [0, 1, 'ArrowDown'], [0, -1, 'ArrowUp']];
  while (queue.length) {
    const at = queue.shift();
    if (at === goal) break;
    const x = at % width;
    const y = Math.floor(at / width);
    for (const [dx, dy, key] of steps) {
      const nx = x + dx;
      const ny = y + dy;
      const next = ny * width + nx;
      if (nx < 0 || ny < 0 || nx >= width || ny >= height || text[next] === '#' || previous.has(next)) continue;
      previous.set(next, [at, key]);
      queue.push(next);
    }
  }
  assert.ok(previous.has(goal), 'the maze has a way through');
  const keys = [];
  for (let at = goal; previous.get(at); at = previous.get(at)[0]) keys.unshift(previous.get(at)[1]);
  return keys;
}

function checkShape(text, size) {
  assert.equal(text.length, size * size);
  assert.match(text, /^[# EB]+$/);
  const row = (y) => text.slice(y * size, (y + 1) * size);
  assert.equal(row(0).replace('E', '#'), '#'.repeat(size), 'top border: wall but for the E');
  assert.equal(row(size - 1).replace('B', '#'), '#'.repeat(size), 'bottom border: wall but for the B');
  assert.equal(text.split('E').length, 2);
  assert.equal(text.split('B').length, 2);
  for (let y = 0; y < size; y += 1) {
    assert.equal(row(y)[0], '#');
    assert.equal(row(y)[size - 1], '#');
  }
}

test('the page asks the host for the chosen size and draws exactly that maze', async () => {
  const text = await shownMaze(16);
  checkShape(text, 16);
  await maze.click('.sizes .btn[data-size="21"]');
  const big = await shownMaze(21);
  checkShape(big, 21);

  // Every cell is painted as what it is: walls dark, paths light (the two openings and the
  // player's cell carry markers and are left out).
  const painted = await maze.evaluate(() => {
    const c = document.getElementById('maze');
    const unit = Number(c.dataset.unit);
    const data = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    const width = Number(c.dataset.width);
    const out = [];
    for (let i = 0; i < c.dataset.maze.length; i += 1) {
      const x = (i % width) * unit + Math.floor(unit / 2);
      const y = Math.floor(i / width) * unit + Math.floor(unit / 2);
      const p = (y * c.width + x) * 4;
      out.push((data[p] + data[p + 1] + data[p + 2]) / 3);
    }
    return out;
  });
  big.split('').forEach((cell, i) => {
    if (cell === 'E' || cell === 'B') return;
    if (cell === '#') assert.ok(painted[i] < 100, `cell ${i} is a wall and looks it (${painted[i]})`);
    else assert.ok(painted[i] > 150, `cell ${i} is a path and looks it (${painted[i]})`);
  });
});

test('the arrow keys walk the maze from the top opening to the bottom one', async () => {
  const { page } = player;
  const size = 21;
  const text = await shownMaze(size);
  const keys = solve(text, size, size);
  const position = () => maze.evaluate(() => {
    const c = document.getElementById('maze');
    return { x: Number(c.dataset.x), y: Number(c.dataset.y), moves: Number(c.dataset.moves), solved: c.dataset.solved === 'true' };
  });
  assert.deepEqual(await position(), { x: text.indexOf('E'), y: 0, moves: 0, solved: false });

  // A wall stops the walker: up from the top row leads nowhere.
  await maze.click('#maze');
  await page.keyboard.press('ArrowUp');
  assert.deepEqual(await position(), { x: text.indexOf('E'), y: 0, moves: 0, solved: false });

  const half = Math.floor(keys.length / 2);
  for (const key of keys.slice(0, half)) await page.keyboard.press(key);
  await waitUntil(async () => (await position()).moves === half, 'the first half of the walk');
  await screenshot(page, 'Maze');
  for (const key of keys.slice(half)) await page.keyboard.press(key);
  const goal = text.indexOf('B');
  await waitUntil(async () => (await position()).solved, 'the maze to be solved');
  assert.deepEqual(await position(), { x: goal % size, y: size - 1, moves: keys.length, solved: true });
  assert.ok(await maze.locator('#message').isVisible());
  assert.equal(await maze.locator('#message-title').textContent(), 'Solved!');
  assert.equal(await maze.locator('#solved-count').textContent(), '1');

  // Enter starts a new maze at the top again.
  await page.keyboard.press('Enter');
  await waitUntil(async () => (await position()).moves === 0 && !(await position()).solved, 'a fresh maze');
  assert.ok(await maze.locator('#message').isHidden());
  assert.deepEqual(player.errors, []);
});
