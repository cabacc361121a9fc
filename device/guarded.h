// How the burner-grabber's operations treat the exceptions of the steps
// they run: passed on with the operation's failure line, or only logged.
#pragma once
#include "core/exception.h"
#include "core/log.h"

// Runs body; an engine exception is logged as the method's failure and
// thrown on.
template <class Body>
void QuorvaneI_Traced(const char* method, Body&& body) {
  try {
    body();
  } catch (CQuorvane_Exception* e) {
    QuorvaneI_Rethrow(method, e);
  }
}

// Runs body; an engine exception is logged as a warning and dropped.
// True when body succeeded.
template <class Body>
bool QuorvaneI_Guarded(const char* method, Body&& body) {
  try {
    body();
    return true;
  } catch (CQuorvane_Exception* e) {
    QuorvaneI_Caught owned(e);
    QuorvaneI_LogCaught(method, e);
    return false;
  }
}
