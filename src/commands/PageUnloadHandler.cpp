#include "commands/PageUnloadHandler.h"

#include "audio/analysis/NoteRecognizer.h"
#include "audio/analysis/PitchTracker.h"
#include "audio/listening/ChordListener.h"
#include "audio/practice/PracticeSession.h"
#include "audio/recording/SoundPlayer.h"
#include "audio/analysis/StringTuner.h"
#include "audio/recording/WavRecorder.h"

namespace tunewick {

PageUnloadHandler::PageUnloadHandler(WavRecorder& recorder, NoteRecognizer& recognizer, StringTuner& tuner,
                                     SoundPlayer& player, PitchTracker* tracker, ChordListener* listener,
                                     PracticeSession* practice)
    : recorder_(recorder),
      recognizer_(recognizer),
      tuner_(tuner),
      player_(player),
      tracker_(tracker),
      listener_(listener),
      practice_(practice) {}

void PageUnloadHandler::handleEvent(FunctionCall*) {
    recorder_.stop();
    recognizer_.stop();
    tuner_.stop();
    player_.purge();
    if (tracker_ != nullptr) tracker_->stop();
    if (listener_ != nullptr) {
        listener_->stop();
        listener_->setTarget(std::nullopt);
    }
    if (practice_ != nullptr) practice_->stop();
}

}  // namespace tunewick
