// What every C entry point on a drive handle checks before it calls in.
#pragma once

#include "device/drive.h"

// The drive a handle names; a null handle is the caller's error.
CQuorvane_CdvdDrive& QuorvaneI_DriveOf(const char* entryPoint, QV_HANDLE handle);
// A pointer the caller must give: null is refused by its parameter's name.
void QuorvaneI_Require(const char* entryPoint, const void* pointer, const char* name);
