#pragma once
// "generateMaze": answers a movie with a new maze as one string of W x H characters
// (see MazeGenerator for the characters and the size limits).
//
// Arguments: 1st the width, 2nd the height, each used only when it is a number, truncated
// toward zero; otherwise 16. Further arguments are ignored. Nothing is reported as an error.
#include <cstdint>
#include <vector>

#include "bridge/FunctionCommand.h"
#include "bridge/Param.h"
#include "commands/RandomSource.h"

namespace tunewick {

class GenerateMazeCommand : public FunctionCommand {
public:
    static constexpr std::int32_t kDefaultSide = 16;

    // The random source and clock seed each maze; tests inject fixed ones. The source is
    // referenced, not owned, and must outlive the command.
    explicit GenerateMazeCommand(RandomSource& random = RandomSource::processWide(),
                                 SecondsClock clock = currentTimeSeconds);

    Param execute(const std::vector<Param>& arguments) override;

private:
    RandomSource& random_;
    SecondsClock clock_;
};

}  // namespace tunewick
