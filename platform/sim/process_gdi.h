// IGdi of one simulated process: pixel bitmaps, memory DCs, icons from the modules' icon
// resources (see ModuleTable::SetIcon), image lists and the machine's visual style (see
// appearance.h).
//
// Every icon, bitmap, DC, image list and theme handle is an object of the process until its
// matching call frees it; `sim::GdiObjects(process)` counts them, so a test sees a leak:
//
//   EXPECT_EQ(sim::GdiObjects(*agent), sim::GdiCounts{.icons = 7});
//
// Image lists: an ILC_COLOR32 image whose pixels carry any alpha is blended over the target
// with straight (not premultiplied) alpha, as icons' alpha is defined; an image without
// alpha, or in a list of fewer bits, is copied through its mask where the list has ILC_MASK
// (mask bit 1: the target shows through) and copied whole otherwise.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/gdi.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"

namespace sim {

struct GdiCounts {
  size_t icons = 0;
  size_t bitmaps = 0;  // the DCs' stock bitmap not counted
  size_t dcs = 0;
  size_t imageLists = 0;
  size_t themes = 0;

  size_t Total() const { return icons + bitmaps + dcs + imageLists + themes; }
  bool operator==(const GdiCounts&) const = default;
};

// The live drawing objects of `process`.
GdiCounts GdiObjects(Process& process);

class ProcessGdi : public platform::IGdi {
 public:
  explicit ProcessGdi(Process& p);
  ~ProcessGdi() override;
  ProcessGdi(const ProcessGdi&) = delete;
  ProcessGdi& operator=(const ProcessGdi&) = delete;

  HANDLE LoadImageW(HINSTANCE hInst, LPCWSTR name, UINT type, int cx, int cy, UINT fuLoad) override;
  HRESULT LoadIconWithScaleDown(HINSTANCE hInst, LPCWSTR name, int cx, int cy,
                                HICON* phico) override;
  BOOL DestroyIcon(HICON hIcon) override;
  BOOL GetIconInfo(HICON hIcon, ICONINFO* piconinfo) override;
  HICON CreateIconIndirect(ICONINFO* piconinfo) override;
  int GetObjectW(HANDLE h, int c, LPVOID pv) override;
  HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits,
                           HANDLE hSection, DWORD offset) override;
  HBITMAP CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount,
                       const void* lpBits) override;
  HDC CreateCompatibleDC(HDC hdc) override;
  HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) override;
  BOOL DeleteObject(HGDIOBJ ho) override;
  BOOL DeleteDC(HDC hdc) override;
  COLORREF GetPixel(HDC hdc, int x, int y) override;
  HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int cInitial, int cGrow) override;
  int ImageList_Add(HIMAGELIST himl, HBITMAP hbmImage, HBITMAP hbmMask) override;
  BOOL ImageList_Draw(HIMAGELIST himl, int i, HDC hdcDst, int x, int y, UINT fStyle) override;
  BOOL ImageList_Destroy(HIMAGELIST himl) override;
  HTHEME OpenThemeData(HWND hwnd, LPCWSTR pszClassList) override;
  HRESULT GetThemeColor(HTHEME hTheme, int iPartId, int iStateId, int iPropId,
                        COLORREF* pColor) override;
  HRESULT CloseThemeData(HTHEME hTheme) override;
  HRESULT SetWindowTheme(HWND hwnd, LPCWSTR pszSubAppName, LPCWSTR pszSubIdList) override;

  GdiCounts Counts() const;

  // Pixels of any depth, kept as Windows lays them out (rows DWORD-aligned, bottom-up unless
  // top-down), so a DIB section's caller can write them directly.
  struct Pixels {
    int width = 0;
    int height = 0;
    int bpp = 32;  // 1, 24 or 32
    bool topDown = true;
    int stride = 0;
    std::vector<BYTE> bits;
    DWORD masks[3] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu};  // red, green, blue (32 bpp)

    void Allocate(int w, int h, int depth, bool down, int rowAlign);
    BYTE* Row(int y);
    const BYTE* Row(int y) const;
    DWORD Get(int x, int y) const;  // 0xAARRGGBB; 1 bpp: black or white, opaque
    void Set(int x, int y, DWORD argb);
  };
  // An icon's own copy of its images: colour pixels (0xAARRGGBB, top-down) and the AND mask
  // (true: transparent).
  struct IconData {
    int width = 0;
    int height = 0;
    int colorBpp = 32;
    BOOL isIcon = TRUE;
    DWORD xHotspot = 0;
    DWORD yHotspot = 0;
    std::vector<DWORD> argb;
    std::vector<bool> mask;
  };

  // Only SRCCOPY; any stretch mode copies the nearest source pixel (COLORONCOLOR), alpha
  // byte included, so a 32-bit picture keeps its transparency.
  int SetStretchBltMode(HDC hdc, int mode) override;
  BOOL StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc, int xSrc,
                  int ySrc, int wSrc, int hSrc, DWORD rop) override;

  // ---- For the window side of the process (GetDC, UpdateLayeredWindow) ----
  // The screen's DC: a DC of the process until ReleaseScreenDc, so one never released shows
  // in the counts.
  HDC AcquireScreenDc();
  bool ReleaseScreenDc(HDC hdc);
  // 0xAARRGGBB pixels, rows top-down, of the rectangle of the bitmap selected into `hdc`;
  // nothing when the DC is unknown or the rectangle leaves the bitmap.
  std::optional<std::vector<DWORD>> ReadPixels(HDC hdc, int x, int y, int w, int h) const;

 private:
  struct Bitmap {
    Pixels pixels;
    bool dib = false;
    bool stock = false;
    HDC selectedInto = nullptr;
  };
  struct Dc {
    HBITMAP bitmap = nullptr;
    bool screen = false;
    int stretchMode = 1;  // BLACKONWHITE
  };
  struct ImageList {
    int cx = 0;
    int cy = 0;
    UINT flags = 0;
    std::vector<IconData> images;
  };
  struct Theme {
    std::wstring themeClass;
  };

  HANDLE LoadBitmapResource(HINSTANCE hInst, LPCWSTR name, UINT fuLoad);
  // The module image behind `hInst`; none, with ERROR_INVALID_HANDLE or
  // ERROR_RESOURCE_TYPE_NOT_FOUND set as LoadImageW sets them, when it is not loaded or holds
  // no resource of the type `has` asks for.
  std::optional<ModuleTable::Image> ResourceModule(HINSTANCE hInst,
                                                   bool (*has)(const ModuleTable::Image&));
  void* NewHandleLocked();
  void SetError(DWORD e);
  HBITMAP AddBitmapLocked(Bitmap bitmap);

  Process& m_process;
  mutable std::mutex m_mu;
  ULONG_PTR m_nextHandle = 0x10000;
  HBITMAP m_stockBitmap = nullptr;
  std::map<void*, std::unique_ptr<Bitmap>> m_bitmaps;
  std::map<void*, Dc> m_dcs;
  std::map<void*, IconData> m_icons;
  std::map<void*, ImageList> m_imageLists;
  std::map<void*, Theme> m_themes;
  std::map<HWND, std::wstring> m_windowThemes;  // SetWindowTheme's sub-id list
};

}  // namespace sim
