#include "audio/listening/ChordNamer.h"

#include <algorithm>
#include <array>
#include <bitset>

namespace tunewick {
namespace {

struct Quality {
    const char* name;
    const char* suffix;
    std::bitset<12> tones;  // intervals above the root
    bool fifthOptional = false;  // guitar voicings often leave the fifth out (C7 x32310)
};

std::bitset<12> intervals(std::initializer_list<int> semitones) {
    std::bitset<12> set;
    for (int s : semitones) set.set(static_cast<std::size_t>(s));
    return set;
}

// In order of preference when one set of pitch classes reads two ways.
const std::array<Quality, 11>& qualities() {
    static const std::array<Quality, 11> table{{
        {"major", "", intervals({0, 4, 7}), true},
        {"m", "m", intervals({0, 3, 7}), true},
        {"5", "5", intervals({0, 7})},
        {"7", "7", intervals({0, 4, 7, 10}), true},
        {"m7", "m7", intervals({0, 3, 7, 10}), true},
        {"maj7", "maj7", intervals({0, 4, 7, 11}), true},
        {"sus4", "sus4", intervals({0, 5, 7})},
        {"sus2", "sus2", intervals({0, 2, 7})},
        {"add9", "add9", intervals({0, 2, 4, 7})},
        {"dim", "dim", intervals({0, 3, 6})},
        {"aug", "aug", intervals({0, 4, 8})},
    }};
    return table;
}

std::bitset<12> rotate(const std::bitset<12>& classes, int root) {
    std::bitset<12> out;
    for (int pc = 0; pc < 12; ++pc) {
        if (classes.test(static_cast<std::size_t>(pc))) out.set(static_cast<std::size_t>((pc - root + 12) % 12));
    }
    return out;
}

// The best name for exactly these pitch classes over this bass, if one fits.
std::optional<ChordName> nameClasses(const std::bitset<12>& classes, int bass) {
    if (classes.count() < 2) return std::nullopt;
    std::optional<ChordName> best;
    int bestRank = 1 << 30;
    const auto& table = qualities();
    for (int root = 0; root < 12; ++root) {
        if (!classes.test(static_cast<std::size_t>(root))) continue;
        const std::bitset<12> above = rotate(classes, root);
        for (std::size_t q = 0; q < table.size(); ++q) {
            std::bitset<12> withoutFifth = table[q].tones;
            withoutFifth.reset(7);
            const bool full = above == table[q].tones;
            if (!full && !(table[q].fifthOptional && above == withoutFifth)) continue;
            // A root in the bass first, then a full chord, then the table's order.
            const int rank = (root == bass ? 0 : 100) + (full ? 0 : 50) + static_cast<int>(q);
            if (rank >= bestRank) continue;
            bestRank = rank;
            ChordName name;
            name.root = pitchClassName(root);
            name.quality = table[q].name;
            name.bass = root == bass ? "" : pitchClassName(bass);
            name.name = name.root + table[q].suffix + (name.bass.empty() ? "" : "/" + name.bass);
            best = std::move(name);
        }
    }
    return best;
}

std::optional<ChordName> nameNotes(const std::vector<HeardNote>& notes) {
    std::bitset<12> classes;
    int lowest = 1 << 30;
    for (const auto& note : notes) {
        classes.set(static_cast<std::size_t>(((note.midi % 12) + 12) % 12));
        lowest = std::min(lowest, note.midi);
    }
    if (notes.empty()) return std::nullopt;
    return nameClasses(classes, ((lowest % 12) + 12) % 12);
}

}  // namespace

std::string pitchClassName(int midi) {
    static const std::array<const char*, 12> names{"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return names[static_cast<std::size_t>(((midi % 12) + 12) % 12)];
}

std::optional<ChordName> nameChord(const std::vector<HeardNote>& notes) {
    if (auto all = nameNotes(notes)) return all;
    // Something extra rang (a harmonic read as a note, a stray string): drop the weakest note
    // until a chord fits, keeping at least two.
    std::vector<HeardNote> kept = notes;
    std::sort(kept.begin(), kept.end(), [](const HeardNote& a, const HeardNote& b) { return a.level > b.level; });
    while (kept.size() > 2) {
        kept.pop_back();
        if (auto name = nameNotes(kept)) return name;
    }
    return std::nullopt;
}

}  // namespace tunewick
