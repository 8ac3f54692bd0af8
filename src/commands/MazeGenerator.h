#pragma once
// Grows a maze of one-cell-wide corridors on a W x H grid of characters, for one request.
//
// Cells: '#' wall, ' ' open, '?' candidate (only while growing), 'E' the opening in row 1,
// 'B' the opening in row H. Coordinates are 1-based: column x in 1..W, row y in 1..H, row 1
// at the top. The maze grows from one random interior cell by opening, one at a time, a
// candidate picked at random, so the open cells form a tree (one path between any two).
//
// Sizes: each side is held to kMinSide..kMaxSide. A side below 3 has no interior and is
// raised to 3; a side above kMaxSide is lowered to it, which bounds a request to
// kMaxSide^2 cells (4 MiB of grid, under 1 MiB of index) and about a second of work.
//
// The same seed and size always give the same maze. Picking the j-th candidate in row-major
// order uses an index over the grid instead of a scan, so a maze costs O(cells log cells).
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "commands/RandomSource.h"

namespace tunewick {

// A cell access outside the grid: code 1 for a read, 2 for a write.
class MazeAccessError : public std::out_of_range {
public:
    static constexpr int kRead = 1;
    static constexpr int kWrite = 2;

    explicit MazeAccessError(int code);
    int code() const noexcept { return code_; }

private:
    int code_;
};

class MazeGenerator {
public:
    static constexpr std::int32_t kMinSide = 3;
    static constexpr std::int32_t kMaxSide = 2048;

    struct Cell {
        std::int32_t x = 0;
        std::int32_t y = 0;
        friend bool operator==(const Cell&, const Cell&) = default;
    };

    // Sides are clamped to kMinSide..kMaxSide. Nothing is drawn or allocated yet; the random
    // source and the clock are referenced, not owned, and must outlive the generator.
    MazeGenerator(std::int32_t width, std::int32_t height,
                  RandomSource& random = RandomSource::processWide(),
                  SecondsClock clock = currentTimeSeconds);

    // A side from a request's number: truncated toward zero, then clamped to
    // kMinSide..kMaxSide. NaN and -infinity give kMinSide, +infinity kMaxSide; numbers that do
    // not fit 32 bits clamp like any other.
    static std::int32_t sideFromNumber(double number);

    // The start coordinate for a side of `extent` cells given the draw r (0..32767):
    // (r * (extent - 1)) / 32767 + 2, then held to 2..extent-1. For extent 3 it is 2 and
    // no number is drawn.
    static std::int32_t startCoordinate(std::int32_t extent, int r);
    // Which candidate, 1..k, the draw r picks among k: (r * k) / 32767 + 1, held to 1..k.
    // For k = 1 it is 1 and no number is drawn. Computed in 64 bits, so no k overflows.
    static std::int64_t candidateOrdinal(std::int64_t k, int r);

    // Seeds the random source with the clock's seconds, fills the grid with walls, draws the
    // start column then the start row, and makes that cell the one candidate.
    void initialise();
    // Opens candidates until none is left, then places 'E' and 'B'. Needs initialise().
    void generate();

    // Read or write one cell; outside 1..W x 1..H they throw MazeAccessError with code 1
    // (read) or 2 (write). The candidate count follows every '?' written or overwritten.
    char cellAt(std::int32_t x, std::int32_t y) const;
    void setCell(std::int32_t x, std::int32_t y, char c);

    // Offers the neighbour of (x, y) in direction (dx, dy) as a candidate: it becomes '?'
    // when it and the cell beyond lie in the grid, it is neither '?' nor ' ', and neither it,
    // the cell beyond, nor the side cells of either is open. Otherwise nothing changes.
    void markCandidate(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy);

    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }
    std::int64_t candidateCount() const;
    // The open cell below 'E' (row 2) and above 'B' (row H - 1), once placed.
    std::optional<Cell> eSide() const { return eSide_; }
    std::optional<Cell> bSide() const { return bSide_; }

    // The W x H cells, row 1 first, no separators.
    const std::string& text() const { return cells_; }
    // Hands the text over without copying; the generator is empty afterwards.
    std::string takeText();

private:
    // The '?' cells by row-major index: one bit per cell, and a Fenwick tree of the counts
    // per 64-cell word, so the j-th candidate in scan order is found in O(log n) while the
    // tree stays small enough to live in cache.
    class CandidateIndex {
    public:
        void reset(std::size_t size);
        void insert(std::size_t index);
        void erase(std::size_t index);
        // The 0-based index of the j-th candidate, 1 <= j <= total().
        std::size_t find(std::int64_t j) const;
        std::int64_t total() const { return total_; }

    private:
        void addToWord(std::size_t word, std::int32_t delta);

        std::vector<std::uint64_t> bits_;
        std::vector<std::int32_t> tree_;  // 1-based over words
        std::size_t highBit_ = 0;
        std::int64_t total_ = 0;
    };

    bool inside(std::int32_t x, std::int32_t y) const {
        return x >= 1 && x <= width_ && y >= 1 && y <= height_;
    }
    std::size_t indexOf(std::int32_t x, std::int32_t y) const {
        return static_cast<std::size_t>(y - 1) * static_cast<std::size_t>(width_) +
               static_cast<std::size_t>(x - 1);
    }
    // Unchecked read for the growing loop, whose every access is inside by construction
    // (callers test inside() first).
    char peek(std::int32_t x, std::int32_t y) const { return cells_[indexOf(x, y)]; }
    void write(std::size_t index, char c);
    std::int32_t drawStart(std::int32_t extent);
    Cell pickCandidate();
    void openAndGrow(Cell cell);
    void placeOpenings();
    // markCandidate for an open cell of the growing maze, on flat indices.
    void offerFromInterior(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy);

    std::int32_t width_;
    std::int32_t height_;
    RandomSource& random_;
    SecondsClock clock_;
    std::string cells_;
    CandidateIndex candidates_;
    std::optional<Cell> eSide_;
    std::optional<Cell> bSide_;
};

}  // namespace tunewick
