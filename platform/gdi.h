// Drawing (GDI32), icons (USER32), image lists (COMCTL32) and visual styles (UXTHEME): what
// the tray icon needs to load its images, look at their colours and redraw them.
//
//   HICON icon = static_cast<HICON>(gdi.LoadImageW(res, MAKEINTRESOURCEW(131), IMAGE_ICON,
//                                                  16, 16, 2));
//   ICONINFO ii{}; gdi.GetIconInfo(icon, &ii);        // two bitmaps the caller deletes
//   HDC dc = gdi.CreateCompatibleDC(nullptr);
//   HGDIOBJ old = gdi.SelectObject(dc, dib);
//   COLORREF c = gdi.GetPixel(dc, 0, 0);
//   gdi.SelectObject(dc, old); gdi.DeleteDC(dc);
//
// Every handle made here is a live object of the process until it is destroyed with its
// matching call (DestroyIcon, DeleteObject, DeleteDC, ImageList_Destroy, CloseThemeData);
// the simulated machine counts them, so a leak shows in a test.
#pragma once

#include "platform/win_types.h"

namespace platform {

class IGdi {
 public:
  virtual ~IGdi() = default;

  // ---- Icons ----
  // IMAGE_ICON from a module's resources at the size asked; null with the last error set
  // (ERROR_RESOURCE_TYPE_NOT_FOUND / ERROR_RESOURCE_NAME_NOT_FOUND) when there is none.
  virtual HANDLE LoadImageW(HINSTANCE hInst, LPCWSTR name, UINT type, int cx, int cy,
                            UINT fuLoad) = 0;
  // comctl32's LoadIconWithScaleDown, looked up at run time in the loaded comctl32.dll:
  // E_NOTIMPL when comctl32 is not loaded or has no such export (then use LoadImageW).
  virtual HRESULT LoadIconWithScaleDown(HINSTANCE hInst, LPCWSTR name, int cx, int cy,
                                        HICON* phico) = 0;
  virtual BOOL DestroyIcon(HICON hIcon) = 0;
  // Copies of the icon's colour and mask bitmaps, which the caller deletes.
  virtual BOOL GetIconInfo(HICON hIcon, ICONINFO* piconinfo) = 0;
  virtual HICON CreateIconIndirect(ICONINFO* piconinfo) = 0;

  // ---- Bitmaps and device contexts ----
  // For a bitmap: fills a BITMAP (c = sizeof(BITMAP)); returns the bytes written, 0 on failure.
  virtual int GetObjectW(HANDLE h, int c, LPVOID pv) = 0;
  // A 32-bit top-down or bottom-up DIB (BI_RGB or BI_BITFIELDS; the header may be a
  // BITMAPV5HEADER); *ppvBits points at its pixels, which the caller may write.
  virtual HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits,
                                   HANDLE hSection, DWORD offset) = 0;
  virtual HBITMAP CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount,
                               const void* lpBits) = 0;
  virtual HDC CreateCompatibleDC(HDC hdc) = 0;
  virtual HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) = 0;
  virtual BOOL DeleteObject(HGDIOBJ ho) = 0;
  virtual BOOL DeleteDC(HDC hdc) = 0;
  // The colour of the pixel of the bitmap selected into the DC; CLR_INVALID outside it.
  virtual COLORREF GetPixel(HDC hdc, int x, int y) = 0;

  // ---- Image lists ----
  virtual HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int cInitial, int cGrow) = 0;
  // The index of the new image, -1 on failure. hbmMask may be null (no ILC_MASK).
  virtual int ImageList_Add(HIMAGELIST himl, HBITMAP hbmImage, HBITMAP hbmMask) = 0;
  virtual BOOL ImageList_Draw(HIMAGELIST himl, int i, HDC hdcDst, int x, int y, UINT fStyle) = 0;
  virtual BOOL ImageList_Destroy(HIMAGELIST himl) = 0;

  // ---- Visual styles ----
  // Null when no visual style is active or the class list names no class of it.
  virtual HTHEME OpenThemeData(HWND hwnd, LPCWSTR pszClassList) = 0;
  virtual HRESULT GetThemeColor(HTHEME hTheme, int iPartId, int iStateId, int iPropId,
                                COLORREF* pColor) = 0;
  virtual HRESULT CloseThemeData(HTHEME hTheme) = 0;
  // pszSubIdList null: the window's theme reverts to its class's.
  virtual HRESULT SetWindowTheme(HWND hwnd, LPCWSTR pszSubAppName, LPCWSTR pszSubIdList) = 0;

  // ---- Drawing ----
  virtual int SetStretchBltMode(HDC hdc, int mode) = 0;
  virtual BOOL StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc,
                          int xSrc, int ySrc, int wSrc, int hSrc, DWORD rop) = 0;
};

}  // namespace platform
