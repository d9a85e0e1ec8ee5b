#include "tray/tray_icon.h"

#include <algorithm>
#include <cwchar>

#include "core/messages.h"
#include "support/trace/trace.h"
#include "tray/toast.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(CTrayIcon::kRecordSize == 936, "NOTIFYICONDATAW up to guidItem, i686");
static_assert(sizeof(APPBARDATA) == 36, "APPBARDATA, i686");
#elif defined(_WIN64)
static_assert(CTrayIcon::kRecordSize == 952, "NOTIFYICONDATAW up to guidItem, x86_64");
static_assert(sizeof(APPBARDATA) == 48, "APPBARDATA, x86_64");
#endif

namespace {

constexpr UINT kShowFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
// TMT_FILLCOLORHINT, which Windows declares only in the visual-style symbol header.
constexpr int kFillColourHint = 3821;

// Copies at most `capacity - 1` characters and terminates: longer text is cut, not refused.
template <size_t N>
void CopyTruncated(WCHAR (&to)[N], const std::wstring& from) {
  const size_t n = std::min(from.size(), N - 1);
  std::copy_n(from.data(), n, to);
  to[n] = 0;
}

bool IsLight(COLORREF c, BYTE limit) {
  return GetRValue(c) >= limit && GetGValue(c) >= limit && GetBValue(c) >= limit;
}

// A 32-bit DIB with explicit channel masks, the same layout for reading and redrawing.
struct Dib {
  platform::IGdi& gdi;
  HBITMAP bitmap = nullptr;
  DWORD* bits = nullptr;
  Dib(platform::IGdi& g, LONG width, LONG height) : gdi(g) {
    BITMAPV5HEADER h{};
    h.bV5Size = sizeof(h);
    h.bV5Width = width;
    h.bV5Height = height;
    h.bV5Planes = 1;
    h.bV5BitCount = 32;
    h.bV5Compression = BI_BITFIELDS;
    h.bV5RedMask = 0x00FF0000;
    h.bV5GreenMask = 0x0000FF00;
    h.bV5BlueMask = 0x000000FF;
    h.bV5AlphaMask = 0xFF000000;
    void* p = nullptr;
    bitmap = gdi.CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(&h), DIB_RGB_COLORS,
                                  &p, nullptr, 0);
    bits = static_cast<DWORD*>(p);
    if (!bits) Reset();
  }
  ~Dib() { Reset(); }
  void Reset() {
    if (bitmap) gdi.DeleteObject(bitmap);
    bitmap = nullptr;
    bits = nullptr;
  }
  HBITMAP Release() {
    HBITMAP b = bitmap;
    bitmap = nullptr;
    return b;
  }
};

// The colour and mask bitmaps of an icon with the colour bitmap's size; frees both.
struct IconBitmaps {
  platform::IGdi& gdi;
  ICONINFO info{};
  BITMAP size{};
  explicit IconBitmaps(platform::IGdi& g) : gdi(g) {}
  ~IconBitmaps() {
    if (info.hbmColor) gdi.DeleteObject(info.hbmColor);
    if (info.hbmMask) gdi.DeleteObject(info.hbmMask);
  }
  bool Load(HICON icon, const VDTraceNS::CScope& ts) {
    if (!gdi.GetIconInfo(icon, &info)) {
      info = {};
      ts.Msg("failed geticoninfo");
      return false;
    }
    if (!info.hbmColor || gdi.GetObjectW(info.hbmColor, sizeof(size), &size) == 0 ||
        size.bmWidth <= 0 || size.bmHeight <= 0) {
      ts.Msg("failed geticonsize");
      return false;
    }
    return true;
  }
};

// Draws `icons`'s image over the DIB through an image list, as the shell would draw it:
// with its alpha channel when it has one, else through its mask.
bool DrawOver(platform::IGdi& gdi, const IconBitmaps& icon, HBITMAP dib) {
  const bool alpha = icon.size.bmBitsPixel == 32;
  HIMAGELIST list = gdi.ImageList_Create(icon.size.bmWidth, icon.size.bmHeight,
                                         alpha ? ILC_COLOR32 : (ILC_COLOR24 | ILC_MASK), 1, 0);
  if (!list) return false;
  bool drawn = false;
  if (gdi.ImageList_Add(list, icon.info.hbmColor, alpha ? nullptr : icon.info.hbmMask) >= 0) {
    if (HDC dc = gdi.CreateCompatibleDC(nullptr)) {
      HGDIOBJ old = gdi.SelectObject(dc, dib);
      drawn = gdi.ImageList_Draw(list, 0, dc, 0, 0, ILD_NORMAL) != FALSE;
      gdi.SelectObject(dc, old);
      gdi.DeleteDC(dc);
    }
  }
  gdi.ImageList_Destroy(list);
  return drawn;
}

}  // namespace

