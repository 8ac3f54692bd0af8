#pragma once
// Stops every audio engine, the pitch tracker, the chord listener, the practice session and
// any playing sound before the page is replaced.
#include "bridge/EventHandler.h"

namespace tunewick {

class WavRecorder;
class NoteRecognizer;
class StringTuner;
class SoundPlayer;
class PitchTracker;
class ChordListener;
class PracticeSession;

class PageUnloadHandler final : public EventHandler {
public:
    PageUnloadHandler(WavRecorder& recorder, NoteRecognizer& recognizer, StringTuner& tuner,
                      SoundPlayer& player, PitchTracker* tracker = nullptr,
                      ChordListener* listener = nullptr, PracticeSession* practice = nullptr);
    // Stops the recorder (finishing its file), the recognizer, the tuner, then purges playback,
    // then stops the pitch tracker, the chord listener (forgetting its target) and the practice
    // session, those that are there. Each step runs whatever the one before it did.
    void handleEvent(FunctionCall* event) override;

private:
    WavRecorder& recorder_;
    NoteRecognizer& recognizer_;
    StringTuner& tuner_;
    SoundPlayer& player_;
    PitchTracker* tracker_;
    ChordListener* listener_;
    PracticeSession* practice_;
};

}  // namespace tunewick
