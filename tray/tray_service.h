// The tray handler's face to the tray plug-ins: notifications without a parameter.
#pragma once

#include <string>

#include "platform/com.h"

class ITrayService {
 public:
  virtual ~ITrayService() = default;
  // A timeout of 0 is the default 25000 ms. `callback` (may be null) is held counted and
  // asked for IVDNXTrayNotifyCallback when the notification ends. True when it was taken.
  virtual bool Notify(const std::wstring& title, const std::wstring& message, IUnknown* callback,
                      DWORD flags, UINT timeoutMs, UINT id) = 0;
};