CTrayIcon::CTrayIcon(platform::IPlatform& plat, HINSTANCE resources, StringSource strings)
    : m_plat(plat), m_resources(resources), m_strings(std::move(strings)) {
  m_record.cbSize = kRecordSize;
  m_record.uVersion = NOTIFYICON_VERSION;
  m_flash = std::make_unique<CVDTimerQueue<void (*)(void*)>>(plat.Kernel());
}

CTrayIcon::~CTrayIcon() {
  // Not under the lock: the timer waits for a running tick, which takes it.
  m_flash.reset();
  std::lock_guard lk(m_lock);
  FreeImages();
}

void CTrayIcon::SetWindowHandle(HWND hWnd) {
  VDTraceNS::CScope ts("CTrayIcon::SetWindowHandle");
  {
    std::lock_guard lk(m_lock);
    m_record.hWnd = hWnd;
    m_record.uID = kIconId;
    m_record.uCallbackMessage = kCallbackMessage;
    NOTIFYICONDATAW r = m_record;
    r.uVersion = NOTIFYICON_VERSION;
    m_plat.Shell().Shell_NotifyIconW(NIM_SETVERSION, &r);
  }
  ReloadIcons();
}

void CTrayIcon::FreeImages() {
  for (HICON icon : m_images) m_plat.Gdi().DestroyIcon(icon);
  m_images.clear();
}

void CTrayIcon::LoadImages() {
  auto& ui = m_plat.Ui();
  auto& gdi = m_plat.Gdi();
  const int cx = ui.GetSystemMetrics(SM_CXSMICON);
  const int cy = ui.GetSystemMetrics(SM_CYSMICON);
  for (UINT id : kImageIds) {
    HICON icon = nullptr;
    const LPCWSTR name = reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(id));
    // E_NOTIMPL when comctl32 lacks the export; the plain loader then does it.
    if (cx == 0 || cy == 0 || FAILED(gdi.LoadIconWithScaleDown(m_resources, name, cx, cy, &icon)))
      icon = nullptr;
    if (!icon) icon = static_cast<HICON>(gdi.LoadImageW(m_resources, name, IMAGE_ICON, cx, cy, 2));
    if (icon) m_images.push_back(icon);
  }
}

void CTrayIcon::ReloadIcons() {
  VDTraceNS::CScope ts("CTrayIcon::ReloadIcons");
  std::lock_guard lk(m_lock);
  FreeImages();
  LoadImages();
  ApplyColourRule();
  if (m_onTray) {
    m_record.hIcon = ImageToShow();
    m_record.uFlags = NIF_ICON;
    More_Reliable_Shell_NotifyIcon(NIM_MODIFY, m_record);
  }
}

HICON CTrayIcon::ImageToShow() {
  // A reload during or after a flash may leave the cursor past a shorter array.
  if (m_currentIndex < 0 || static_cast<size_t>(m_currentIndex) >= m_images.size())
    m_currentIndex = RestingIndex();
  if (static_cast<size_t>(m_currentIndex) >= m_images.size()) return nullptr;
  return m_images[static_cast<size_t>(m_currentIndex)];
}

bool CTrayIcon::PutIconOnTray(UINT index, bool reset) {
  VDTraceNS::CScope ts("CTrayIcon::PutIconOnTray");
  std::lock_guard lk(m_lock);
  m_baseIndex = index ? 1 : 0;
  if (reset) m_onTray = false;
  if (m_images.size() < 2) {
    ts.Msg("no icons loaded");
    return false;
  }
  m_currentIndex = m_baseIndex;
  m_record.hIcon = m_images[m_baseIndex];
  CopyTruncated(m_record.szTip, m_strings ? m_strings(kTooltipString) : std::wstring());
  m_record.uFlags = kShowFlags;
  if (More_Reliable_Shell_NotifyIcon(m_onTray ? NIM_MODIFY : NIM_ADD, m_record)) m_onTray = true;
  return m_onTray;
}

