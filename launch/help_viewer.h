// The agent's help: the HTML help file named by the suite's help identifier (a GUID), in the
// user's first preferred UI language, else in "en-US", shown by the system's HTML help.
//
//   auto help = launch::CHelpViewer::Create(plat, hInstance, L"C:\\...\\Agent\\", helpId);
//   if (!help || !help->Show()) ...                     // "Failed to create HtmlHelp."
//
// Files are looked for at <agent folder>Help\<language>\<GUID>.chm. The viewer's window is
// owned by an invisible window of class "VDInvisibleParent" that lives as long as this
// object: the system closes an owned window with its owner, so an owner destroyed as soon as
// the help is shown would close the help at once.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/agent_process.h"
#include "platform/platform.h"

namespace launch {

// The user's preferred UI language names, first preferred first; empty when the system
// cannot tell.
std::vector<std::wstring> PreferredUILanguages(platform::IKernel& kernel);

class CHelpViewer {
 public:
  // Null (traced) when `helpId` is not a GUID ("{...}" or bare, any case of digits).
  static std::unique_ptr<CHelpViewer> Create(platform::IPlatform& plat, HINSTANCE instance,
                                             std::wstring agentFolder, const std::wstring& helpId);
  ~CHelpViewer();
  CHelpViewer(const CHelpViewer&) = delete;
  CHelpViewer& operator=(const CHelpViewer&) = delete;

  // The files to try, in order: the first preferred language's, then the "en-US" one.
  std::vector<std::wstring> HelpFiles() const;

  // Shows the first of HelpFiles() the viewer opens; false when none opens.
  bool Show();

  // The invisible owner, null until help was first shown.
  HWND Owner() const { return m_owner; }

 private:
  CHelpViewer(platform::IPlatform& plat, HINSTANCE instance, std::wstring agentFolder,
              std::wstring guid);

  platform::IPlatform& m_plat;
  const HINSTANCE m_instance;
  HWND m_owner = nullptr;
  const std::wstring m_agentFolder;
  const std::wstring m_guid;  // with braces, as the file is named
};

// The window's help command: reads the suite's help identifier (HKLM
// "SOFTWARE\Veridane\Help" "UserDashboardHelpID", 32-bit view) on first use, then shows
// help. `viewer` keeps the viewer between calls. False, traced
// "Failed to create HtmlHelp.", when no help could be shown.
bool ShowHelp(core::CAgentProcess& process, std::unique_ptr<CHelpViewer>& viewer);

}  // namespace launch
