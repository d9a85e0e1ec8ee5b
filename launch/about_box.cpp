#include "launch/about_box.h"

#include <cwctype>
#include <map>
#include <utility>

#include "launch/about_resources.h"
#include "support/trace/trace.h"

namespace launch {

namespace {

// The box being shown by each dialog window of this thread.
thread_local std::map<HWND, CAboutBox*> t_boxes;

bool StartsWithNoCase(const std::wstring& s, const wchar_t* prefix) {
  size_t i = 0;
  for (; prefix[i]; ++i)
    if (i >= s.size() || std::towlower(s[i]) != std::towlower(prefix[i])) return false;
  return s.size() > i;
}

}  // namespace

bool IsWebAddress(const std::wstring& url) {
  if (!StartsWithNoCase(url, L"https://") && !StartsWithNoCase(url, L"http://")) return false;
  // Quotes and angle brackets would end the markup's attribute or element; spaces and
  // control characters are no part of an address.
  for (wchar_t c : url)
    if (c <= L' ' || c == L'"' || c == L'<' || c == L'>' || c == 0x7F) return false;
  return url.size() < L_MAX_URL_LENGTH;
}

std::wstring LinkMarkup(const std::wstring& url) {
  if (url.empty()) return std::wstring();
  return L"<a href=\"" + url + L"\">" + url + L"</a>";
}

AboutTexts LoadAboutTexts(platform::IPlatform& plat, support::CBrandingStrings& strings,
                          const std::wstring& exePath) {
  VDTraceNS::CScope ts("LoadAboutTexts");
  AboutTexts t;
  t.product = strings.ProductName();
  t.caption = strings.String(IDS_ABOUT_CAPTION);
  if (t.caption.empty()) t.caption = t.product;
  t.legal = strings.String(IDS_ABOUT_LEGAL);
  WORD v[4] = {};
  if (!exePath.empty() && plat.Kernel().GetFileVersion(exePath.c_str(), v)) {
    t.version = L"Version " + std::to_wstring(v[0]) + L"." + std::to_wstring(v[1]) + L"." +
                std::to_wstring(v[2]) + L"." + std::to_wstring(v[3]);
  }
  const std::wstring url = strings.String(IDS_ABOUT_URL);
  if (IsWebAddress(url)) {
    t.url = url;
  } else if (!url.empty()) {
    ts.Msg("Not a web address, no link: %ls", url.c_str());
  }
  return t;
}

CAboutBox::CAboutBox(platform::IPlatform& plat, AboutTexts texts)
    : m_plat(plat), m_texts(std::move(texts)) {}

INT_PTR CAboutBox::DoModal(HINSTANCE resources, HWND owner) {
  VDTraceNS::CScope ts("CAboutBox::DoModal");
  auto& ui = m_plat.Ui();
  // The link is a common control of version 6: its class exists once this asked for it.
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LINK_CLASS};
  if (!ui.InitCommonControlsEx(&icc)) ts.Msg("No link control");
  const INT_PTR result = ui.DialogBoxParamW(resources, MAKEINTRESOURCEW(IDD_ABOUT), owner,
                                            &CAboutBox::DialogProc, reinterpret_cast<LPARAM>(this));
  if (result == -1) {
    const DWORD err = m_plat.Kernel().GetLastError();
    ts.Result("DialogBoxParam", err ? HRESULT_FROM_WIN32(err) : E_FAIL);
  }
  // A dialog that never got its WM_NCDESTROY to us must not leave a dangling entry.
  for (auto it = t_boxes.begin(); it != t_boxes.end();)
    it = it->second == this ? t_boxes.erase(it) : std::next(it);
  return result;
}

void CAboutBox::OnInitDialog(HWND dlg) {
  auto& ui = m_plat.Ui();
  ui.SendMessageW(dlg, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(m_texts.caption.c_str()));
  ui.SetDlgItemTextW(dlg, IDC_ABOUT_PRODUCT, m_texts.product.c_str());
  ui.SetDlgItemTextW(dlg, IDC_ABOUT_VERSION, m_texts.version.c_str());
  ui.SetDlgItemTextW(dlg, IDC_ABOUT_LEGAL, m_texts.legal.c_str());
  ui.SetDlgItemTextW(dlg, IDC_ABOUT_LINK, LinkMarkup(m_texts.url).c_str());
}

bool CAboutBox::OpenLink(HWND dlg) {
  VDTraceNS::CScope ts("CAboutBox::OpenLink");
  // The address the box holds, not the one the notification carries: that one is parsed
  // from the markup by the control.
  if (m_texts.url.empty()) return false;
  const HINSTANCE h = m_plat.Shell().ShellExecuteW(dlg, L"open", m_texts.url.c_str(), nullptr,
                                                   nullptr, SW_SHOWNORMAL);
  // ShellExecute's result is above 32 on success, an error code otherwise.
  const auto code = reinterpret_cast<INT_PTR>(h);
  if (code <= 32) {
    ts.Msg("Cannot open %ls: %d", m_texts.url.c_str(), static_cast<int>(code));
    return false;
  }
  ts.Msg("Opened %ls", m_texts.url.c_str());
  return true;
}

INT_PTR CALLBACK CAboutBox::DialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    auto* box = reinterpret_cast<CAboutBox*>(lParam);
    if (!box) return FALSE;
    t_boxes[dlg] = box;
    box->OnInitDialog(dlg);
    return TRUE;
  }
  const auto it = t_boxes.find(dlg);
  if (it == t_boxes.end()) return FALSE;
  CAboutBox& box = *it->second;
  switch (msg) {
    case WM_NOTIFY: {
      const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if (!hdr || hdr->idFrom != IDC_ABOUT_LINK) return FALSE;
      if (hdr->code != NM_CLICK && hdr->code != NM_RETURN) return FALSE;
      box.OpenLink(dlg);
      return TRUE;
    }
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id != IDOK && id != IDCANCEL) return FALSE;
      box.m_plat.Ui().EndDialog(dlg, id);
      return TRUE;
    }
    case WM_CLOSE:
      box.m_plat.Ui().EndDialog(dlg, IDCANCEL);
      return TRUE;
    case WM_NCDESTROY:
      t_boxes.erase(it);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace launch
