// The chord namer on note lists: every quality, slash basses, and what is not a chord.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/listening/ChordNamer.h"

namespace {

using namespace tunewick;

std::vector<HeardNote> notes(const std::vector<int>& midis) {
    std::vector<HeardNote> out;
    for (int midi : midis) out.push_back({midi, -20.0f, 0.0f});
    return out;
}

struct NamingCase {
    std::vector<int> midis;
    std::string name;  // "" = not a chord
    std::string root, quality, bass;
};

TEST(ChordNamer, NamesGuitarVoicings) {
    const std::vector<NamingCase> cases{
        {{48, 52, 55, 60, 64}, "C", "C", "major", ""},
        {{48, 52, 55, 59, 64}, "Cmaj7", "C", "maj7", ""},      // one note apart from C
        {{48, 52, 58, 60, 64}, "C7", "C", "7", ""},
        {{40, 47, 52}, "E5", "E", "5", ""},
        {{42, 50, 57, 62, 66}, "D/F#", "D", "major", "F#"},
        {{43, 48, 52, 55, 60, 64}, "C/G", "C", "major", "G"},
        {{45, 52, 57, 60, 64}, "Am", "A", "m", ""},
        {{42, 49, 54, 57, 61, 66}, "F#m", "F#", "m", ""},
        {{43, 47, 50, 55, 59, 65}, "G7", "G", "7", ""},
        {{45, 52, 55, 60, 64}, "Am7", "A", "m7", ""},
        {{50, 57, 62, 67}, "Dsus4", "D", "sus4", ""},
        {{50, 57, 62, 64}, "Dsus2", "D", "sus2", ""},
        {{47, 53, 59, 62}, "Bdim", "B", "dim", ""},
        {{48, 52, 56, 60, 64}, "Caug", "C", "aug", ""},
        {{48, 52, 55, 62, 64}, "Cadd9", "C", "add9", ""},
        {{46, 53, 58, 62, 65}, "A#", "A#", "major", ""},   // sharps, never flats
        {{50, 54, 62}, "D", "D", "major", ""},             // the fifth left out, or not heard
        {{50, 65}, "Dm", "D", "m", ""},
        {{54, 62, 66}, "D/F#", "D", "major", "F#"},
    };
    for (const auto& c : cases) {
        const auto chord = nameChord(notes(c.midis));
        ASSERT_TRUE(chord.has_value()) << c.name;
        EXPECT_EQ(chord->name, c.name);
        EXPECT_EQ(chord->root, c.root) << c.name;
        EXPECT_EQ(chord->quality, c.quality) << c.name;
        EXPECT_EQ(chord->bass, c.bass) << c.name;
    }
}

TEST(ChordNamer, FewerThanTwoPitchClassesOrNoFittingQualityIsNotAChord) {
    const std::vector<std::vector<int>> cases{
        {},
        {45},
        {45, 57, 69},          // octaves of one pitch class
        {48, 49, 50},          // a cluster: no quality fits, nor does any pair
    };
    for (const auto& midis : cases) EXPECT_FALSE(nameChord(notes(midis)).has_value()) << midis.size();
}

TEST(ChordNamer, AStrayWeakNoteIsDroppedWhenTheRestNamesAChord) {
    auto heard = notes({45, 52, 57, 61, 64});
    heard.push_back({63, -55.0f, 0.0f});  // D#: no quality of A holds it
    const auto chord = nameChord(heard);
    ASSERT_TRUE(chord.has_value());
    EXPECT_EQ(chord->name, "A");
}

}  // namespace
