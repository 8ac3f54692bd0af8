#pragma once
// The commands that start and stop the audio engines and play the recording.
#include <string>

#include "bridge/FunctionCommand.h"

namespace tunewick {

class WavRecorder;
class NoteRecognizer;
class StringTuner;
class SoundPlayer;

// "startRecorder": starts recording; the engine's status is not passed on. Answers null.
class StartRecorderCommand final : public FunctionCommand {
public:
    explicit StartRecorderCommand(WavRecorder& recorder);
    Param execute(const std::vector<Param>& arguments) override;

private:
    WavRecorder& recorder_;
};

// "stopRecorder": stops recording and finishes the file. Answers null.
class StopRecorderCommand final : public FunctionCommand {
public:
    explicit StopRecorderCommand(WavRecorder& recorder);
    Param execute(const std::vector<Param>& arguments) override;

private:
    WavRecorder& recorder_;
};

// "playRecordedWav": plays the recording asynchronously, replacing a sound still playing.
class PlayWavCommand final : public FunctionCommand {
public:
    explicit PlayWavCommand(SoundPlayer& player);
    Param execute(const std::vector<Param>& arguments) override;

private:
    SoundPlayer& player_;
};

// "startRecognizer": starts the note recognizer. Answers null.
class StartRecognizerCommand final : public FunctionCommand {
public:
    explicit StartRecognizerCommand(NoteRecognizer& recognizer);
    Param execute(const std::vector<Param>& arguments) override;

private:
    NoteRecognizer& recognizer_;
};

// "startTuner": starts the string tuner. Answers null.
class StartTunerCommand final : public FunctionCommand {
public:
    explicit StartTunerCommand(StringTuner& tuner);
    Param execute(const std::vector<Param>& arguments) override;

private:
    StringTuner& tuner_;
};

// "setTunerString": selects the string (0 low E ... 5 high E) from a number argument,
// truncated toward zero. Answers true when the string was taken; false for a missing or
// non-number argument or a string outside 0..5, which leave the selection unchanged.
class SetTunerStringCommand final : public FunctionCommand {
public:
    explicit SetTunerStringCommand(StringTuner& tuner);
    Param execute(const std::vector<Param>& arguments) override;

private:
    StringTuner& tuner_;
};

}  // namespace tunewick
