# Tests of the real sound devices (PortAudio, soxr, libsndfile).
#
# audio_portaudio_test needs no sound card: the hand-over queue, the resampler, finding
# devices by name, and what happens when a device is missing.
# audio_sound_test starts a private PulseAudio server with a null sink and checks the whole
# path on it (label "sound"); where no server can start, its tests report themselves skipped.
# Both run threads, so the ThreadSanitizer preset takes them too (label "threads").
add_library(tunewick_sound_test_support STATIC
  ${CMAKE_CURRENT_LIST_DIR}/portaudio/PulseServer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/portaudio/ToneAnalysis.cpp
  ${CMAKE_CURRENT_LIST_DIR}/portaudio/SoundTestSupport.cpp)
target_include_directories(tunewick_sound_test_support PUBLIC ${CMAKE_CURRENT_LIST_DIR}/portaudio)
target_link_libraries(tunewick_sound_test_support PUBLIC tunewick_audio)

add_executable(audio_portaudio_test
  ${CMAKE_CURRENT_LIST_DIR}/portaudio/SpscQueueTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/portaudio/CaptureResamplerTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/portaudio/DecimatingFilterTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/portaudio/AudioDevicesTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/portaudio/SoundPlayerTest.cpp)
target_link_libraries(audio_portaudio_test PRIVATE tunewick_sound_test_support GTest::gtest_main)
# An ALSA configuration that names one card that is not there: to PortAudio this is a
# machine without sound cards, whatever this machine has. (Not an empty one: PortAudio 19.6
# fails an assertion on that. It also keeps ALSA from loading its plugins, one of which
# leaves allocations behind when unloaded, which the leak checker would blame on the test.)
set(no_sound_card ${CMAKE_CURRENT_BINARY_DIR}/no-sound-card.conf)
file(WRITE ${no_sound_card} "pcm.nocard { type hw card 99 }\n")
gtest_discover_tests(audio_portaudio_test PROPERTIES LABELS threads
  ENVIRONMENT "ALSA_CONFIG_PATH=${no_sound_card}")

add_executable(audio_sound_test ${CMAKE_CURRENT_LIST_DIR}/portaudio/SoundServerTest.cpp)
target_link_libraries(audio_sound_test PRIVATE tunewick_sound_test_support GTest::gtest_main)
gtest_discover_tests(audio_sound_test PROPERTIES TIMEOUT 120
  ENVIRONMENT "TSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/portaudio/tsan.supp")
# Two labels: gtest_discover_tests cannot pass a list as one property value, so they are set
# by a file CTest reads after the discovered list (which names the tests in a variable).
set(sound_labels ${CMAKE_CURRENT_BINARY_DIR}/audio_sound_test_labels.cmake)
file(WRITE ${sound_labels}
  "if(DEFINED audio_sound_test_TESTS)\n"
  "  set_tests_properties(\${audio_sound_test_TESTS} PROPERTIES LABELS \"sound;threads\")\n"
  "endif()\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${sound_labels})
