// The ready-made callback objects for clients that cannot implement
// interfaces themselves: CSimpleCallBack keeps the last progress report,
// CNotificationCallBack ignores notifications.
#pragma once
#include "control/win32/com_object.h"

namespace qv::control {

class CSimpleCallBack : public ComObject<CSimpleCallBack, ISimpleCallBack, IQuorvaneCallBack> {
 public:
  static const CLSID& ClassId() { return CLSID_CSimpleCallBack; }

  // IQuorvaneCallBack: may arrive on any thread. The two values are stored
  // one by one: a reader may pair the percent of one report with the time
  // of another.
  HRESULT STDMETHODCALLTYPE ProgressCallBack(long percent, long timeRemaining) override;
  // ISimpleCallBack
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE get_Percent(long* value) override;

  long TimeRemaining() const { return time_remaining_.load(std::memory_order_relaxed); }

 private:
  std::atomic<long> percent_{0};
  std::atomic<long> time_remaining_{0};
};

class CNotificationCallBack
    : public ComObject<CNotificationCallBack, INotificationCallBack, IQuorvaneNotificationCallBack> {
 public:
  static const CLSID& ClassId() { return CLSID_CNotificationCallBack; }
  // Both interfaces reach this one member.
  HRESULT STDMETHODCALLTYPE NotifyCallBack() override;
};

}  // namespace qv::control
