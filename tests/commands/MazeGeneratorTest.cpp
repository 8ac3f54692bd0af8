#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "commands/MazeGenerator.h"
#include "MazeTestSupport.h"

namespace tunewick {
namespace {

using test::fixedClock;
using test::ScriptedRandom;

TEST(MazeSides, NumbersTruncateTowardZeroThenClamp) {
    EXPECT_EQ(MazeGenerator::sideFromNumber(12.9), 12);
    EXPECT_EQ(MazeGenerator::sideFromNumber(7.2), 7);
    EXPECT_EQ(MazeGenerator::sideFromNumber(100.999), 100);
    EXPECT_EQ(MazeGenerator::sideFromNumber(3.0), 3);
    EXPECT_EQ(MazeGenerator::sideFromNumber(2.99), 3);
    EXPECT_EQ(MazeGenerator::sideFromNumber(0.0), 3);
    EXPECT_EQ(MazeGenerator::sideFromNumber(-3.5), 3);
    EXPECT_EQ(MazeGenerator::sideFromNumber(MazeGenerator::kMaxSide + 0.9), MazeGenerator::kMaxSide);
    EXPECT_EQ(MazeGenerator::sideFromNumber(MazeGenerator::kMaxSide - 0.5),
              MazeGenerator::kMaxSide - 1);
    // Numbers that do not fit 32 bits, and the non-finite ones.
    EXPECT_EQ(MazeGenerator::sideFromNumber(4294967301.0), MazeGenerator::kMaxSide);
    EXPECT_EQ(MazeGenerator::sideFromNumber(-4294967301.0), 3);
    EXPECT_EQ(MazeGenerator::sideFromNumber(1e300), MazeGenerator::kMaxSide);
    EXPECT_EQ(MazeGenerator::sideFromNumber(std::numeric_limits<double>::infinity()),
              MazeGenerator::kMaxSide);
    EXPECT_EQ(MazeGenerator::sideFromNumber(-std::numeric_limits<double>::infinity()), 3);
    EXPECT_EQ(MazeGenerator::sideFromNumber(std::nan("")), 3);
}

TEST(MazeSides, ConstructorHoldsSidesInRange) {
    ScriptedRandom random;
    MazeGenerator small(0, -7, random, fixedClock(0));
    EXPECT_EQ(small.width(), 3);
    EXPECT_EQ(small.height(), 3);
    MazeGenerator huge(std::numeric_limits<std::int32_t>::max(), 10, random, fixedClock(0));
    EXPECT_EQ(huge.width(), MazeGenerator::kMaxSide);
    EXPECT_EQ(huge.height(), 10);
}

TEST(MazeDraws, StartCoordinateDividesBy32767AndClamps) {
    EXPECT_EQ(MazeGenerator::startCoordinate(16, 0), 2);
    EXPECT_EQ(MazeGenerator::startCoordinate(16, 16383), 9);   // 16383*15/32767 = 7
    EXPECT_EQ(MazeGenerator::startCoordinate(16, 30583), 15);  // 30583*15/32767 = 14 -> 16 -> 15
    EXPECT_EQ(MazeGenerator::startCoordinate(16, 32767), 15);  // 17 folds onto n - 1
    EXPECT_EQ(MazeGenerator::startCoordinate(4, 32767), 3);
    EXPECT_EQ(MazeGenerator::startCoordinate(4, 10922), 2);    // 10922*3/32767 = 0
    EXPECT_EQ(MazeGenerator::startCoordinate(4, 10923), 3);    // 10923*3/32767 = 1
    EXPECT_EQ(MazeGenerator::startCoordinate(3, 32767), 2);
    EXPECT_EQ(MazeGenerator::startCoordinate(MazeGenerator::kMaxSide, 32767),
              MazeGenerator::kMaxSide - 1);
}

TEST(MazeDraws, CandidateOrdinalDividesBy32767AndClamps) {
    EXPECT_EQ(MazeGenerator::candidateOrdinal(1, 32767), 1);
    EXPECT_EQ(MazeGenerator::candidateOrdinal(5, 0), 1);
    EXPECT_EQ(MazeGenerator::candidateOrdinal(5, 6553), 1);  // 32765/32767 = 0
    EXPECT_EQ(MazeGenerator::candidateOrdinal(5, 6554), 2);  // 32770/32767 = 1
    EXPECT_EQ(MazeGenerator::candidateOrdinal(5, 32767), 5);  // 6 folds onto k
    // r * k beyond 32 bits: still the exact quotient.
    EXPECT_EQ(MazeGenerator::candidateOrdinal(70000, 32000), 68362);
    EXPECT_EQ(MazeGenerator::candidateOrdinal(3000000, 32767), 3000000);
}

TEST(MazeDraws, InitialiseSeedsFromClockAndDrawsColumnThenRow) {
    ScriptedRandom random({0, 32767});
    MazeGenerator maze(10, 8, random, fixedClock(0x100000007LL));
    maze.initialise();
    EXPECT_EQ(random.seeds, 1u);
    EXPECT_EQ(random.lastSeed, 7u);
    EXPECT_EQ(random.draws, 2u);
    EXPECT_EQ(maze.cellAt(2, 7), '?');  // column from the first draw, row from the second
    EXPECT_EQ(maze.candidateCount(), 1);
    EXPECT_EQ(std::count(maze.text().begin(), maze.text().end(), '#'), 79);
}

TEST(MazeDraws, ThreeByThreeDrawsNothing) {
    ScriptedRandom random;
    MazeGenerator maze(3, 3, random, fixedClock(0));
    maze.initialise();
    maze.generate();
    EXPECT_EQ(random.draws, 0u);
    EXPECT_EQ(maze.text(), "#E## ##B#");
}

// The error code of one access: 0 when it succeeds.
template <typename Access>
int accessCode(Access access) {
    try {
        access();
    } catch (const MazeAccessError& error) {
        return error.code();
    }
    return 0;
}

TEST(MazeCells, AccessOutsideTheGridFailsWithItsCode) {
    ScriptedRandom random;
    MazeGenerator maze(5, 4, random, fixedClock(0));
    auto read = [&maze](int x, int y) { return accessCode([&] { maze.cellAt(x, y); }); };
    auto write = [&maze](int x, int y) { return accessCode([&] { maze.setCell(x, y, '#'); }); };
    EXPECT_EQ(read(1, 1), 1) << "no grid before initialise";
    maze.initialise();
    EXPECT_EQ(read(1, 1) + read(5, 4) + write(5, 4) + write(1, 1), 0);
    for (auto [x, y] : {std::pair{0, 1}, {6, 1}, {1, 0}, {1, 5}}) {
        EXPECT_EQ(read(x, y), 1) << x << "," << y;
        EXPECT_EQ(write(x, y), 2) << x << "," << y;
    }
}

TEST(MazeCells, CandidateCountFollowsEveryWrite) {
    ScriptedRandom random;
    MazeGenerator maze(6, 6, random, fixedClock(0));
    maze.initialise();  // start (2, 2)
    ASSERT_EQ(maze.cellAt(2, 2), '?');
    maze.setCell(4, 4, '?');
    maze.setCell(4, 4, '?');  // writing the same character changes nothing
    EXPECT_EQ(maze.candidateCount(), 2);
    maze.setCell(2, 2, ' ');
    EXPECT_EQ(maze.candidateCount(), 1);
    maze.setCell(4, 4, '#');
    EXPECT_EQ(maze.candidateCount(), 0);
}

TEST(MazeCells, GenerateNeedsInitialise) {
    ScriptedRandom random;
    MazeGenerator maze(5, 5, random, fixedClock(0));
    EXPECT_THROW(maze.generate(), std::logic_error);
}

// A 7 x 7 wall grid with only the given cells open, for offering candidates by hand.
MazeGenerator wallsWithOpen(ScriptedRandom& random, std::initializer_list<MazeGenerator::Cell> open) {
    MazeGenerator maze(7, 7, random, fixedClock(0));
    maze.initialise();
    for (int y = 1; y <= 7; ++y)
        for (int x = 1; x <= 7; ++x) maze.setCell(x, y, '#');
    for (const auto& cell : open) maze.setCell(cell.x, cell.y, ' ');
    return maze;
}

TEST(MazeMarkCandidate, OffersOnlyNeighboursThatTouchNothingElse) {
    ScriptedRandom random;
    {
        SCOPED_TRACE("all four directions from a lone open cell");
        MazeGenerator maze = wallsWithOpen(random, {{4, 4}});
        maze.markCandidate(4, 4, 0, 1);
        maze.markCandidate(4, 4, 0, -1);
        maze.markCandidate(4, 4, 1, 0);
        maze.markCandidate(4, 4, -1, 0);
        EXPECT_EQ(maze.cellAt(4, 5), '?');
        EXPECT_EQ(maze.cellAt(4, 3), '?');
        EXPECT_EQ(maze.cellAt(5, 4), '?');
        EXPECT_EQ(maze.cellAt(3, 4), '?');
        EXPECT_EQ(maze.candidateCount(), 4);
        maze.markCandidate(4, 4, 0, 1);  // already a candidate
        EXPECT_EQ(maze.candidateCount(), 4);
    }
    struct Case {
        const char* why;
        std::initializer_list<MazeGenerator::Cell> open;
        int dx, dy;
        MazeGenerator::Cell neighbour;
    };
    const Case refused[] = {
        {"neighbour already open", {{4, 4}, {4, 5}}, 0, 1, {4, 5}},
        {"left side of the neighbour open", {{4, 4}, {3, 5}}, 0, 1, {4, 5}},
        {"right side of the neighbour open", {{4, 4}, {5, 5}}, 0, 1, {4, 5}},
        {"cell beyond open", {{4, 4}, {4, 6}}, 0, 1, {4, 5}},
        {"side of the cell beyond open", {{4, 4}, {3, 6}}, 0, 1, {4, 5}},
        {"sides of a horizontal neighbour are above and below", {{4, 4}, {5, 3}}, 1, 0, {5, 4}},
        {"beyond a leftward neighbour, below", {{4, 4}, {2, 5}}, -1, 0, {3, 4}},
        {"beyond an upward neighbour, side", {{4, 4}, {5, 2}}, 0, -1, {4, 3}},
        {"cell beyond outside the grid", {{4, 6}}, 0, 1, {4, 7}},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.why);
        MazeGenerator maze = wallsWithOpen(random, c.open);
        const char before = maze.cellAt(c.neighbour.x, c.neighbour.y);
        maze.markCandidate(c.open.begin()->x, c.open.begin()->y, c.dx, c.dy);
        EXPECT_EQ(maze.cellAt(c.neighbour.x, c.neighbour.y), before);
        EXPECT_EQ(maze.candidateCount(), 0);
    }
    {
        SCOPED_TRACE("open cells diagonal to the start but away from the neighbour do not block");
        MazeGenerator maze = wallsWithOpen(random, {{4, 4}, {3, 3}, {5, 3}});
        maze.markCandidate(4, 4, 0, 1);
        EXPECT_EQ(maze.cellAt(4, 5), '?');
    }
}

TEST(MazeText, TakeTextHandsOverTheGrid) {
    ScriptedRandom random({5000, 20000, 12345, 31000, 7});
    MazeGenerator maze(9, 6, random, fixedClock(0));
    maze.initialise();
    maze.generate();
    const std::string copy = maze.text();
    EXPECT_EQ(maze.takeText(), copy);
    EXPECT_EQ(copy.size(), 54u);
    EXPECT_THROW(maze.cellAt(1, 1), MazeAccessError);
}

}  // namespace
}  // namespace tunewick
