// The main window's hold on the avatar.
//
//   tray::CGuideWindow guide(plat, module, [&](UINT id) { return strings.String(id); });
//   if (guide.MessageId()) ui.PostMessageW(guide.Window(), guide.MessageId(), 1, 0);
#pragma once

#include <memory>

#include "platform/platform.h"
#include "tray/avatar_window.h"

namespace tray {

// Owns the avatar for the main window: the message to post is kAvatarMessage once the
// window exists and is usable, 0 otherwise.
class CGuideWindow {
 public:
  CGuideWindow(platform::IPlatform& plat, HINSTANCE module, CAvatarWindow::Strings strings);
  ~CGuideWindow();
  CGuideWindow(const CGuideWindow&) = delete;
  CGuideWindow& operator=(const CGuideWindow&) = delete;

  UINT MessageId() const { return m_messageId; }
  // The avatar window while it is usable, else null.
  HWND Window() const { return m_messageId ? m_avatar->m_hWnd : nullptr; }
  CAvatarWindow& Avatar() { return *m_avatar; }

 private:
  std::unique_ptr<CAvatarWindow> m_avatar;
  UINT m_messageId = 0;
};

}  // namespace tray
