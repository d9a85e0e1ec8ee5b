// Libraries "installed" on the simulated machine: a Windows path and a table of named
// entry points. Stand-ins for the suite's closed libraries install themselves here; a
// test leaves one out (or drops one entry point) to see how the agent copes.
//
//   machine.Modules().Install(L"C:\\Windows\\system32\\VDFPApi.dll",
//                             {{"VDFPInit", reinterpret_cast<FARPROC>(&StandInInit)}, ...});
//   machine.Modules().SetIcon(L"C:\\...\\VdAgentRes.dll", 131, {sim::IconImage{16, 16, argb}});
//   machine.Modules().SetDialog(L"C:\\...\\VdAgentRes.dll", 210,
//                               {L"Caption", {{1000, sim::DialogControl::Kind::Text, L"Hi"}}});
//
// Every machine has the system libraries the agent probes for, "uxtheme.dll" and
// "comctl32.dll" (which exports "LoadIconWithScaleDown"), in C:\Windows\system32; a test
// uninstalls one to see the agent without it.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace sim {

// One image of an icon resource: `argb` holds width * height pixels, rows top-down, each
// 0xAARRGGBB with straight (not premultiplied) alpha; alpha 0 is transparent.
struct IconImage {
  int width = 0;
  int height = 0;
  std::vector<DWORD> argb;
};

// One control of a dialog template, as DialogBoxParamW creates it.
struct DialogControl {
  // Link: a "SysLink" control; a click notifies its dialog (WM_NOTIFY, NM_CLICK).
  enum class Kind { Text, CheckBox, Button, Link };
  int id = 0;
  Kind kind = Kind::Text;
  std::wstring text;
};

// A dialog template resource: the caption and the controls in template order.
struct DialogTemplate {
  std::wstring caption;
  std::vector<DialogControl> controls;
};

class ModuleTable {
 public:
  using Exports = std::map<std::string, FARPROC>;
  using Strings = std::map<UINT, std::wstring>;
  // Icon resources by number; each holds its images in several sizes, as an icon group does.
  using Icons = std::map<UINT, std::vector<IconImage>>;
  // Dialog template resources by number.
  using Dialogs = std::map<UINT, DialogTemplate>;
  // Bitmap resources (RT_BITMAP) by number: 32-bit pixels, rows top-down, each 0xAARRGGBB as
  // stored in the file (LoadImageW hands them over unchanged).
  using Bitmaps = std::map<UINT, IconImage>;
  struct Image {
    Exports exports;
    Strings strings;  // string resources by number
    Icons icons;
    Dialogs dialogs;
    Bitmaps bitmaps;
  };

  ModuleTable();

  void Install(const std::wstring& path, Exports exports, Strings strings = {});
  void Uninstall(const std::wstring& path);
  // Removes one entry point from an installed library.
  void RemoveExport(const std::wstring& path, const std::string& name);
  // Adds or replaces icon resource `id` of the library at `path` (installed empty when it is
  // not there yet). An empty list of images removes the resource.
  void SetIcon(const std::wstring& path, UINT id, std::vector<IconImage> images);
  // Adds or replaces dialog template `id` of the library at `path` (installed empty when it
  // is not there yet).
  void SetDialog(const std::wstring& path, UINT id, DialogTemplate dialog);
  // Adds or replaces bitmap resource `id` of the library or program at `path`; an image
  // without pixels removes it.
  void SetBitmap(const std::wstring& path, UINT id, IconImage bitmap);
  // The exports of the library at `path` (compared without regard to case).
  std::optional<Image> Find(const std::wstring& path) const;

 private:
  static std::wstring Key(const std::wstring& path);
  mutable std::mutex m_mu;
  std::map<std::wstring, Image> m_modules;
};

}  // namespace sim
