// Whole mazes: the generator against a plain reference written straight from the algorithm,
// and the shape every maze must have.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "commands/MazeGenerator.h"
#include "MazeTestSupport.h"

namespace tunewick {
namespace {

using test::fixedClock;
using test::Grid;

// The algorithm as written: its own copy of the recurrence, cells read and written through
// bounds-checked helpers, and the j-th candidate found by scanning the grid row by row.
std::string referenceMaze(int width, int height, std::uint32_t seed) {
    std::uint32_t state = seed;
    auto rnd = [&state] {
        state = state * 214013u + 2531011u;
        return static_cast<std::int64_t>((state >> 16) & 0x7FFFu);
    };
    std::vector<char> cells(static_cast<std::size_t>(width) * (height + 1), '#');
    std::fill(cells.end() - width, cells.end(), '\0');
    auto inside = [&](int x, int y) { return x >= 1 && x <= width && y >= 1 && y <= height; };
    auto cell = [&](int x, int y) -> char& {
        if (!inside(x, y)) throw std::out_of_range("reference left the grid");
        return cells[static_cast<std::size_t>(y - 1) * width + (x - 1)];
    };
    auto start = [&](int n) -> int {
        if (n == 3) return 2;
        std::int64_t v = (rnd() * (n - 1)) / 32767 + 2;
        if (v > n - 1) v = n - 1;
        if (v < 2) v = 2;
        return static_cast<int>(v);
    };
    std::int64_t count = 0;
    const int x0 = start(width);
    const int y0 = start(height);
    cell(x0, y0) = '?';
    count = 1;

    auto mark = [&](int x, int y, int dx, int dy) {
        const int x1 = x + dx, y1 = y + dy, x2 = x + 2 * dx, y2 = y + 2 * dy;
        if (!inside(x, y) || !inside(x1, y1) || !inside(x2, y2)) return;
        if (cell(x1, y1) == '?' || cell(x1, y1) == ' ') return;
        if (cell(x1 - dy, y1 - dx) == ' ' || cell(x1 + dy, y1 + dx) == ' ') return;
        if (cell(x2, y2) == ' ') return;
        if (cell(x2 - dy, y2 - dx) == ' ' || cell(x2 + dy, y2 + dx) == ' ') return;
        cell(x1, y1) = '?';
        ++count;
    };

    while (count > 0) {
        std::int64_t j = 1;
        if (count != 1) {
            j = (rnd() * count) / 32767 + 1;
            if (j > count) j = count;
            if (j < 1) j = 1;
        }
        // Rows top to bottom, each left to right: the grid's byte order.
        const char* scan = cells.data();
        std::size_t index = 0;
        for (std::int64_t seen = 0; index < cells.size() - width; ++index)
            if (scan[index] == '?' && ++seen == j) break;
        const int x = static_cast<int>(index % width) + 1;
        const int y = static_cast<int>(index / width) + 1;
        cell(x, y) = ' ';
        --count;
        for (int cy = y - 1; cy <= y + 1; ++cy)
            for (int cx = x - 1; cx <= x + 1; ++cx)
                if (inside(cx, cy) && cell(cx, cy) == '?') {
                    cell(cx, cy) = '#';
                    --count;
                }
        for (int cy = y - 1; cy <= y + 1; ++cy)
            for (int cx = x - 1; cx <= x + 1; ++cx)
                if (inside(cx, cy) && cell(cx, cy) == ' ') {
                    mark(cx, cy, 0, 1);
                    mark(cx, cy, 0, -1);
                    mark(cx, cy, 1, 0);
                    mark(cx, cy, -1, 0);
                }
    }
    for (int x = width; x >= 1; --x)
        if (cell(x, 2) == ' ') {
            cell(x, 1) = 'E';
            break;
        }
    for (int x = 1; x <= width; ++x)
        if (cell(x, height - 1) == ' ') {
            cell(x, height) = 'B';
            break;
        }
    return std::string(cells.data());  // the zero row ends the text
}

std::string generated(int width, int height, std::int64_t seconds) {
    CrtRandomSource random;
    MazeGenerator maze(width, height, random, fixedClock(seconds));
    maze.initialise();
    maze.generate();
    return maze.text();
}

struct Size {
    int width;
    int height;
};

TEST(MazeReference, SameMazeAsTheRowScanningAlgorithm) {
    const Size sizes[] = {{3, 3},  {4, 4},  {5, 5},   {16, 16}, {17, 9},  {9, 17},
                          {3, 12}, {12, 3}, {4, 30},  {30, 4},  {40, 25}, {63, 64},
                          {100, 7}};
    const std::int64_t seeds[] = {0, 1, 2, 1700000000, 0xFFFFFFFFLL, 31337};
    for (const Size& size : sizes)
        for (std::int64_t seed : seeds) {
            SCOPED_TRACE(testing::Message() << size.width << "x" << size.height << " seed " << seed);
            EXPECT_EQ(generated(size.width, size.height, seed),
                      referenceMaze(size.width, size.height, static_cast<std::uint32_t>(seed)));
        }
}

TEST(MazeReference, SameMazeAtALargerSize) {
    EXPECT_EQ(generated(200, 150, 1234567), referenceMaze(200, 150, 1234567));
}

TEST(MazeReference, SameSecondSameMaze) {
    EXPECT_EQ(generated(16, 16, 1700000000), generated(16, 16, 1700000000));
    // Only the low 32 bits of the time seed the maze.
    EXPECT_EQ(generated(16, 16, 0x100000000LL + 42), generated(16, 16, 42));
    // And the seed matters: a handful of seconds give more than one maze.
    const std::string first = generated(16, 16, 100);
    int differing = 0;
    for (std::int64_t s = 101; s < 106; ++s) differing += generated(16, 16, s) != first;
    EXPECT_GT(differing, 0);
}

TEST(MazeShape, FixedFormsOfTheNarrowestMazes) {
    for (std::int64_t seed : {0LL, 7LL, 1700000000LL}) {
        SCOPED_TRACE(seed);
        EXPECT_EQ(generated(3, 3, seed), "#E## ##B#");
        for (int n : {4, 5, 10, 57}) {
            SCOPED_TRACE(n);
            std::string tall = "#E#";
            for (int i = 0; i < n - 2; ++i) tall += "# #";
            tall += "#B#";
            EXPECT_EQ(generated(3, n, seed), tall);
            const std::string wide = std::string(n - 2, '#') + "E#" + "#" +
                                     std::string(n - 2, ' ') + "#" + "#B" +
                                     std::string(n - 2, '#');
            EXPECT_EQ(generated(n, 3, seed), wide);
        }
    }
}

// Checks everything that must hold of any maze of at least 3 x 3; returns the failures.
std::string shapeFaults(const std::string& text, int width, int height) {
    std::string faults;
    auto fault = [&faults](const std::string& what) { faults += what + "; "; };
    if (text.size() != static_cast<std::size_t>(width) * height) return "wrong length";
    if (text.find_first_not_of("# EB") != std::string::npos) fault("character outside \"# EB\"");
    const Grid g{text, width, height};

    // Border: wall, but for one E in row 1 over the rightmost open cell of row 2 and one B in
    // row H under the leftmost open cell of row H - 1.
    for (int y = 1; y <= height; ++y)
        if (g.at(1, y) != '#' || g.at(width, y) != '#') fault("open side border");
    int rightmostRow2 = 0, leftmostRowH1 = 0;
    for (int x = 1; x <= width; ++x) {
        if (g.open(x, 2)) rightmostRow2 = x;
        if (g.open(x, height - 1) && leftmostRowH1 == 0) leftmostRowH1 = x;
    }
    for (int x = 1; x <= width; ++x) {
        const char top = g.at(x, 1), bottom = g.at(x, height);
        if (top != (x == rightmostRow2 ? 'E' : '#')) fault("row 1 wrong at " + std::to_string(x));
        if (bottom != (x == leftmostRowH1 ? 'B' : '#')) fault("row H wrong at " + std::to_string(x));
    }
    for (int y = 2; y < height; ++y)
        for (int x = 2; x < width; ++x)
            if (g.at(x, y) == 'E' || g.at(x, y) == 'B') fault("opening inside");

    // Open cells: one connected tree, no open 2 x 2, diagonal touches joined by a side cell.
    long open = 0, pairs = 0;
    int sx = 0, sy = 0;
    for (int y = 1; y <= height; ++y)
        for (int x = 1; x <= width; ++x) {
            if (!g.open(x, y)) continue;
            ++open;
            sx = x;
            sy = y;
            pairs += g.open(x + 1, y) + g.open(x, y + 1);
            if (g.open(x + 1, y) && g.open(x, y + 1) && g.open(x + 1, y + 1)) fault("open 2x2");
            for (int dx : {-1, 1})
                if (g.open(x + dx, y + 1) && !g.open(x + dx, y) && !g.open(x, y + 1))
                    fault("corner-only touch at " + std::to_string(x) + "," + std::to_string(y));
        }
    if (open == 0) return faults + "no open cell";
    if (pairs != open - 1) fault("not a tree: " + std::to_string(pairs) + " pairs for " +
                                 std::to_string(open) + " cells");
    std::vector<char> seen(text.size(), 0);
    std::deque<std::pair<int, int>> queue{{sx, sy}};
    seen[(sy - 1) * width + (sx - 1)] = 1;
    long reached = 0;
    while (!queue.empty()) {
        const auto [x, y] = queue.front();
        queue.pop_front();
        ++reached;
        for (auto [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
            const int nx = x + dx, ny = y + dy;
            if (g.open(nx, ny) && !seen[(ny - 1) * width + (nx - 1)]) {
                seen[(ny - 1) * width + (nx - 1)] = 1;
                queue.emplace_back(nx, ny);
            }
        }
    }
    if (reached != open) fault("not connected");
    return faults;
}

TEST(MazeShape, EveryMazeIsABorderedTreeOfCorridors) {
    const Size sizes[] = {{3, 3},  {4, 3},  {3, 4},   {4, 4},   {5, 6},    {16, 16},
                          {31, 8}, {8, 31}, {64, 48}, {101, 99}, {250, 40}, {160, 150}};
    for (const Size& size : sizes)
        for (std::int64_t seed : {0LL, 1LL, 99LL, 1700000000LL, 4000000000LL}) {
            SCOPED_TRACE(testing::Message() << size.width << "x" << size.height << " seed " << seed);
            EXPECT_EQ(shapeFaults(generated(size.width, size.height, seed), size.width, size.height),
                      "");
        }
}

TEST(MazeShape, OpeningSidesAreRecorded) {
    CrtRandomSource random;
    MazeGenerator maze(21, 13, random, fixedClock(555));
    maze.initialise();
    maze.generate();
    const Grid g{maze.text(), 21, 13};
    ASSERT_TRUE(maze.eSide().has_value());
    ASSERT_TRUE(maze.bSide().has_value());
    EXPECT_EQ(maze.eSide()->y, 2);
    EXPECT_EQ(g.at(maze.eSide()->x, 1), 'E');
    EXPECT_TRUE(g.open(maze.eSide()->x, 2));
    EXPECT_EQ(maze.bSide()->y, 12);
    EXPECT_EQ(g.at(maze.bSide()->x, 13), 'B');
    EXPECT_TRUE(g.open(maze.bSide()->x, 12));
    EXPECT_EQ(maze.candidateCount(), 0);
}

}  // namespace
}  // namespace tunewick