bool CTrayIcon::DeleteIconFromTray() {
  VDTraceNS::CScope ts("CTrayIcon::DeleteIconFromTray");
  std::lock_guard lk(m_lock);
  if (!m_onTray) return true;
  m_record.uFlags = 0;
  if (More_Reliable_Shell_NotifyIcon(NIM_DELETE, m_record)) {
    m_onTray = false;
    return true;
  }
  ts.Msg("Failed to remove tray icon.");
  return false;
}

bool CTrayIcon::StartFlash() {
  VDTraceNS::CScope ts("CTrayIcon::StartFlash");
  std::lock_guard lk(m_lock);
  if (!m_onTray || m_images.size() < 3) return false;
  m_currentIndex = 2;
  return SUCCEEDED(m_flash->Arm(&CTrayIcon::FlashTick, this, 0, kFlashPeriodMs));
}

void CTrayIcon::FlashTick(void* self) { static_cast<CTrayIcon*>(self)->FlashTrayIconTimer(); }

void CTrayIcon::FlashTrayIconTimer() {
  VDTraceNS::CScope ts("CTrayIcon::FlashTrayIconTimer");
  std::lock_guard lk(m_lock);
  if (m_onTray && m_currentIndex >= 0 && static_cast<size_t>(m_currentIndex) < m_images.size()) {
    ts.Msg("Flash... %d", m_currentIndex);
    m_record.hIcon = m_images[static_cast<size_t>(m_currentIndex)];
    ++m_currentIndex;
    m_record.uFlags = NIF_ICON;
    m_plat.Shell().Shell_NotifyIconW(NIM_MODIFY, &m_record);
    return;
  }
  m_flash->Disarm();
  m_currentIndex = RestingIndex();
  // An icon hidden or disposed meanwhile stays off the tray: the fallbacks would add it back.
  if (!m_onTray || static_cast<size_t>(m_currentIndex) >= m_images.size()) return;
  m_record.hIcon = m_images[static_cast<size_t>(m_currentIndex)];
  m_record.uFlags = NIF_ICON;
  More_Reliable_Shell_NotifyIcon(NIM_MODIFY, m_record);
}

bool CTrayIcon::ShowBalloon(const std::wstring& title, const std::wstring& message, DWORD flags,
                            UINT timeoutMs) {
  VDTraceNS::CScope ts("CTrayIcon::ShowBalloon");
  std::lock_guard lk(m_lock);
  CopyTruncated(m_record.szInfoTitle, title);
  CopyTruncated(m_record.szInfo, message);
  m_record.dwInfoFlags = flags;
  m_record.uTimeout = timeoutMs;
  m_record.uFlags = NIF_INFO;
  if (More_Reliable_Shell_NotifyIcon(NIM_MODIFY, m_record)) {
    m_onTray = true;  // the modify may have ended up adding the icon
    return true;
  }
  ts.Msg("Cannot show balloon");
  return false;
}

bool CTrayIcon::HideBalloon(bool silent) {
  VDTraceNS::CScope ts("CTrayIcon::HideBalloon");
  std::lock_guard lk(m_lock);
  m_record.szInfoTitle[0] = 0;
  m_record.szInfo[0] = 0;
  m_record.dwInfoFlags = 0;
  m_record.uTimeout = 0;
  if (silent || !m_onTray) return true;
  m_record.uFlags = NIF_INFO;
  // One plain call: the fallbacks would add an icon just to hide a balloon.
  return m_plat.Shell().Shell_NotifyIconW(NIM_MODIFY, &m_record) != FALSE;
}

bool CTrayIcon::PostToast(CToastQueue& queue, std::unique_ptr<CToastParameters>& request) {
  VDTraceNS::CScope ts("CTrayIcon::PostToast");
  std::lock_guard lk(m_lock);
  auto& ui = m_plat.Ui();
  if (!request || !m_record.hWnd || !ui.IsWindow(m_record.hWnd)) return false;
  // Queued first: the window may drain the queue as soon as the wake-up is posted.
  const CToastParameters* posted = request.get();
  queue.Push(std::move(request));
  if (ui.PostMessageW(m_record.hWnd, core::WM_VD_SHOW_TOAST, 0, 0)) return true;
  ts.Msg("Cannot post the toast, 0x%X", static_cast<unsigned>(m_plat.Kernel().GetLastError()));
  request = queue.Withdraw(posted);
  // Gone from the queue already: a wake-up posted for an earlier request displayed it.
  return request == nullptr;
}

bool CTrayIcon::SetFocus() {
  std::lock_guard lk(m_lock);
  NOTIFYICONDATAW r = m_record;
  r.uFlags = 0;
  return m_plat.Shell().Shell_NotifyIconW(NIM_SETFOCUS, &r) != FALSE;
}

