#include "tray/guide_window.h"

#include "support/result_error.h"
#include "support/trace/trace.h"

namespace tray {

CGuideWindow::CGuideWindow(platform::IPlatform& plat, HINSTANCE module,
                           CAvatarWindow::Strings strings)
    : m_avatar(std::make_unique<CAvatarWindow>(plat, module, std::move(strings))) {
  VDTraceNS::CScope ts("CGuideWindow::CGuideWindow");
  HRESULT hr = S_OK;
  try {
    hr = m_avatar->Create();
  } catch (const CResultError& e) {
    hr = e.Result();
  }
  if (FAILED(hr)) {
    ts.Result("Failed to create window.", hr);
    return;
  }
  m_messageId = kAvatarMessage;
}

CGuideWindow::~CGuideWindow() = default;

}  // namespace tray
