// The tray handler's face to the tray plug-ins: notifications without a parameter.
#pragma once

#include <string>

#include "tray/tray_balloons.h"

class ITrayService {
 public:
  virtual ~ITrayService() = default;
  // A timeout of 0 is the default 25000 ms. True when the notification was taken.
  virtual bool Notify(const std::wstring& title, const std::wstring& message,
                      TrayNotifyCallback callback, DWORD flags, UINT timeoutMs, UINT id) = 0;
};
