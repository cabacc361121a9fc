// The audio library the engine starts with itself. None is built in yet,
// so start-up has nothing to start.
#include "core/startup.h"

const QuorvaneI_AudioHooks* QuorvaneI_DefaultAudioHooks() { return nullptr; }