bool CTrayIcon::More_Reliable_Shell_NotifyIcon(DWORD message, NOTIFYICONDATAW& record) {
  VDTraceNS::CScope ts("CTrayIcon::More_Reliable_Shell_NotifyIcon");
  std::lock_guard lk(m_lock);
  auto& kernel = m_plat.Kernel();
  auto& shell = m_plat.Shell();
  ts.Msg("message: %lu", static_cast<unsigned long>(message));
  DWORD error = ERROR_TIMEOUT;
  for (int i = 0; i < 5 && error == ERROR_TIMEOUT; ++i) {
    if (shell.Shell_NotifyIconW(message, &record)) return true;
    error = kernel.GetLastError();
    ts.Msg("i=%d, 0x%X", i, static_cast<unsigned>(error));
    kernel.Sleep(10);
  }
  ts.Msg("No luck in loop: 0x%X", static_cast<unsigned>(error));
  // An icon added anew needs its callback and tooltip, whatever the failed call carried.
  if (message == NIM_ADD || message == NIM_MODIFY) record.uFlags |= kShowFlags;
  if (message == NIM_MODIFY && More_Reliable_Shell_NotifyIcon(NIM_ADD, record)) return true;
  ts.Msg("Adding attempt failed, 0x%X", static_cast<unsigned>(kernel.GetLastError()));
  if (message == NIM_ADD || message == NIM_MODIFY) {
    More_Reliable_Shell_NotifyIcon(NIM_DELETE, record);
    record.uFlags |= kShowFlags;
    if (shell.Shell_NotifyIconW(NIM_ADD, &record)) return true;
  }
  ts.Msg("Deleting/Adding failed, 0x%X", static_cast<unsigned>(kernel.GetLastError()));
  return false;
}

bool CTrayIcon::UxthemeAvailable() {
  std::lock_guard lk(m_uxthemeLock);
  if (!m_uxtheme) {
    auto& mods = m_plat.Modules();
    HMODULE m = mods.LoadLibraryExW(L"uxtheme.dll", nullptr, 0);
    if (m) mods.FreeLibrary(m);
    m_uxtheme = m != nullptr;
  }
  return *m_uxtheme;
}

COLORREF CTrayIcon::GetTaskBarColor() {
  VDTraceNS::CScope ts("CTrayIcon::GetTaskBarColor");
  std::lock_guard lk(m_lock);
  auto& ui = m_plat.Ui();
  auto& gdi = m_plat.Gdi();
  COLORREF colour = ui.GetSysColor(COLOR_3DFACE);
  if (!UxthemeAvailable()) return colour;

  UINT edge = ABE_BOTTOM;
  APPBARDATA abd{};
  abd.cbSize = sizeof(abd);
  abd.hWnd = ui.FindWindowW(L"Shell_TrayWnd", nullptr);
  if (abd.hWnd && m_plat.Shell().SHAppBarMessage(ABM_GETTASKBARPOS, &abd) != 0) edge = abd.uEdge;

  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof(v);
  const bool vistaOrLater = m_plat.Kernel().GetVersionExW(&v) && v.dwMajorVersion >= 6;
  COLORREF themed = 0;
  if (vistaOrLater) {
    static constexpr int kPartByEdge[4] = {4, 3, 2, 1};  // left, top, right, bottom
    const int part = edge < 4 ? kPartByEdge[edge] : 1;
    HTHEME theme = gdi.OpenThemeData(nullptr, L"TASKBAR");
    ts.Msg("OpenThemeData(TASKBAR) = 0x%08X",
           static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(theme)));
    if (theme) {
      if (SUCCEEDED(gdi.GetThemeColor(theme, part, 0, kFillColourHint, &themed))) colour = themed;
      gdi.CloseThemeData(theme);
    }
  } else {
    const wchar_t* classes =
        (edge == ABE_LEFT || edge == ABE_RIGHT) ? L"TrayNotifyVert" : L"TrayNotifyHoriz";
    HWND probe =
        ui.CreateWindowExW(0, L"ToolbarWindow32", nullptr, 0, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    if (probe) {
      if (SUCCEEDED(gdi.SetWindowTheme(probe, classes, nullptr))) {
        HTHEME theme = gdi.OpenThemeData(probe, L"TRAYNOTIFY");
        ts.Msg("OpenThemeData(TRAYNOTIFY) = 0x%08X",
               static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(theme)));
        if (theme) {
          if (SUCCEEDED(gdi.GetThemeColor(theme, 1, 0, kFillColourHint, &themed))) colour = themed;
          gdi.CloseThemeData(theme);
        }
        gdi.SetWindowTheme(probe, nullptr, nullptr);
      }
      ui.DestroyWindow(probe);
    }
  }
  ts.Msg("clr = (%u,%u,%u)", GetRValue(colour), GetGValue(colour), GetBValue(colour));
  return colour;
}

