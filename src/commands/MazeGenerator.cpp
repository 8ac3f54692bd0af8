#include "commands/MazeGenerator.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>

namespace tunewick {

namespace {

constexpr char kWall = '#';
constexpr char kOpen = ' ';
constexpr char kCandidate = '?';

// The draws divide by 32767, not 32768, so r = 32767 lands one past the range; the callers
// clamp that back.
constexpr std::int64_t kDrawDivisor = 32767;

// Offer order around an open cell: down, up, right, left.
constexpr std::pair<std::int32_t, std::int32_t> kDirections[] = {{0, 1}, {0, -1}, {1, 0}, {-1, 0}};

}  // namespace

MazeAccessError::MazeAccessError(int code)
    : std::out_of_range(code == kRead ? "maze cell read outside the grid"
                                      : "maze cell write outside the grid"),
      code_(code) {}

MazeGenerator::MazeGenerator(std::int32_t width, std::int32_t height, RandomSource& random,
                             SecondsClock clock)
    : width_(std::clamp(width, kMinSide, kMaxSide)),
      height_(std::clamp(height, kMinSide, kMaxSide)),
      random_(random),
      clock_(std::move(clock)) {}

std::int32_t MazeGenerator::sideFromNumber(double number) {
    if (std::isnan(number)) return kMinSide;
    const double whole = std::trunc(number);
    // Compared as doubles first: converting a double outside the int range is undefined.
    if (whole <= kMinSide) return kMinSide;
    if (whole >= kMaxSide) return kMaxSide;
    return static_cast<std::int32_t>(whole);
}

std::int32_t MazeGenerator::startCoordinate(std::int32_t extent, int r) {
    if (extent == 3) return 2;
    std::int64_t v = (static_cast<std::int64_t>(r) * (extent - 1)) / kDrawDivisor + 2;
    if (v > extent - 1) v = extent - 1;
    if (v < 2) v = 2;
    return static_cast<std::int32_t>(v);
}

std::int64_t MazeGenerator::candidateOrdinal(std::int64_t k, int r) {
    if (k <= 1) return 1;
    std::int64_t j = (static_cast<std::int64_t>(r) * k) / kDrawDivisor + 1;
    if (j > k) j = k;
    if (j < 1) j = 1;
    return j;
}

void MazeGenerator::initialise() {
    random_.seed(timeSeed(clock_()));
    const std::size_t cellCount =
        static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    cells_.assign(cellCount, kWall);
    candidates_.reset(cellCount);
    eSide_.reset();
    bSide_.reset();
    const std::int32_t x0 = drawStart(width_);
    const std::int32_t y0 = drawStart(height_);
    setCell(x0, y0, kCandidate);
}

void MazeGenerator::generate() {
    if (cells_.empty()) throw std::logic_error("MazeGenerator::generate before initialise");
    while (candidates_.total() > 0) openAndGrow(pickCandidate());
    placeOpenings();
}

char MazeGenerator::cellAt(std::int32_t x, std::int32_t y) const {
    if (!inside(x, y) || cells_.empty()) throw MazeAccessError(MazeAccessError::kRead);
    return cells_[indexOf(x, y)];
}

void MazeGenerator::setCell(std::int32_t x, std::int32_t y, char c) {
    if (!inside(x, y) || cells_.empty()) throw MazeAccessError(MazeAccessError::kWrite);
    write(indexOf(x, y), c);
}

void MazeGenerator::write(std::size_t index, char c) {
    const char old = cells_[index];
    if (old == c) return;
    if (old == kCandidate) candidates_.erase(index);
    if (c == kCandidate) candidates_.insert(index);
    cells_[index] = c;
}

void MazeGenerator::markCandidate(std::int32_t x, std::int32_t y, std::int32_t dx,
                                  std::int32_t dy) {
    const std::int32_t x1 = x + dx, y1 = y + dy;
    const std::int32_t x2 = x + 2 * dx, y2 = y + 2 * dy;
    if (!inside(x, y) || !inside(x1, y1) || !inside(x2, y2) || cells_.empty()) return;
    const char neighbour = peek(x1, y1);
    if (neighbour == kCandidate || neighbour == kOpen) return;
    // From an interior (x, y) the side cells are always inside; a caller offering from the
    // border gets them read as wall instead of a failure.
    auto isOpen = [this](std::int32_t cx, std::int32_t cy) {
        return inside(cx, cy) && peek(cx, cy) == kOpen;
    };
    if (isOpen(x1 - dy, y1 - dx) || isOpen(x1 + dy, y1 + dx)) return;
    if (isOpen(x2, y2)) return;
    if (isOpen(x2 - dy, y2 - dx) || isOpen(x2 + dy, y2 + dx)) return;
    write(indexOf(x1, y1), kCandidate);
}

std::int64_t MazeGenerator::candidateCount() const { return candidates_.total(); }

std::string MazeGenerator::takeText() {
    std::string out = std::move(cells_);
    cells_.clear();
    candidates_.reset(0);
    return out;
}

std::int32_t MazeGenerator::drawStart(std::int32_t extent) {
    if (extent == 3) return 2;
    return startCoordinate(extent, random_.next());
}

MazeGenerator::Cell MazeGenerator::pickCandidate() {
    const std::int64_t k = candidates_.total();
    const std::int64_t j = k == 1 ? 1 : candidateOrdinal(k, random_.next());
    const std::size_t index = candidates_.find(j);
    const auto w = static_cast<std::size_t>(width_);
    return Cell{static_cast<std::int32_t>(index % w) + 1, static_cast<std::int32_t>(index / w) + 1};
}

void MazeGenerator::openAndGrow(Cell cell) {
    const auto [x, y] = cell;
    write(indexOf(x, y), kOpen);
    // An opening makes the candidates next to it unsuitable: they would touch it.
    for (std::int32_t cy = y - 1; cy <= y + 1; ++cy)
        for (std::int32_t cx = x - 1; cx <= x + 1; ++cx)
            if (inside(cx, cy) && peek(cx, cy) == kCandidate) write(indexOf(cx, cy), kWall);
    // Every open cell of the block may now offer new candidates, not only the new one.
    for (std::int32_t cy = y - 1; cy <= y + 1; ++cy)
        for (std::int32_t cx = x - 1; cx <= x + 1; ++cx)
            if (inside(cx, cy) && peek(cx, cy) == kOpen)
                for (const auto& [dx, dy] : kDirections) offerFromInterior(cx, cy, dx, dy);
}

void MazeGenerator::offerFromInterior(std::int32_t x, std::int32_t y, std::int32_t dx,
                                      std::int32_t dy) {
    // Open cells never lie on the border, so every side cell is inside; only the cell beyond
    // can fall outside. Should that ever not hold, the checked path decides.
    if (x < 2 || x >= width_ || y < 2 || y >= height_) return markCandidate(x, y, dx, dy);
    if (!inside(x + 2 * dx, y + 2 * dy)) return;
    const auto w = static_cast<std::ptrdiff_t>(width_);
    const std::ptrdiff_t step = dx + dy * w;  // towards the neighbour and the cell beyond
    const std::ptrdiff_t side = dy + dx * w;  // across that direction
    const auto neighbour = static_cast<std::ptrdiff_t>(indexOf(x, y)) + step;
    const auto beyond = neighbour + step;
    const char* cells = cells_.data();
    if (cells[neighbour] == kCandidate || cells[neighbour] == kOpen) return;
    if (cells[neighbour - side] == kOpen || cells[neighbour + side] == kOpen) return;
    if (cells[beyond] == kOpen) return;
    if (cells[beyond - side] == kOpen || cells[beyond + side] == kOpen) return;
    write(static_cast<std::size_t>(neighbour), kCandidate);
}

void MazeGenerator::placeOpenings() {
    for (std::int32_t x = width_; x >= 1; --x) {
        if (cellAt(x, 2) == kOpen) {
            setCell(x, 1, 'E');
            eSide_ = Cell{x, 2};
            break;
        }
    }
    for (std::int32_t x = 1; x <= width_; ++x) {
        if (cellAt(x, height_ - 1) == kOpen) {
            setCell(x, height_, 'B');
            bSide_ = Cell{x, height_ - 1};
            break;
        }
    }
}

void MazeGenerator::CandidateIndex::reset(std::size_t size) {
    const std::size_t words = (size + 63) / 64;
    bits_.assign(words, 0);
    tree_.assign(words + 1, 0);
    highBit_ = std::bit_floor(words);
    total_ = 0;
}

void MazeGenerator::CandidateIndex::insert(std::size_t index) {
    bits_[index / 64] |= std::uint64_t{1} << (index % 64);
    addToWord(index / 64, +1);
}

void MazeGenerator::CandidateIndex::erase(std::size_t index) {
    bits_[index / 64] &= ~(std::uint64_t{1} << (index % 64));
    addToWord(index / 64, -1);
}

void MazeGenerator::CandidateIndex::addToWord(std::size_t word, std::int32_t delta) {
    const std::size_t n = tree_.size() - 1;
    for (std::size_t i = word + 1; i <= n; i += i & (~i + 1)) tree_[i] += delta;
    total_ += delta;
}

std::size_t MazeGenerator::CandidateIndex::find(std::int64_t j) const {
    // Descend the tree to the word that holds the j-th candidate...
    const std::size_t n = tree_.size() - 1;
    std::size_t word = 0;
    std::int64_t remaining = std::min(std::max<std::int64_t>(j, 1), total_);  // callers keep j in range
    for (std::size_t step = highBit_; step != 0; step >>= 1) {
        const std::size_t next = word + step;
        if (next <= n && tree_[next] < remaining) {
            word = next;
            remaining -= tree_[next];
        }
    }
    // ...then take the remaining-th set bit of that word.
    std::uint64_t bits = bits_[word];
    for (std::int64_t skip = remaining - 1; skip > 0; --skip) bits &= bits - 1;
    return word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
}

}  // namespace tunewick
