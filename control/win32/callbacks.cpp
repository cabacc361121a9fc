#include "control/win32/callbacks.h"

namespace qv::control {

HRESULT CSimpleCallBack::ProgressCallBack(long percent, long timeRemaining) {
  percent_.store(percent, std::memory_order_relaxed);
  time_remaining_.store(timeRemaining, std::memory_order_relaxed);
  return S_OK;
}

HRESULT CSimpleCallBack::Reset() {
  percent_.store(0, std::memory_order_relaxed);
  return S_OK;
}

HRESULT CSimpleCallBack::get_Percent(long* value) {
  if (!CheckOutPointer("CSimpleCallBack::get_Percent", value, sizeof *value)) return E_POINTER;
  *value = percent_.load(std::memory_order_relaxed);
  return S_OK;
}

HRESULT CNotificationCallBack::NotifyCallBack() { return S_OK; }

}  // namespace qv::control
