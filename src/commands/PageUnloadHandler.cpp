#include "commands/PageUnloadHandler.h"

#include "audio/NoteRecognizer.h"
#include "audio/SoundPlayer.h"
#include "audio/StringTuner.h"
#include "audio/WavRecorder.h"

namespace tunewick {

PageUnloadHandler::PageUnloadHandler(WavRecorder& recorder, NoteRecognizer& recognizer, StringTuner& tuner,
                                     SoundPlayer& player)
    : recorder_(recorder), recognizer_(recognizer), tuner_(tuner), player_(player) {}

void PageUnloadHandler::handleEvent(FunctionCall*) {
    recorder_.stop();
    recognizer_.stop();
    tuner_.stop();
    player_.purge();
}

}  // namespace tunewick