COLORREF CTrayIcon::GetIconMinColor() {
  VDTraceNS::CScope ts("CTrayIcon::GetIconMinColor");
  std::lock_guard lk(m_lock);
  auto& gdi = m_plat.Gdi();
  BYTE result[3] = {0, 0, 0};
  const size_t n = std::min<size_t>(m_images.size(), 2);
  for (size_t i = 0; i < n; ++i) {
    IconBitmaps icon(gdi);
    if (!icon.Load(m_images[i], ts)) continue;
    const LONG w = icon.size.bmWidth, h = icon.size.bmHeight;
    Dib dib(gdi, w, h);
    if (!dib.bits) continue;
    std::fill_n(dib.bits, static_cast<size_t>(w) * static_cast<size_t>(h), 0xFFFFFFFFu);
    if (!DrawOver(gdi, icon, dib.bitmap)) continue;
    BYTE least[3] = {255, 255, 255};
    if (HDC dc = gdi.CreateCompatibleDC(nullptr)) {
      HGDIOBJ old = gdi.SelectObject(dc, dib.bitmap);
      for (LONG y = 0; y < h; ++y)
        for (LONG x = 0; x < w; ++x) {
          const COLORREF c = gdi.GetPixel(dc, x, y);
          if (c == CLR_INVALID) continue;
          least[0] = std::min(least[0], GetRValue(c));
          least[1] = std::min(least[1], GetGValue(c));
          least[2] = std::min(least[2], GetBValue(c));
        }
      gdi.SelectObject(dc, old);
      gdi.DeleteDC(dc);
    }
    for (int c = 0; c < 3; ++c) result[c] = std::max(result[c], least[c]);
  }
  return RGB(result[0], result[1], result[2]);
}

void CTrayIcon::ConvertIcons() {
  VDTraceNS::CScope ts("CTrayIcon::ConvertIcons");
  std::lock_guard lk(m_lock);
  auto& gdi = m_plat.Gdi();
  for (HICON& image : m_images) {
    IconBitmaps icon(gdi);
    if (!icon.Load(image, ts)) continue;
    const LONG w = icon.size.bmWidth, h = icon.size.bmHeight;
    Dib dib(gdi, w, h);
    if (!dib.bits) continue;
    for (LONG y = 0; y < h; ++y)
      for (LONG x = 0; x < w; ++x) {
        const bool edge = x == 0 || y == 0 || x == w - 1 || y == h - 1;
        dib.bits[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] =
            edge ? kTileBorder : kTileFill;
      }
    DrawOver(gdi, icon, dib.bitmap);
    std::vector<BYTE> zeros(static_cast<size_t>((w + 15) / 16 * 2) * static_cast<size_t>(h), 0);
    HBITMAP mask = gdi.CreateBitmap(w, h, 1, 1, zeros.data());
    if (!mask) continue;
    ICONINFO made{};
    made.fIcon = TRUE;
    made.hbmMask = mask;
    made.hbmColor = dib.bitmap;
    HICON converted = gdi.CreateIconIndirect(&made);
    gdi.DeleteObject(mask);
    // The old image goes only once its replacement exists.
    if (!converted) continue;
    gdi.DestroyIcon(image);
    image = converted;
  }
}

void CTrayIcon::ApplyColourRule() {
  if (m_images.empty()) return;
  if (!IsLight(GetTaskBarColor(), kLightChannel)) return;  // a dark taskbar shows them well
  if (!IsLight(GetIconMinColor(), kLightChannel)) return;  // the icons have dark parts
  ConvertIcons();
}

bool CTrayIcon::OnTray() const {
  std::lock_guard lk(m_lock);
  return m_onTray;
}
size_t CTrayIcon::ImageCount() const {
  std::lock_guard lk(m_lock);
  return m_images.size();
}
int CTrayIcon::CurrentIndex() const {
  std::lock_guard lk(m_lock);
  return m_currentIndex;
}
HICON CTrayIcon::Image(size_t index) const {
  std::lock_guard lk(m_lock);
  return index < m_images.size() ? m_images[index] : nullptr;
}
