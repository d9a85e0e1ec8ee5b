// Receiver of the tray-plug-in framework's broadcast "VDNX_BROADCAST_NOTIFICATION".
// Every event code (wParam) is consumed; only "kiosk user identified" has an effect.
#pragma once

#include "core/message_map.h"
#include "core/messages.h"
#include "support/trace/trace.h"

template <class T>
class CDashBoardNotifyReceiver {
 public:
  VD_BEGIN_MSG_MAP()
    VD_MESSAGE_HANDLER(uMsg == Self().Process().Messages().vdnxBroadcast, OnNotification)
  VD_END_MSG_MAP()

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  LRESULT OnNotification(UINT, WPARAM wParam, LPARAM lParam) {
    if (wParam == core::kVdnxKioskUserIdentified) Self().OnVDKioskUserIdentified(lParam);
    return 0;
  }
};
