// Drawing, icons, image lists and visual styles on Windows: the Win32 calls straight through.
#pragma once

#include "platform/gdi.h"

namespace platform::win32 {

class CWin32Gdi final : public IGdi {
 public:
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
  int SetStretchBltMode(HDC hdc, int mode) override;
  BOOL StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc, int xSrc,
                  int ySrc, int wSrc, int hSrc, DWORD rop) override;
};

}  // namespace platform::win32
