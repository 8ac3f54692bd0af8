#include "commands/GenerateMazeCommand.h"

#include <utility>

#include "commands/MazeGenerator.h"

namespace tunewick {

namespace {

std::int32_t sideArgument(const std::vector<Param>& arguments, std::size_t position) {
    if (arguments.size() > position && arguments[position].type() == Param::Number)
        return MazeGenerator::sideFromNumber(arguments[position].getNumber());
    return GenerateMazeCommand::kDefaultSide;
}

}  // namespace

GenerateMazeCommand::GenerateMazeCommand(RandomSource& random, SecondsClock clock)
    : FunctionCommand("generateMaze"), random_(random), clock_(std::move(clock)) {}

Param GenerateMazeCommand::execute(const std::vector<Param>& arguments) {
    MazeGenerator maze(sideArgument(arguments, 0), sideArgument(arguments, 1), random_, clock_);
    maze.initialise();
    maze.generate();
    return Param(maze.takeText());
}

}  // namespace tunewick
