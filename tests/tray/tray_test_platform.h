// Test doubles for the tray: a notification area that records every call and answers from
// a script, a user interface with a fixed double-click time, cursor and recorded menus, and
// a drawing area whose icons are single-coloured squares with live-handle counts. The
// kernel, registry and modules are the simulated machine's own.
#pragma once

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/messages.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "tests/testing/forwarding_platform.h"

namespace traytest {

// A handle value that is not null and names nothing of the machine.
template <class H>
H Fake(ULONG_PTR v) {
  return reinterpret_cast<H>(v);
}

struct ShellCall {
  DWORD message;
  UINT flags;
  HICON icon;
  DWORD cbSize;
  std::wstring tip, info, title;
  UINT timeout;
};

class FakeShell : public vdtest::ForwardingShell {
 public:
  FakeShell(platform::IShell& to, platform::IKernel& kernel)
      : ForwardingShell(to), m_kernel(kernel) {}

  // Errors of the next calls in order (0: success); past the script every call succeeds.
  void Script(const std::vector<DWORD>& errors) {
    std::lock_guard lk(m_mu);
    m_script.assign(errors.begin(), errors.end());
  }
  std::vector<ShellCall> Calls() {
    std::lock_guard lk(m_mu);
    return m_calls;
  }
  std::vector<DWORD> Messages() {
    std::vector<DWORD> out;
    for (auto& c : Calls()) out.push_back(c.message);
    return out;
  }
  void Forget() {
    std::lock_guard lk(m_mu);
    m_calls.clear();
  }

  BOOL Shell_NotifyIconW(DWORD message, PNOTIFYICONDATAW d) override {
    std::lock_guard lk(m_mu);
    m_calls.push_back({message, d->uFlags, d->hIcon, d->cbSize, d->szTip, d->szInfo, d->szInfoTitle,
                       d->uTimeout});
    DWORD error = 0;
    if (!m_script.empty()) {
      error = m_script.front();
      m_script.pop_front();
    }
    if (error) m_kernel.SetLastError(error);
    return error == 0;
  }
  UINT_PTR SHAppBarMessage(DWORD, PAPPBARDATA p) override {
    if (!p->hWnd) return 0;
    p->uEdge = edge;
    return 1;
  }

  UINT edge = ABE_BOTTOM;

 private:
  platform::IKernel& m_kernel;
  std::mutex m_mu;
  std::deque<DWORD> m_script;
  std::vector<ShellCall> m_calls;
};

// Counts the sleeps of the retry loop instead of moving the machine's clock.
class SleepCountingKernel : public vdtest::ForwardingKernel {
 public:
  using ForwardingKernel::ForwardingKernel;
  void Sleep(DWORD ms) override {
    std::lock_guard lk(mu);
    sleeps.push_back(ms);
  }
  // An older Windows than the machine's, for the balloon queue of Windows 7.
  BOOL GetVersionExW(OSVERSIONINFOEXW* info) override {
    const BOOL ok = inner.GetVersionExW(info);
    if (ok && version) {
      info->dwMajorVersion = version->first;
      info->dwMinorVersion = version->second;
    }
    return ok;
  }
  // The wall clock moved by the user (negative: set back); the tick count is not.
  void GetSystemTimeAsFileTime(FILETIME* ft) override {
    inner.GetSystemTimeAsFileTime(ft);
    ULONGLONG v = (static_cast<ULONGLONG>(ft->dwHighDateTime) << 32) | ft->dwLowDateTime;
    v += static_cast<ULONGLONG>(wallShiftMs * 10000);
    ft->dwLowDateTime = static_cast<DWORD>(v);
    ft->dwHighDateTime = static_cast<DWORD>(v >> 32);
  }
  std::mutex mu;
  std::vector<DWORD> sleeps;
  std::optional<std::pair<DWORD, DWORD>> version;
  LONGLONG wallShiftMs = 0;
};

struct MenuItem {
  UINT flags;
  UINT_PTR id;
  std::wstring text;
};

class FakeUi : public vdtest::ForwardingUi {
 public:
  using ForwardingUi::ForwardingUi;

