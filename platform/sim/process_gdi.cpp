#include "platform/sim/process_gdi.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwctype>

#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process_modules.h"
#include "platform/sim/process_shell.h"
#include "platform/sim/process_ui.h"
#include "platform/sim/window_manager.h"

namespace sim {

namespace {

// "Element not found": what uxtheme answers for a property the theme does not define.
constexpr HRESULT kPropertyNotFound = static_cast<HRESULT>(0x80070490L);

std::wstring Lower(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

std::wstring Trim(const std::wstring& s) {
  const size_t b = s.find_first_not_of(L" \t");
  if (b == std::wstring::npos) return {};
  return s.substr(b, s.find_last_not_of(L" \t") - b + 1);
}

int Shift(DWORD mask) {
  int n = 0;
  while (mask && !(mask & 1u)) {
    mask >>= 1;
    ++n;
  }
  return n;
}

// A mask a 32-bit pixel may use: eight contiguous bits.
bool IsByteMask(DWORD mask) { return mask && (mask >> Shift(mask)) == 0xFFu; }

BYTE A(DWORD argb) { return static_cast<BYTE>(argb >> 24); }
BYTE R(DWORD argb) { return static_cast<BYTE>(argb >> 16); }
BYTE G(DWORD argb) { return static_cast<BYTE>(argb >> 8); }
BYTE B(DWORD argb) { return static_cast<BYTE>(argb); }
DWORD Argb(unsigned a, unsigned r, unsigned g, unsigned b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}

// The image of an icon resource closest in size to the one asked, scaled to it.
ProcessGdi::IconData IconFromResource(const std::vector<IconImage>& images, int cx, int cy) {
  const IconImage* best = &images.front();
  if (cx <= 0) cx = best->width;
  if (cy <= 0) cy = best->height;
  for (const auto& img : images) {
    if (std::abs(img.width - cx) + std::abs(img.height - cy) <
        std::abs(best->width - cx) + std::abs(best->height - cy)) {
      best = &img;
    }
  }
  ProcessGdi::IconData icon;
  icon.width = cx;
  icon.height = cy;
  icon.argb.resize(static_cast<size_t>(cx) * static_cast<size_t>(cy));
  icon.mask.resize(icon.argb.size());
  for (int y = 0; y < cy; ++y) {
    for (int x = 0; x < cx; ++x) {
      const int sx = x * best->width / cx;
      const int sy = y * best->height / cy;
      const DWORD px = best->argb[static_cast<size_t>(sy) * best->width + sx];
      const size_t i = static_cast<size_t>(y) * cx + x;
      icon.argb[i] = px;
      icon.mask[i] = A(px) == 0;
    }
  }
  return icon;
}

}  // namespace

// ---- Pixels ---------------------------------------------------------------------------------

void ProcessGdi::Pixels::Allocate(int w, int h, int depth, bool down, int rowAlign) {
  width = w;
  height = h;
  bpp = depth;
  topDown = down;
  const int rowBits = w * depth;
  stride = (rowBits + rowAlign * 8 - 1) / (rowAlign * 8) * rowAlign;
  bits.assign(static_cast<size_t>(stride) * static_cast<size_t>(h), 0);
}

BYTE* ProcessGdi::Pixels::Row(int y) {
  return bits.data() + static_cast<size_t>(topDown ? y : height - 1 - y) * stride;
}

const BYTE* ProcessGdi::Pixels::Row(int y) const {
  return bits.data() + static_cast<size_t>(topDown ? y : height - 1 - y) * stride;
}

DWORD ProcessGdi::Pixels::Get(int x, int y) const {
  const BYTE* row = Row(y);
  switch (bpp) {
    case 1:
      return (row[x / 8] & (0x80u >> (x % 8))) ? 0xFFFFFFFFu : 0xFF000000u;
    case 24:
      return Argb(0, row[x * 3 + 2], row[x * 3 + 1], row[x * 3]);
    default: {
      DWORD v;
      std::memcpy(&v, row + x * 4, 4);
      const DWORD used = masks[0] | masks[1] | masks[2];
      const unsigned alpha = (used & 0xFF000000u) ? 0 : v >> 24;
      return Argb(alpha, (v & masks[0]) >> Shift(masks[0]), (v & masks[1]) >> Shift(masks[1]),
                  (v & masks[2]) >> Shift(masks[2]));
    }
  }
}

void ProcessGdi::Pixels::Set(int x, int y, DWORD argb) {
  BYTE* row = Row(y);
  switch (bpp) {
    case 1: {
      const bool white = R(argb) + G(argb) + B(argb) >= 3 * 128;
      const BYTE bit = static_cast<BYTE>(0x80u >> (x % 8));
      row[x / 8] = static_cast<BYTE>(white ? row[x / 8] | bit : row[x / 8] & ~bit);
      return;
    }
    case 24:
      row[x * 3] = B(argb);
      row[x * 3 + 1] = G(argb);
      row[x * 3 + 2] = R(argb);
      return;
    default: {
      const DWORD used = masks[0] | masks[1] | masks[2];
      DWORD v = (static_cast<DWORD>(R(argb)) << Shift(masks[0])) |
                (static_cast<DWORD>(G(argb)) << Shift(masks[1])) |
                (static_cast<DWORD>(B(argb)) << Shift(masks[2]));
      if (!(used & 0xFF000000u)) v |= static_cast<DWORD>(A(argb)) << 24;
      std::memcpy(row + x * 4, &v, 4);
    }
  }
}

// ---- Objects --------------------------------------------------------------------------------

ProcessGdi::ProcessGdi(Process& p) : m_process(p) {
  // A new memory DC holds a 1x1 monochrome bitmap that belongs to the system.
  Bitmap stock;
  stock.pixels.Allocate(1, 1, 1, true, 2);
  stock.stock = true;
  m_stockBitmap = AddBitmapLocked(std::move(stock));
}

ProcessGdi::~ProcessGdi() = default;

void* ProcessGdi::NewHandleLocked() {
  m_nextHandle += 4;  // never reused: a stale handle stays invalid
  return reinterpret_cast<void*>(m_nextHandle);
}

void ProcessGdi::SetError(DWORD e) { m_process.GetMachine().LastError() = e; }

HBITMAP ProcessGdi::AddBitmapLocked(Bitmap bitmap) {
  void* h = NewHandleLocked();
  m_bitmaps.emplace(h, std::make_unique<Bitmap>(std::move(bitmap)));
  return static_cast<HBITMAP>(h);
}

GdiCounts ProcessGdi::Counts() const {
  std::lock_guard lk(m_mu);
  GdiCounts c;
  c.icons = m_icons.size();
  c.bitmaps = m_bitmaps.size() - 1;  // the stock bitmap
  c.dcs = m_dcs.size();
  c.imageLists = m_imageLists.size();
  c.themes = m_themes.size();
  return c;
}

GdiCounts GdiObjects(Process& process) {
  // The simulated process's drawing area is always this class.
  return static_cast<ProcessGdi&>(process.Gdi()).Counts();
}

// ---- Icons ----------------------------------------------------------------------------------

std::optional<ModuleTable::Image> ProcessGdi::ResourceModule(
    HINSTANCE hInst, bool (*has)(const ModuleTable::Image&)) {
  auto& modules = static_cast<ProcessModules&>(m_process.Modules());
  const std::wstring path = hInst ? modules.PathOf(reinterpret_cast<HMODULE>(hInst)) : L"";
  if (path.empty()) {
    SetError(ERROR_INVALID_HANDLE);
    return std::nullopt;
  }
  auto image = m_process.GetMachine().Modules().Find(path);
  if (!image || !has(*image)) {
    SetError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return std::nullopt;
  }
  return image;
}

namespace {
// A numbered resource of one table; string names are never ours.
template <typename Table>
const typename Table::mapped_type* FindNumbered(const Table& table, LPCWSTR name) {
  if (!IS_INTRESOURCE(name)) return nullptr;
  auto it = table.find(LOWORD(reinterpret_cast<ULONG_PTR>(name)));
  return it == table.end() ? nullptr : &it->second;
}

bool HasPixels(const IconImage& img) {
  return img.width > 0 && img.height > 0 &&
         img.argb.size() == static_cast<size_t>(img.width) * static_cast<size_t>(img.height);
}
}  // namespace

// A bitmap resource as LoadImageW gives it: with LR_CREATEDIBSECTION a bottom-up 32-bit DIB
// section whose bytes the caller may reach through GetObjectW, else a device bitmap of the
// same pixels. The size asked for is not applied (the agent loads at the resource's size).
HANDLE ProcessGdi::LoadBitmapResource(HINSTANCE hInst, LPCWSTR name, UINT fuLoad) {
  const auto image =
      ResourceModule(hInst, [](const ModuleTable::Image& i) { return !i.bitmaps.empty(); });
  if (!image) return nullptr;
  const IconImage* found = FindNumbered(image->bitmaps, name);
  if (!found) {
    SetError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  const IconImage& src = *found;
  if (!HasPixels(src)) {
    SetError(ERROR_INVALID_DATA);
    return nullptr;
  }
  Bitmap b;
  b.dib = (fuLoad & LR_CREATEDIBSECTION) != 0;
  b.pixels.Allocate(src.width, src.height, 32, false, b.dib ? 4 : 2);
  // A 32-bit resource's fourth byte is its alpha: read with no colour masks covering it.
  for (int y = 0; y < src.height; ++y)
    for (int x = 0; x < src.width; ++x)
      b.pixels.Set(x, y,
                   src.argb[static_cast<size_t>(y) * static_cast<size_t>(src.width) +
                            static_cast<size_t>(x)]);
  std::lock_guard lk(m_mu);
  return AddBitmapLocked(std::move(b));
}

HANDLE ProcessGdi::LoadImageW(HINSTANCE hInst, LPCWSTR name, UINT type, int cx, int cy,
                              UINT fuLoad) {
  if (type == IMAGE_BITMAP) return LoadBitmapResource(hInst, name, fuLoad);
  if (type != IMAGE_ICON) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (cx < 0 || cy < 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const auto image =
      ResourceModule(hInst, [](const ModuleTable::Image& i) { return !i.icons.empty(); });
  if (!image) return nullptr;
  const auto* images = FindNumbered(image->icons, name);
  if (!images) {
    SetError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  for (const auto& img : *images) {
    if (!HasPixels(img)) {
      SetError(ERROR_INVALID_DATA);
      return nullptr;
    }
  }
  IconData icon = IconFromResource(*images, cx, cy);
  std::lock_guard lk(m_mu);
  void* h = NewHandleLocked();
  m_icons.emplace(h, std::move(icon));
  return h;
}

HRESULT ProcessGdi::LoadIconWithScaleDown(HINSTANCE hInst, LPCWSTR name, int cx, int cy,
                                          HICON* phico) {
  auto& modules = static_cast<ProcessModules&>(m_process.Modules());
  HMODULE comctl = modules.LoadedModule(L"comctl32.dll");
  if (!comctl) return E_NOTIMPL;
  const std::wstring path = modules.PathOf(comctl);
  const auto lib = m_process.GetMachine().Modules().Find(path);
  if (!lib || !lib->exports.count("LoadIconWithScaleDown")) return E_NOTIMPL;
  if (!phico) return E_POINTER;
  *phico = nullptr;
  HANDLE h = LoadImageW(hInst, name, IMAGE_ICON, cx, cy, 0);
  if (!h) return HRESULT_FROM_WIN32(m_process.GetMachine().LastError());
  *phico = static_cast<HICON>(h);
  return S_OK;
}

BOOL ProcessGdi::DestroyIcon(HICON hIcon) {
  std::lock_guard lk(m_mu);
  if (!m_icons.erase(hIcon)) {
    SetError(ERROR_INVALID_CURSOR_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL ProcessGdi::GetIconInfo(HICON hIcon, ICONINFO* piconinfo) {
  std::lock_guard lk(m_mu);
  auto it = m_icons.find(hIcon);
  if (it == m_icons.end() || !piconinfo) {
    SetError(it == m_icons.end() ? ERROR_INVALID_CURSOR_HANDLE : ERROR_NOACCESS);
    return FALSE;
  }
  const IconData& icon = it->second;
  Bitmap color;
  color.pixels.Allocate(icon.width, icon.height, icon.colorBpp, true, 2);
  Bitmap mask;
  mask.pixels.Allocate(icon.width, icon.height, 1, true, 2);
  for (int y = 0; y < icon.height; ++y) {
    for (int x = 0; x < icon.width; ++x) {
      const size_t i = static_cast<size_t>(y) * icon.width + x;
      color.pixels.Set(x, y, icon.argb[i]);
      mask.pixels.Set(x, y, icon.mask[i] ? 0xFFFFFFFFu : 0xFF000000u);
    }
  }
  piconinfo->fIcon = icon.isIcon;
  piconinfo->xHotspot = icon.isIcon ? static_cast<DWORD>(icon.width / 2) : icon.xHotspot;
  piconinfo->yHotspot = icon.isIcon ? static_cast<DWORD>(icon.height / 2) : icon.yHotspot;
  piconinfo->hbmColor = AddBitmapLocked(std::move(color));
  piconinfo->hbmMask = AddBitmapLocked(std::move(mask));
  return TRUE;
}

HICON ProcessGdi::CreateIconIndirect(ICONINFO* piconinfo) {
  std::lock_guard lk(m_mu);
  if (!piconinfo) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto mit = m_bitmaps.find(piconinfo->hbmMask);
  auto cit = m_bitmaps.find(piconinfo->hbmColor);
  // A colour-less (monochrome) icon is not modelled: the agent's icons always have colour.
  if (mit == m_bitmaps.end() || cit == m_bitmaps.end() || mit->second->stock ||
      cit->second->stock) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const Pixels& color = cit->second->pixels;
  const Pixels& mask = mit->second->pixels;
  if (mask.width < color.width || mask.height < color.height) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  IconData icon;
  icon.width = color.width;
  icon.height = color.height;
  icon.colorBpp = color.bpp == 1 ? 32 : color.bpp;
  icon.isIcon = piconinfo->fIcon ? TRUE : FALSE;
  icon.xHotspot = piconinfo->xHotspot;
  icon.yHotspot = piconinfo->yHotspot;
  icon.argb.resize(static_cast<size_t>(icon.width) * static_cast<size_t>(icon.height));
  icon.mask.resize(icon.argb.size());
  for (int y = 0; y < icon.height; ++y) {
    for (int x = 0; x < icon.width; ++x) {
      const size_t i = static_cast<size_t>(y) * icon.width + x;
      icon.argb[i] = color.Get(x, y);
      icon.mask[i] = (mask.Get(x, y) & 0xFFFFFFu) != 0;
    }
  }
  void* h = NewHandleLocked();
  m_icons.emplace(h, std::move(icon));
  return static_cast<HICON>(h);
}

// ---- Bitmaps and DCs ------------------------------------------------------------------------

int ProcessGdi::GetObjectW(HANDLE h, int c, LPVOID pv) {
  std::lock_guard lk(m_mu);
  auto it = m_bitmaps.find(h);
  if (it == m_bitmaps.end()) {
    SetError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (!pv) return static_cast<int>(sizeof(BITMAP));
  if (c < static_cast<int>(sizeof(BITMAP))) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Bitmap& b = *it->second;
  BITMAP bm{};
  bm.bmType = 0;
  bm.bmWidth = b.pixels.width;
  bm.bmHeight = b.pixels.height;
  // A device bitmap's rows are WORD-aligned, a DIB section's DWORD-aligned.
  bm.bmWidthBytes = b.dib ? b.pixels.stride : (b.pixels.width * b.pixels.bpp + 15) / 16 * 2;
  bm.bmPlanes = 1;
  bm.bmBitsPixel = static_cast<WORD>(b.pixels.bpp);
  bm.bmBits = b.dib ? b.pixels.bits.data() : nullptr;
  std::memcpy(pv, &bm, sizeof(bm));
  return static_cast<int>(sizeof(BITMAP));
}

HBITMAP ProcessGdi::CreateDIBSection(HDC, const BITMAPINFO* pbmi, UINT usage, void** ppvBits,
                                     HANDLE hSection, DWORD) {
  if (ppvBits) *ppvBits = nullptr;
  if (!pbmi || usage != DIB_RGB_COLORS || hSection) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const BITMAPINFOHEADER& hdr = pbmi->bmiHeader;
  const bool knownHeader = hdr.biSize == sizeof(BITMAPINFOHEADER) || hdr.biSize == 108 ||
                           hdr.biSize == sizeof(BITMAPV5HEADER);
  const LONG height = hdr.biHeight < 0 ? -hdr.biHeight : hdr.biHeight;
  if (!knownHeader || hdr.biWidth <= 0 || hdr.biHeight == 0 || hdr.biPlanes != 1 ||
      (hdr.biBitCount != 32 && hdr.biBitCount != 24) || hdr.biWidth > 0x4000 || height > 0x4000) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Bitmap b;
  b.dib = true;
  b.pixels.Allocate(hdr.biWidth, height, hdr.biBitCount, hdr.biHeight < 0, 4);
  if (hdr.biCompression == BI_BITFIELDS) {
    if (hdr.biBitCount != 32) {
      SetError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    // The masks follow a plain header, or sit in a V4/V5 header's own fields.
    DWORD masks[3];
    if (hdr.biSize == sizeof(BITMAPINFOHEADER)) {
      std::memcpy(masks, pbmi->bmiColors, sizeof(masks));
    } else {
      const auto* v5 = reinterpret_cast<const BITMAPV5HEADER*>(&hdr);
      masks[0] = v5->bV5RedMask;
      masks[1] = v5->bV5GreenMask;
      masks[2] = v5->bV5BlueMask;
    }
    for (DWORD m : masks) {
      if (!IsByteMask(m)) {
        SetError(ERROR_INVALID_PARAMETER);
        return nullptr;
      }
    }
    std::copy(std::begin(masks), std::end(masks), b.pixels.masks);
  } else if (hdr.biCompression != BI_RGB) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard lk(m_mu);
  HBITMAP h = AddBitmapLocked(std::move(b));
  if (ppvBits) *ppvBits = m_bitmaps[h]->pixels.bits.data();
  return h;
}

HBITMAP ProcessGdi::CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount,
                                 const void* lpBits) {
  if (nWidth <= 0 || nHeight <= 0 || nWidth > 0x4000 || nHeight > 0x4000 || nPlanes != 1 ||
      (nBitCount != 1 && nBitCount != 24 && nBitCount != 32)) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Bitmap b;
  b.pixels.Allocate(nWidth, nHeight, static_cast<int>(nBitCount), true, 2);
  if (lpBits) std::memcpy(b.pixels.bits.data(), lpBits, b.pixels.bits.size());
  std::lock_guard lk(m_mu);
  return AddBitmapLocked(std::move(b));
}

HDC ProcessGdi::CreateCompatibleDC(HDC hdc) {
  std::lock_guard lk(m_mu);
  if (hdc && !m_dcs.count(hdc)) {
    SetError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void* h = NewHandleLocked();
  m_dcs.emplace(h, Dc{m_stockBitmap, false, 1});
  return static_cast<HDC>(h);
}

HGDIOBJ ProcessGdi::SelectObject(HDC hdc, HGDIOBJ h) {
  std::lock_guard lk(m_mu);
  auto dit = m_dcs.find(hdc);
  auto bit = m_bitmaps.find(h);
  // A bitmap lives in one DC at a time (the stock one in any number).
  if (dit == m_dcs.end() || bit == m_bitmaps.end() ||
      (!bit->second->stock && bit->second->selectedInto && bit->second->selectedInto != hdc)) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HBITMAP previous = dit->second.bitmap;
  if (previous != h) {
    m_bitmaps[previous]->selectedInto = nullptr;
    dit->second.bitmap = static_cast<HBITMAP>(h);
    if (!bit->second->stock) bit->second->selectedInto = hdc;
  }
  return previous;
}

BOOL ProcessGdi::DeleteObject(HGDIOBJ ho) {
  std::lock_guard lk(m_mu);
  auto it = m_bitmaps.find(ho);
  if (it == m_bitmaps.end()) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (it->second->stock) return TRUE;  // stock objects survive deletion
  // A bitmap still selected into a DC stays, and the call fails.
  if (it->second->selectedInto) return FALSE;
  m_bitmaps.erase(it);
  return TRUE;
}

BOOL ProcessGdi::DeleteDC(HDC hdc) {
  std::lock_guard lk(m_mu);
  auto it = m_dcs.find(hdc);
  if (it == m_dcs.end() || it->second.screen) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  m_bitmaps[it->second.bitmap]->selectedInto = nullptr;
  m_dcs.erase(it);
  return TRUE;
}

COLORREF ProcessGdi::GetPixel(HDC hdc, int x, int y) {
  std::lock_guard lk(m_mu);
  auto it = m_dcs.find(hdc);
  if (it == m_dcs.end()) return CLR_INVALID;
  const Pixels& px = m_bitmaps[it->second.bitmap]->pixels;
  if (x < 0 || y < 0 || x >= px.width || y >= px.height) return CLR_INVALID;
  const DWORD v = px.Get(x, y);
  return RGB(R(v), G(v), B(v));
}

// ---- Image lists ----------------------------------------------------------------------------

HIMAGELIST ProcessGdi::ImageList_Create(int cx, int cy, UINT flags, int, int) {
  if (cx <= 0 || cy <= 0 || cx > 0x1000 || cy > 0x1000) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard lk(m_mu);
  void* h = NewHandleLocked();
  m_imageLists.emplace(h, ImageList{cx, cy, flags, {}});
  return static_cast<HIMAGELIST>(h);
}

int ProcessGdi::ImageList_Add(HIMAGELIST himl, HBITMAP hbmImage, HBITMAP hbmMask) {
  std::lock_guard lk(m_mu);
  auto lit = m_imageLists.find(himl);
  auto bit = m_bitmaps.find(hbmImage);
  if (lit == m_imageLists.end() || bit == m_bitmaps.end()) return -1;
  ImageList& list = lit->second;
  const Pixels& image = bit->second->pixels;
  const Pixels* mask = nullptr;
  if (hbmMask && (list.flags & ILC_MASK)) {
    auto mit = m_bitmaps.find(hbmMask);
    if (mit == m_bitmaps.end()) return -1;
    mask = &mit->second->pixels;
  }
  // A strip of images side by side adds one image per cx columns.
  const int count = image.width / list.cx;
  if (count == 0) return -1;
  const int first = static_cast<int>(list.images.size());
  for (int n = 0; n < count; ++n) {
    IconData entry;
    entry.width = list.cx;
    entry.height = list.cy;
    entry.argb.assign(static_cast<size_t>(list.cx) * list.cy, 0);
    entry.mask.assign(entry.argb.size(), false);
    for (int y = 0; y < std::min(list.cy, image.height); ++y) {
      for (int x = 0; x < list.cx; ++x) {
        const int sx = n * list.cx + x;
        const size_t i = static_cast<size_t>(y) * list.cx + x;
        entry.argb[i] = image.Get(sx, y);
        if (mask && sx < mask->width && y < mask->height) {
          entry.mask[i] = (mask->Get(sx, y) & 0xFFFFFFu) != 0;
        }
      }
    }
    list.images.push_back(std::move(entry));
  }
  return first;
}

BOOL ProcessGdi::ImageList_Draw(HIMAGELIST himl, int i, HDC hdcDst, int x, int y, UINT) {
  std::lock_guard lk(m_mu);
  auto lit = m_imageLists.find(himl);
  auto dit = m_dcs.find(hdcDst);
  if (lit == m_imageLists.end() || dit == m_dcs.end() || i < 0 ||
      i >= static_cast<int>(lit->second.images.size())) {
    return FALSE;
  }
  const ImageList& list = lit->second;
  const IconData& img = list.images[static_cast<size_t>(i)];
  Pixels& dst = m_bitmaps[dit->second.bitmap]->pixels;
  const bool blend = (list.flags & 0xFEu) == ILC_COLOR32 &&
                     std::any_of(img.argb.begin(), img.argb.end(), [](DWORD v) { return A(v); });
  const bool masked = (list.flags & ILC_MASK) != 0;
  for (int sy = 0; sy < img.height; ++sy) {
    for (int sx = 0; sx < img.width; ++sx) {
      const int dx = x + sx;
      const int dy = y + sy;
      if (dx < 0 || dy < 0 || dx >= dst.width || dy >= dst.height) continue;
      const size_t k = static_cast<size_t>(sy) * img.width + sx;
      const DWORD s = img.argb[k];
      if (blend) {
        const unsigned a = A(s);
        const DWORD d = dst.Get(dx, dy);
        auto mix = [a](unsigned sc, unsigned dc) { return (sc * a + dc * (255 - a) + 127) / 255; };
        dst.Set(dx, dy,
                Argb(a + (A(d) * (255 - a) + 127) / 255, mix(R(s), R(d)), mix(G(s), G(d)),
                     mix(B(s), B(d))));
      } else if (!(masked && img.mask[k])) {
        dst.Set(dx, dy, s | 0xFF000000u);
      }
    }
  }
  return TRUE;
}

BOOL ProcessGdi::ImageList_Destroy(HIMAGELIST himl) {
  std::lock_guard lk(m_mu);
  return m_imageLists.erase(himl) ? TRUE : FALSE;
}

// ---- Visual styles --------------------------------------------------------------------------

HTHEME ProcessGdi::OpenThemeData(HWND hwnd, LPCWSTR pszClassList) {
  const Appearance look = m_process.GetMachine().GetAppearance();
  if (!look.themeActive || !pszClassList) {
    SetError(static_cast<DWORD>(kPropertyNotFound));
    return nullptr;
  }
  std::wstring subId;
  {
    std::lock_guard lk(m_mu);
    auto it = hwnd ? m_windowThemes.find(hwnd) : m_windowThemes.end();
    if (it != m_windowThemes.end()) subId = it->second;
  }
  auto inTheme = [&look](const std::wstring& cls) {
    const std::wstring key = Lower(cls);
    return std::any_of(look.fillColorHints.begin(), look.fillColorHints.end(),
                       [&key](const auto& e) { return Lower(e.first.first) == key; });
  };
  const std::wstring list = pszClassList;
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t end = list.find(L';', pos);
    if (end == std::wstring::npos) end = list.size();
    const std::wstring cls = Trim(list.substr(pos, end - pos));
    pos = end + 1;
    if (cls.empty()) continue;
    std::wstring found;
    if (!subId.empty() && inTheme(subId + L"::" + cls)) {
      found = subId + L"::" + cls;
    } else if (inTheme(cls)) {
      found = cls;
    } else {
      continue;
    }
    std::lock_guard lk(m_mu);
    void* h = NewHandleLocked();
    m_themes.emplace(h, Theme{found});
    return h;
  }
  SetError(static_cast<DWORD>(kPropertyNotFound));
  return nullptr;
}

HRESULT ProcessGdi::GetThemeColor(HTHEME hTheme, int iPartId, int, int iPropId, COLORREF* pColor) {
  std::wstring cls;
  {
    std::lock_guard lk(m_mu);
    auto it = m_themes.find(hTheme);
    if (it == m_themes.end()) return E_HANDLE;
    cls = Lower(it->second.themeClass);
  }
  if (!pColor) return E_POINTER;
  if (iPropId != TMT_FILLCOLORHINT) return kPropertyNotFound;
  const Appearance look = m_process.GetMachine().GetAppearance();
  // A part without its own value takes the class's (part 0).
  for (int part : {iPartId, 0}) {
    for (const auto& [key, color] : look.fillColorHints) {
      if (key.second == part && Lower(key.first) == cls) {
        *pColor = color;
        return S_OK;
      }
    }
  }
  return kPropertyNotFound;
}

HRESULT ProcessGdi::CloseThemeData(HTHEME hTheme) {
  std::lock_guard lk(m_mu);
  return m_themes.erase(hTheme) ? S_OK : E_HANDLE;
}

HRESULT ProcessGdi::SetWindowTheme(HWND hwnd, LPCWSTR, LPCWSTR pszSubIdList) {
  const auto info = m_process.GetMachine().Windows().Info(hwnd);
  if (!hwnd || !info || info->processId != m_process.Pid()) {
    return HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
  }
  std::lock_guard lk(m_mu);
  if (pszSubIdList && *pszSubIdList) {
    m_windowThemes[hwnd] = pszSubIdList;
  } else {
    m_windowThemes.erase(hwnd);
  }
  return S_OK;
}

// ---- The taskbar's look ---------------------------------------------------------------------

DWORD ProcessUi::GetSysColor(int nIndex) {
  if (nIndex == COLOR_3DFACE) return m_process.GetMachine().GetAppearance().face3d;
  // The classic defaults of the colours nothing here changes.
  switch (nIndex) {
    case COLOR_WINDOW:
      return RGB(255, 255, 255);
    case 8:  // COLOR_WINDOWTEXT
    case 7:  // COLOR_MENUTEXT
      return RGB(0, 0, 0);
    case 4:  // COLOR_MENU
      return RGB(240, 240, 240);
    case 13:  // COLOR_HIGHLIGHT
      return RGB(0, 120, 215);
    case 14:  // COLOR_HIGHLIGHTTEXT
      return RGB(255, 255, 255);
    default:
      return 0;
  }
}

UINT_PTR ProcessShell::SHAppBarMessage(DWORD dwMessage, PAPPBARDATA pData) {
  if (dwMessage != ABM_GETTASKBARPOS || !pData) return 0;
  HWND taskbar = m_machine.Windows().ShellWindow(m_process.SessionId());
  if (!taskbar) return 0;  // no shell, no taskbar
  const Appearance look = m_machine.GetAppearance();
  pData->hWnd = taskbar;
  pData->uEdge = look.taskbarEdge;
  pData->rc = look.taskbarRect;
  return TRUE;
}

// ---- Drawing --------------------------------------------------------------------------------

int ProcessGdi::SetStretchBltMode(HDC hdc, int mode) {
  std::lock_guard lk(m_mu);
  auto it = m_dcs.find(hdc);
  if (it == m_dcs.end() || mode < 1 || mode > 4) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int previous = it->second.stretchMode;
  it->second.stretchMode = mode;
  return previous;
}

BOOL ProcessGdi::StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc,
                            int xSrc, int ySrc, int wSrc, int hSrc, DWORD rop) {
  std::lock_guard lk(m_mu);
  auto dit = m_dcs.find(hdcDest);
  auto sit = m_dcs.find(hdcSrc);
  if (dit == m_dcs.end() || sit == m_dcs.end()) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Mirroring (negative extents) and other raster operations are not needed here.
  if (rop != SRCCOPY || wDest <= 0 || hDest <= 0 || wSrc <= 0 || hSrc <= 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Pixels& dst = m_bitmaps[dit->second.bitmap]->pixels;
  const Pixels& src = m_bitmaps[sit->second.bitmap]->pixels;
  for (int dy = 0; dy < hDest; ++dy) {
    const int ty = yDest + dy;
    const int sy = ySrc + static_cast<int>(static_cast<long long>(dy) * hSrc / hDest);
    if (ty < 0 || ty >= dst.height || sy < 0 || sy >= src.height) continue;
    for (int dx = 0; dx < wDest; ++dx) {
      const int tx = xDest + dx;
      const int sx = xSrc + static_cast<int>(static_cast<long long>(dx) * wSrc / wDest);
      if (tx < 0 || tx >= dst.width || sx < 0 || sx >= src.width) continue;
      dst.Set(tx, ty, src.Get(sx, sy));
    }
  }
  return TRUE;
}

HDC ProcessGdi::AcquireScreenDc() {
  std::lock_guard lk(m_mu);
  void* h = NewHandleLocked();
  m_dcs.emplace(h, Dc{m_stockBitmap, true, 1});
  return static_cast<HDC>(h);
}

bool ProcessGdi::ReleaseScreenDc(HDC hdc) {
  std::lock_guard lk(m_mu);
  auto it = m_dcs.find(hdc);
  if (it == m_dcs.end() || !it->second.screen) return false;
  m_dcs.erase(it);
  return true;
}

std::optional<std::vector<DWORD>> ProcessGdi::ReadPixels(HDC hdc, int x, int y, int w,
                                                         int h) const {
  std::lock_guard lk(m_mu);
  auto it = m_dcs.find(hdc);
  if (it == m_dcs.end() || w < 0 || h < 0) return std::nullopt;
  const Pixels& px = m_bitmaps.at(it->second.bitmap)->pixels;
  if (x < 0 || y < 0 || x + w > px.width || y + h > px.height) return std::nullopt;
  std::vector<DWORD> out;
  out.reserve(static_cast<size_t>(w) * static_cast<size_t>(h));
  for (int row = y; row < y + h; ++row)
    for (int col = x; col < x + w; ++col) out.push_back(px.Get(col, row));
  return out;
}

}  // namespace sim
