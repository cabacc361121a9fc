// Start-up hooks: the compressed-audio library is started and shut down
// with the engine.
#pragma once
#include <cstdint>

struct QuorvaneI_AudioHooks {
  uint32_t (*upStart)();
  uint32_t (*downShut)();
};

// Installs the audio library's start-up pair (nullptr: none); returns the
// previous one.
const QuorvaneI_AudioHooks* QuorvaneI_SetAudioHooks(const QuorvaneI_AudioHooks* hooks);

// Clears the started flag without running shut-down (tests).
void QuorvaneI_ResetStarted();