  UINT GetDoubleClickTime() override { return 500; }
  BOOL GetCursorPos(LPPOINT p) override {
    *p = cursor;
    return TRUE;
  }
  int GetSystemMetrics(int i) override { return i == SM_CXSMICON || i == SM_CYSMICON ? 16 : 0; }
  DWORD GetSysColor(int) override { return faceColour; }
  HWND FindWindowW(LPCWSTR cls, LPCWSTR) override {
    return taskbarPresent && cls && std::wstring(cls) == L"Shell_TrayWnd" ? kTaskbar : nullptr;
  }
  BOOL SetForegroundWindow(HWND h) override {
    foreground.push_back(h);
    return TRUE;
  }
  BOOL PostMessageW(HWND h, UINT m, WPARAM w, LPARAM l) override {
    if (m == WM_NULL) {
      ++nullPosts;
      return TRUE;
    }
    if (m == core::WM_VD_SHOW_TOAST && h == toastWindow) {
      toastWakeups.push_back({w, l});
      return toastPostSucceeds;
    }
    return inner.PostMessageW(h, m, w, l);
  }
  // The window the toasts are posted to exists while `toastWindow` names it.
  BOOL IsWindow(HWND h) override { return h && h == toastWindow ? TRUE : inner.IsWindow(h); }
  HMENU CreatePopupMenu() override {
    menus.emplace_back();
    return Fake<HMENU>(menus.size());
  }
  BOOL AppendMenuW(HMENU m, UINT f, UINT_PTR id, LPCWSTR text) override {
    menus.at(reinterpret_cast<ULONG_PTR>(m) - 1).push_back({f, id, text ? text : L""});
    return TRUE;
  }
  BOOL SetMenuDefaultItem(HMENU, UINT item, UINT byPos) override {
    defaultItem = byPos ? static_cast<int>(item) : -2;
    return TRUE;
  }
  BOOL TrackPopupMenu(HMENU m, UINT f, int x, int y, int, HWND owner, const RECT*) override {
    tracks.push_back({m, f, x, y, owner});
    if (duringTrack) duringTrack();  // the modal loop serves the window meanwhile
    return trackResult;
  }
  BOOL DestroyMenu(HMENU m) override {
    destroyed.push_back(m);
    return TRUE;
  }

  static inline const HWND kTaskbar = Fake<HWND>(0x7A5C);
  struct Track {
    HMENU menu;
    UINT flags;
    int x, y;
    HWND owner;
  };
  HWND toastWindow = nullptr;
  BOOL toastPostSucceeds = TRUE;
  std::vector<std::pair<WPARAM, LPARAM>> toastWakeups;
  POINT cursor{640, 1000};
  DWORD faceColour = RGB(240, 240, 240);
  bool taskbarPresent = true;
  BOOL trackResult = TRUE;
  std::function<void()> duringTrack;
  std::vector<HWND> foreground;
  int nullPosts = 0;
  std::vector<std::vector<MenuItem>> menus;
  int defaultItem = -1;
  std::vector<Track> tracks;
  std::vector<HMENU> destroyed;
};

// Icons are 16x16 with a mark of one colour in the middle, transparent around it; bitmaps,
// DCs, image lists and themes are counted while alive. Drawing an icon through an image
// list paints its mark onto the DIB selected in the DC.
class FakeGdi : public platform::IGdi {
 public:
  std::set<UINT> available{131, 132, 133, 134, 135, 136};  // resource ids that load
  COLORREF iconColour = RGB(200, 200, 200);
  std::map<UINT, COLORREF> colourById;  // overrides per resource id
  bool theme = true;
  COLORREF themeColour = RGB(200, 200, 200);
  int openedThemes = 0;

  size_t LiveHandles() const {
    return m_icons.size() + m_bitmaps.size() + m_dcs.size() + m_lists.size() + m_themes.size();
  }
  size_t LiveIcons() const { return m_icons.size(); }
  COLORREF IconColour(HICON h) const { return m_icons.at(h); }
  std::vector<UINT> loaded;  // resource ids asked of LoadImageW, in order

