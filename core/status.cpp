#include "core/status.h"

#include <cstdio>
#include <cstring>

namespace {

void CopyText(const char* source, char* text, uint32_t textSize) {
  if (text == nullptr || textSize == 0) return;
  std::snprintf(text, textSize, "%s", source ? source : "");
}

}  // namespace

uint32_t QuorvaneI_ReportException(CQuorvane_Exception* e, char* text, uint32_t textSize, uint32_t* systemError,
                                   CDB_FAILURE_INFORMATION* failure) {
  if (e == nullptr) {
    CopyText(Quorvane_GetExceptionText(EN_EXCEPTION_NOT_ALLOCATED), text, textSize);
    return EN_EXCEPTION_NOT_ALLOCATED;
  }
  QuorvaneI_Caught owner(e);
  CopyText(e->Text(), text, textSize);
  if (e->Number() == EN_SYSTEM_CALL_FAILED && systemError != nullptr) *systemError = e->SystemError();
  if (e->Number() == EN_CDB_CALL_FAILED && failure != nullptr && e->FailureInformation() != nullptr)
    std::memcpy(failure, e->FailureInformation(), sizeof *failure);
  return e->Number();
}

uint32_t QuorvaneI_ReportNumber(uint32_t number, const char* detail, char* text, uint32_t textSize) {
  if (detail != nullptr && *detail != '\0') {
    char buffer[QUORVANE_EXCEPTION_TEXT_SIZE];
    std::snprintf(buffer, sizeof buffer, "%s: %s", Quorvane_GetExceptionText(number), detail);
    CopyText(buffer, text, textSize);
  } else {
    CopyText(Quorvane_GetExceptionText(number), text, textSize);
  }
  return number;
}
