// The simulated shell's link object (CLSID_ShellLink) and the record its IPersistFile::Save
// writes to the simulated disk in place of a binary .lnk file.
//
//   auto record = sim::ReadShellLink(machine.Files(), L"C:\\ProgramData\\...\\Agent.lnk");
//   EXPECT_EQ(record->arguments, L"/OpenConsole");
//
// Like the real one, a fresh link has no flags and no data blocks; setting an icon location
// adds the expandable-icon block (EXP_SZ_ICON_SIG) and sets SLDF_HAS_EXP_ICON_SZ, as Windows
// does so the icon path may hold environment variables. Property values reach the file only
// once committed; GetValue answers E_NOTIMPL (the agent never reads them back).
#pragma once

#include <optional>
#include <string>

#include "platform/shell_link.h"

namespace sim {

class FileSystem;
class Machine;

struct ShellLinkRecord {
  std::wstring target;
  std::wstring arguments;
  std::wstring workingDirectory;
  std::wstring description;
  std::wstring iconPath;
  int iconIndex = 0;
  DWORD flags = 0;
  bool hasExpandableIconBlock = false;
  std::wstring appUserModelId;            // empty: not set
  std::optional<CLSID> toastActivatorClsid;
};

// The record text Save writes, and back; nullopt for a file that holds no link record.
std::string FormatShellLink(const ShellLinkRecord& record);
std::optional<ShellLinkRecord> ParseShellLink(const std::string& text);
std::optional<ShellLinkRecord> ReadShellLink(const FileSystem& files, const std::wstring& path);

// A new link object with one reference, answering IUnknown, IShellLinkW, IPersist,
// IPersistFile, IShellLinkDataList and IPropertyStore. Each save is also a "shortcut" event
// on the desktop of `sessionId` (path, target, arguments, icon, AppUserModelID, activator).
HRESULT CreateShellLink(Machine& machine, DWORD sessionId, REFIID riid, void** ppv);

// Link objects alive machine-wide (a leaked reference shows here).
long LiveShellLinks();

}  // namespace sim
