// Process-wide engine switches, read by recording, TOC reading, grabbing
// and the name checks. Plain values any thread may read and write.
#pragma once
#include <cstdint>

bool QuorvaneI_EjectAfterFail();
bool QuorvaneI_FastReadTOC();
bool QuorvaneI_FastReadTOCLastTrack();
uint32_t QuorvaneI_BufferUnderrunTimeOutInMs();
bool QuorvaneI_Padding();
bool QuorvaneI_CompatibleClose();
bool QuorvaneI_TestUnitReadyBeforeRead();
bool QuorvaneI_SkipNameCheck();

// Puts every switch back to its default (tests).
void QuorvaneI_ResetSettings();
