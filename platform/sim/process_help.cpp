// Preferred UI languages and the HTML help viewer. The languages come from the machine's
// description; the viewer shows a help file on the desktop when the file is on the disk.
#include <string>

#include "platform/sim/desktop.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/process_kernel.h"
#include "platform/sim/process_shell.h"

namespace sim {

BOOL ProcessKernel::GetUserPreferredUILanguages(DWORD dwFlags, PULONG pulNumLanguages,
                                                PZZWSTR pwszLanguagesBuffer,
                                                PULONG pcchLanguagesBuffer) {
  // Only names are simulated; the numeric forms are not used by the agent.
  if (!pulNumLanguages || !pcchLanguagesBuffer || (dwFlags & ~MUI_LANGUAGE_NAME) != 0)
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::vector<std::wstring> languages = m_machine.Description().uiLanguages;
  if (languages.empty()) languages.push_back(L"en-US");
  std::wstring list;
  for (const auto& l : languages) list += l + L'\0';
  list += L'\0';
  const auto needed = static_cast<ULONG>(list.size());
  if (!pwszLanguagesBuffer) {
    *pulNumLanguages = static_cast<ULONG>(languages.size());
    *pcchLanguagesBuffer = needed;
    return TRUE;
  }
  if (*pcchLanguagesBuffer < needed) {
    *pcchLanguagesBuffer = needed;
    return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  }
  list.copy(pwszLanguagesBuffer, list.size());
  *pulNumLanguages = static_cast<ULONG>(languages.size());
  *pcchLanguagesBuffer = needed;
  return TRUE;
}

HWND ProcessShell::HtmlHelpW(HWND, LPCWSTR pszFile, UINT uCommand, DWORD_PTR dwData) {
  // Showing a topic is all the agent asks of the viewer.
  if (uCommand != HH_DISPLAY_TOPIC || !pszFile || !*pszFile) {
    m_machine.LastError() = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  // "file.chm::/topic.htm": the topic follows the file, or comes as the data.
  std::wstring file = pszFile;
  std::wstring topic;
  if (const size_t sep = file.find(L"::"); sep != std::wstring::npos) {
    topic = file.substr(sep + 2);
    file.resize(sep);
  } else if (dwData) {
    topic = reinterpret_cast<LPCWSTR>(dwData);
  }
  const auto full = FileSystem::FullPath(m_process.CurrentDirectory(), file);
  DWORD attributes = 0;
  if (!full || m_machine.Files().Attributes(*full, &attributes) != ERROR_SUCCESS ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    m_machine.LastError() = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  std::wstring record = L"\"" + *full + L"\"";
  if (!topic.empty()) record += L" " + topic;
  m_machine.GetDesktop().Record(m_process.SessionId(), desktop_kind::kHelp, std::move(record));
  // The viewer's window is not simulated: a handle that is not null, and names no window,
  // tells the caller the viewer is up.
  static constexpr uintptr_t kViewer = 0x48480000;
  return reinterpret_cast<HWND>(kViewer);
}

}  // namespace sim
