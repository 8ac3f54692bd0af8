#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "bridge/FunctionCall.h"
#include "commands/GenerateMazeCommand.h"
#include "commands/MazeGenerator.h"
#include "MazeTestSupport.h"

namespace tunewick {
namespace {

using test::fixedClock;

constexpr std::int64_t kSecond = 1700000123;

Param number(double value) {
    Param p;
    p.setNumber(value);
    return p;
}

// The maze the generator itself makes for this size in the fixed second.
std::string mazeOf(int width, int height) {
    CrtRandomSource random;
    MazeGenerator maze(width, height, random, fixedClock(kSecond));
    maze.initialise();
    maze.generate();
    return maze.text();
}

class GenerateMaze : public testing::Test {
protected:
    std::string run(const std::vector<Param>& arguments) {
        const Param reply = command.execute(arguments);
        EXPECT_EQ(reply.type(), Param::String);
        return reply.getString();
    }

    CrtRandomSource random;
    GenerateMazeCommand command{random, fixedClock(kSecond)};
};

TEST_F(GenerateMaze, IsNamedGenerateMaze) { EXPECT_EQ(command.getName(), "generateMaze"); }

TEST_F(GenerateMaze, SizesFromNumberArgumentsElseSixteen) {
    EXPECT_EQ(run({}), mazeOf(16, 16));
    EXPECT_EQ(run({}).size(), 256u);
    EXPECT_EQ(run({number(9)}), mazeOf(9, 16));
    EXPECT_EQ(run({number(9)}).size(), 144u);
    EXPECT_EQ(run({Param(std::string("wide")), number(7)}), mazeOf(16, 7));
    EXPECT_EQ(run({number(12.9), number(7.2)}), mazeOf(12, 7));
    EXPECT_EQ(run({number(12.9), number(7.2)}).size(), 84u);
    EXPECT_EQ(run({Param(true), Param()}), mazeOf(16, 16));
    EXPECT_EQ(run({number(20), Param(std::string("5"))}), mazeOf(20, 16));
    // Arguments past the second are ignored, whatever they are.
    EXPECT_EQ(run({number(10), number(11), number(3), Param(std::string("x"))}), mazeOf(10, 11));
}

TEST_F(GenerateMaze, SizesOutsideTheRangeAreHeldToIt) {
    EXPECT_EQ(run({number(1), number(-3.5)}), "#E## ##B#");
    EXPECT_EQ(run({number(std::nan("")), number(3)}), "#E## ##B#");
    const int max = MazeGenerator::kMaxSide;
    const std::string wide = run({number(1e300), number(3)});
    ASSERT_EQ(wide.size(), static_cast<std::size_t>(max) * 3);
    EXPECT_EQ(wide.substr(static_cast<std::size_t>(max), static_cast<std::size_t>(max)),
              "#" + std::string(static_cast<std::size_t>(max - 2), ' ') + "#");
    EXPECT_EQ(run({number(3), number(-1e300)}), "#E## ##B#");
    EXPECT_EQ(run({number(4294967299.0), number(3)}).size(), static_cast<std::size_t>(max) * 3);
}

TEST_F(GenerateMaze, EveryRequestReseedsFromTheClock) {
    const std::string first = run({number(30), number(20)});
    random.next();  // draws in between do not carry over into the next maze
    EXPECT_EQ(run({number(30), number(20)}), first);

    std::int64_t seconds = 1000;
    GenerateMazeCommand ticking(random, [&seconds] { return seconds; });
    const std::string atThousand = ticking.execute({number(30), number(20)}).getString();
    seconds = 1001;
    EXPECT_NE(ticking.execute({number(30), number(20)}).getString(), atThousand);
    seconds = 1000;
    EXPECT_EQ(ticking.execute({number(30), number(20)}).getString(), atThousand);
}

// A movie's request as it arrives, parsed by the bridge, then answered as XML.
TEST_F(GenerateMaze, ServesAParsedRequest) {
    FunctionCall call;
    call.parse("<invoke name=\"generateMaze\" returntype=\"xml\"><arguments>"
               "<number>5.7</number><number>3</number></arguments></invoke>");
    ASSERT_EQ(call.name, "generateMaze");
    const Param reply = command.execute(call.arguments);
    EXPECT_EQ(reply.toXml(), "<string>###E##   ##B###</string>");
}

}  // namespace
}  // namespace tunewick
