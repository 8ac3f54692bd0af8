#include "commands/AudioCommands.h"

#include <cmath>

#include "audio/analysis/NoteRecognizer.h"
#include "audio/recording/SoundPlayer.h"
#include "audio/analysis/StringTuner.h"
#include "audio/recording/WavRecorder.h"

namespace tunewick {

StartRecorderCommand::StartRecorderCommand(WavRecorder& recorder)
    : FunctionCommand("startRecorder"), recorder_(recorder) {}

Param StartRecorderCommand::execute(const std::vector<Param>&) {
    recorder_.start();
    return Param();
}

StopRecorderCommand::StopRecorderCommand(WavRecorder& recorder)
    : FunctionCommand("stopRecorder"), recorder_(recorder) {}

Param StopRecorderCommand::execute(const std::vector<Param>&) {
    recorder_.stop();
    return Param();
}

PlayWavCommand::PlayWavCommand(SoundPlayer& player) : FunctionCommand("playRecordedWav"), player_(player) {}

Param PlayWavCommand::execute(const std::vector<Param>&) {
    player_.play(WaveFileWriter::kDefaultPath);
    return Param();
}

StartRecognizerCommand::StartRecognizerCommand(NoteRecognizer& recognizer)
    : FunctionCommand("startRecognizer"), recognizer_(recognizer) {}

Param StartRecognizerCommand::execute(const std::vector<Param>&) {
    recognizer_.start();
    return Param();
}

StartTunerCommand::StartTunerCommand(StringTuner& tuner) : FunctionCommand("startTuner"), tuner_(tuner) {}

Param StartTunerCommand::execute(const std::vector<Param>&) {
    tuner_.start();
    return Param();
}

SetTunerStringCommand::SetTunerStringCommand(StringTuner& tuner)
    : FunctionCommand("setTunerString"), tuner_(tuner) {}

Param SetTunerStringCommand::execute(const std::vector<Param>& arguments) {
    if (arguments.empty() || arguments.front().type() != Param::Number) return Param(false);
    // Truncation toward zero; the range check comes before any conversion to int, so NaN
    // and huge numbers are refused instead of overflowing.
    const double truncated = std::trunc(arguments.front().getNumber());
    if (!(truncated >= 0.0 && truncated <= 5.0)) return Param(false);
    return Param(tuner_.setStringIndex(static_cast<int>(truncated)));
}

}  // namespace tunewick