  HANDLE LoadImageW(HINSTANCE, LPCWSTR name, UINT type, int cx, int cy, UINT flags) override {
    const UINT id = static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name));
    loaded.push_back(id);
    if (type != IMAGE_ICON || cx != 16 || cy != 16 || flags != 2 || !available.count(id))
      return nullptr;
    auto it = colourById.find(id);
    return NewIcon(it != colourById.end() ? it->second : iconColour);
  }
  HRESULT LoadIconWithScaleDown(HINSTANCE, LPCWSTR, int, int, HICON*) override { return E_NOTIMPL; }
  BOOL DestroyIcon(HICON h) override { return m_icons.erase(h) != 0; }
  BOOL GetIconInfo(HICON h, ICONINFO* ii) override {
    auto it = m_icons.find(h);
    if (it == m_icons.end()) return FALSE;
    ii->fIcon = TRUE;
    ii->hbmColor = NewBitmap(32, it->second);
    ii->hbmMask = NewBitmap(1, 0);
    return TRUE;
  }
  HICON CreateIconIndirect(ICONINFO* ii) override {
    auto it = m_bitmaps.find(ii->hbmColor);
    if (it == m_bitmaps.end() || !m_bitmaps.count(ii->hbmMask)) return nullptr;
    const auto& px = it->second.pixels;
    // What shows around the mark: the tile when the icon was redrawn on one.
    return NewIcon(px.empty() ? it->second.colour : Colour(px[1 * 16 + 1]));
  }
  int GetObjectW(HANDLE h, int c, LPVOID pv) override {
    auto it = m_bitmaps.find(static_cast<HBITMAP>(h));
    if (it == m_bitmaps.end() || c != sizeof(BITMAP)) return 0;
    BITMAP b{};
    b.bmWidth = 16;
    b.bmHeight = 16;
    b.bmPlanes = 1;
    b.bmBitsPixel = static_cast<WORD>(it->second.bpp);
    std::memcpy(pv, &b, sizeof(b));
    return sizeof(b);
  }
  HBITMAP CreateDIBSection(HDC, const BITMAPINFO* bi, UINT, void** bits, HANDLE, DWORD) override {
    const auto* h = reinterpret_cast<const BITMAPV5HEADER*>(bi);
    if (h->bV5Size != sizeof(BITMAPV5HEADER) || h->bV5BitCount != 32 ||
        h->bV5Compression != BI_BITFIELDS || h->bV5RedMask != 0x00FF0000u || h->bV5Width != 16 ||
        (h->bV5Height != 16 && h->bV5Height != -16))
      return nullptr;
    HBITMAP b = NewBitmap(32, 0);
    m_bitmaps[b].pixels.assign(256, 0);
    *bits = m_bitmaps[b].pixels.data();
    return b;
  }
  HBITMAP CreateBitmap(int w, int h, UINT, UINT bpp, const void*) override {
    return w == 16 && h == 16 ? NewBitmap(bpp, 0) : nullptr;
  }
  HDC CreateCompatibleDC(HDC) override {
    HDC dc = Fake<HDC>(++m_next);
    m_dcs[dc] = nullptr;
    return dc;
  }
  HGDIOBJ SelectObject(HDC dc, HGDIOBJ o) override {
    auto it = m_dcs.find(dc);
    if (it == m_dcs.end()) return nullptr;
    HGDIOBJ old = it->second ? static_cast<HGDIOBJ>(it->second) : Fake<HGDIOBJ>(1);
    it->second = m_bitmaps.count(static_cast<HBITMAP>(o)) ? static_cast<HBITMAP>(o) : nullptr;
    return old;
  }
  BOOL DeleteObject(HGDIOBJ o) override { return m_bitmaps.erase(static_cast<HBITMAP>(o)) != 0; }
  BOOL DeleteDC(HDC dc) override { return m_dcs.erase(dc) != 0; }
  COLORREF GetPixel(HDC dc, int x, int y) override {
    auto it = m_dcs.find(dc);
    if (it == m_dcs.end() || !it->second || x < 0 || y < 0 || x >= 16 || y >= 16)
      return CLR_INVALID;
    const auto& px = m_bitmaps.at(it->second).pixels;
    return px.empty() ? CLR_INVALID : Colour(px[static_cast<size_t>(y * 16 + x)]);
  }
  HIMAGELIST ImageList_Create(int, int, UINT, int, int) override {
    HIMAGELIST l = Fake<HIMAGELIST>(++m_next);
    m_lists[l] = 0;
    return l;
  }
  int ImageList_Add(HIMAGELIST l, HBITMAP image, HBITMAP) override {
    auto b = m_bitmaps.find(image);
    if (!m_lists.count(l) || b == m_bitmaps.end()) return -1;
    m_lists[l] = b->second.colour;
    return 0;
  }
  BOOL ImageList_Draw(HIMAGELIST l, int, HDC dc, int, int, UINT) override {
    auto d = m_dcs.find(dc);
    if (!m_lists.count(l) || d == m_dcs.end() || !d->second) return FALSE;
    const COLORREF c = m_lists[l];
    const DWORD argb =
        0xFF000000u | (DWORD{GetRValue(c)} << 16) | (DWORD{GetGValue(c)} << 8) | GetBValue(c);
    auto& px = m_bitmaps.at(d->second).pixels;
    for (size_t y = 4; y < 12; ++y)
      for (size_t x = 4; x < 12; ++x) px[y * 16 + x] = argb;
    return TRUE;
  }
  BOOL ImageList_Destroy(HIMAGELIST l) override { return m_lists.erase(l) != 0; }
  HTHEME OpenThemeData(HWND, LPCWSTR cls) override {
    if (!theme || !cls) return nullptr;
    ++openedThemes;
    HTHEME t = Fake<HTHEME>(++m_next);
    m_themes.insert(t);
    return t;
  }
  HRESULT GetThemeColor(HTHEME t, int, int, int prop, COLORREF* c) override {
    if (!m_themes.count(t) || prop != TMT_FILLCOLORHINT) return E_INVALIDARG;
    *c = themeColour;
    return S_OK;
  }
  HRESULT CloseThemeData(HTHEME t) override { return m_themes.erase(t) ? S_OK : E_INVALIDARG; }
  HRESULT SetWindowTheme(HWND, LPCWSTR, LPCWSTR) override { return S_OK; }
  int SetStretchBltMode(HDC, int) override { return 0; }
  BOOL StretchBlt(HDC, int, int, int, int, HDC, int, int, int, int, DWORD) override {
    return FALSE;
  }

 private:
  struct Bitmap {
    UINT bpp;
    COLORREF colour;
    std::vector<DWORD> pixels;  // ARGB, for DIB sections
  };
  static COLORREF Colour(DWORD argb) {
    return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
  }
  HICON NewIcon(COLORREF c) {
    HICON h = Fake<HICON>(++m_next);
    m_icons[h] = c;
    return h;
  }
  HBITMAP NewBitmap(UINT bpp, COLORREF c) {
    HBITMAP h = Fake<HBITMAP>(++m_next);
    m_bitmaps[h] = {bpp, c, {}};
    return h;
  }
  ULONG_PTR m_next = 0x1000;
  std::map<HICON, COLORREF> m_icons;
  std::map<HBITMAP, Bitmap> m_bitmaps;
  std::map<HDC, HBITMAP> m_dcs;
  std::map<HIMAGELIST, COLORREF> m_lists;
  std::set<HTHEME> m_themes;
};

class TrayPlatform : public platform::IPlatform {
 public:
  explicit TrayPlatform(sim::Process& p)
      : process(p), kernel(p.Kernel()), ui(p.Ui()), shell(p.Shell(), p.Kernel()) {}

  platform::IRegistry& Registry() override { return process.Registry(); }
  platform::IKernel& Kernel() override { return kernel; }
  platform::IUi& Ui() override { return ui; }
  platform::ISessions& Sessions() override { return process.Sessions(); }
  platform::ICom& Com() override { return process.Com(); }
  platform::IModules& Modules() override { return process.Modules(); }
  platform::IShell& Shell() override { return shell; }
  platform::ICrypt& Crypt() override { return process.Crypt(); }
  platform::IGdi& Gdi() override { return gdi; }

  sim::Process& process;
  SleepCountingKernel kernel;
  FakeUi ui;
  FakeShell shell;
  FakeGdi gdi;
};

}  // namespace traytest
