# The real sound devices: the microphone and the speakers through PortAudio, resampled with
# libsoxr, files read with libsndfile.
target_sources(tunewick_audio PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/AudioDevices.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CaptureResampler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DecimatingFilter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PortAudioCaptureDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PortAudioSoundPlayer.cpp)
target_link_libraries(tunewick_audio PUBLIC PkgConfig::PORTAUDIO PkgConfig::SOXR PkgConfig::SNDFILE)

# PortAudio's ALSA and JACK back ends print their probing of absent cards and servers; with
# their headers at hand (portaudio19-dev brings both) those messages are switched off.
pkg_check_modules(TUNEWICK_ALSA IMPORTED_TARGET alsa)
if(TUNEWICK_ALSA_FOUND)
  target_link_libraries(tunewick_audio PRIVATE PkgConfig::TUNEWICK_ALSA)
  target_compile_definitions(tunewick_audio PRIVATE TUNEWICK_HAVE_ALSA)
endif()
pkg_check_modules(TUNEWICK_JACK IMPORTED_TARGET jack)
if(TUNEWICK_JACK_FOUND)
  target_link_libraries(tunewick_audio PRIVATE PkgConfig::TUNEWICK_JACK)
  target_compile_definitions(tunewick_audio PRIVATE TUNEWICK_HAVE_JACK)
endif()
