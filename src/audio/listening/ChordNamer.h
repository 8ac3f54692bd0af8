#pragma once
// Names a chord from the notes that sound: a root and a quality, with a slash bass when the
// lowest note is not the root. A pure function, callable from any thread.
//
// Every pitch class present is tried as the root; a quality fits when its chord tones are all
// present and nothing else is (triads and sevenths may leave out the fifth, which a voicing
// often omits and a distorted strum often hides). Among fitting names the one whose root is
// the lowest note wins, then the full chord, then the simpler quality. When all the notes name
// no chord, the weakest are dropped one by one (a stray harmonic or a string ringing on) until
// the rest do, keeping at least two.
#include <optional>
#include <string>
#include <vector>

#include "audio/listening/NoteAnalyzer.h"

namespace tunewick {

struct ChordName {
    std::string name;     // "C", "F#m", "G7", "Cmaj7", "Am7", "Dsus4", "E5", "Bdim", "Caug", "Cadd9", "D/F#"
    std::string root;     // "C".."B" with sharps ("F#", "C#"; flats never)
    std::string quality;  // "major","m","7","maj7","m7","sus2","sus4","5","dim","aug","add9"
    std::string bass;     // "" unless the lowest note is not the root ("F#" in D/F#)
};

// Fewer than two pitch classes, or no quality that fits: nullopt.
std::optional<ChordName> nameChord(const std::vector<HeardNote>& notes);

// "C", "C#" .. "B" for a MIDI number's pitch class.
std::string pitchClassName(int midi);

}  // namespace tunewick
