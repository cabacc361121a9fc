// The engine starts and shuts down the compressed audio library with itself.
#include "core/startup.h"
#include "quorvane.h"

namespace {
uint32_t UpStart() { return Sonvex_UpStart(); }
uint32_t DownShut() { return Sonvex_DownShut(); }
const QuorvaneI_AudioHooks kSonvexHooks{&UpStart, &DownShut};
}  // namespace

const QuorvaneI_AudioHooks* QuorvaneI_DefaultAudioHooks() { return &kSonvexHooks; }
