#include "core/agent_process.h"

#include "core/messages.h"
#include "support/vdfp/vdfp_api.h"

namespace core {

CAgentProcess::CAgentProcess(platform::IPlatform& plat, HINSTANCE hInstance)
    : m_plat(plat), m_hInstance(hInstance) {
  // Registered before anything else runs, as static initialisers would in a plain program.
  auto& ui = plat.Ui();
  m_messages.vdnxBroadcast = ui.RegisterWindowMessageW(kMsgVdnxBroadcast);
  m_messages.vdSettingsChanged = ui.RegisterWindowMessageW(kMsgVdSettingsChanged);
  m_messages.taskbarCreated = ui.RegisterWindowMessageW(kMsgTaskbarCreated);
}

CAgentProcess::~CAgentProcess() = default;

CVDFPApi& CAgentProcess::AuthLibrary() {
  if (!m_authLibrary) m_authLibrary = std::make_unique<CVDFPApi>(m_plat);
  return *m_authLibrary;
}

}  // namespace core
