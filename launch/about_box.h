// The About box: a modal dialog (template IDD_ABOUT of the agent's resource module) with the
// branded caption, the product's name, the agent's version, the legal text and a link to the
// product's web site that opens in the user's browser. No glass frame: the box is drawn as
// any dialog.
//
//   launch::CAboutBox box(plat, launch::LoadAboutTexts(plat, strings, exePath));
//   box.DoModal(resources, owner);                        // IDOK, or -1 when not shown
#pragma once

#include <string>

#include "platform/platform.h"
#include "support/branding_strings.h"

namespace launch {

struct AboutTexts {
  std::wstring caption;
  std::wstring product;
  std::wstring version;  // "Version 5.2.0.100"; empty when the file has no version
  std::wstring legal;
  std::wstring url;  // the web site; empty when it is not one the box may open
};

// The texts from the branding strings and the version of the file `exePath`.
AboutTexts LoadAboutTexts(platform::IPlatform& plat, support::CBrandingStrings& strings,
                          const std::wstring& exePath);

// Only an http or https address the link control can show is opened: the address comes
// from a resource module, and the shell would run a program or open a file named there.
bool IsWebAddress(const std::wstring& url);

// The link control's markup for `url` (its text and target); empty without an address.
std::wstring LinkMarkup(const std::wstring& url);

class CAboutBox {
 public:
  CAboutBox(platform::IPlatform& plat, AboutTexts texts);

  // Window thread. The dialog's result (IDOK, IDCANCEL), -1 when it could not be shown.
  INT_PTR DoModal(HINSTANCE resources, HWND owner);

  // The link was clicked: opens the web site through the shell. False when there is none
  // or the shell fails (traced).
  bool OpenLink(HWND dlg);

  const AboutTexts& Texts() const { return m_texts; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam);
  void OnInitDialog(HWND dlg);

  platform::IPlatform& m_plat;
  const AboutTexts m_texts;
};

}  // namespace launch
