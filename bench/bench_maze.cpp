// Whole-maze generation at the default, a medium and a large size, with a fixed seed so
// every run measures the same maze.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "commands/MazeGenerator.h"

namespace {

void BM_GenerateMaze(benchmark::State& state) {
    const auto side = static_cast<std::int32_t>(state.range(0));
    tunewick::CrtRandomSource random;
    for (auto _ : state) {
        tunewick::MazeGenerator maze(side, side, random, [] { return std::int64_t{1700000000}; });
        maze.initialise();
        maze.generate();
        benchmark::DoNotOptimize(maze.text().data());
    }
    state.SetItemsProcessed(state.iterations() * side * side);  // cells per second
}

}  // namespace

BENCHMARK(BM_GenerateMaze)->Arg(16)->Arg(256)->Arg(1000)->Arg(tunewick::MazeGenerator::kMaxSide)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
