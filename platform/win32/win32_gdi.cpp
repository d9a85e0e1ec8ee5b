#include "platform/win32/win32_gdi.h"

namespace platform::win32 {

HANDLE CWin32Gdi::LoadImageW(HINSTANCE hInst, LPCWSTR name, UINT type, int cx, int cy,
                             UINT fuLoad) {
  return ::LoadImageW(hInst, name, type, cx, cy, fuLoad);
}

// Only in comctl32 version 6 and only when the process loaded it: looked up, never linked.
HRESULT CWin32Gdi::LoadIconWithScaleDown(HINSTANCE hInst, LPCWSTR name, int cx, int cy,
                                         HICON* phico) {
  HMODULE comctl = ::GetModuleHandleW(L"comctl32.dll");
  if (!comctl) return E_NOTIMPL;
  using Fn = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
  auto fn = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(::GetProcAddress(comctl, "LoadIconWithScaleDown")));
  if (!fn) return E_NOTIMPL;
  return fn(hInst, name, cx, cy, phico);
}

BOOL CWin32Gdi::DestroyIcon(HICON hIcon) { return ::DestroyIcon(hIcon); }

BOOL CWin32Gdi::GetIconInfo(HICON hIcon, ICONINFO* piconinfo) {
  return ::GetIconInfo(hIcon, piconinfo);
}

HICON CWin32Gdi::CreateIconIndirect(ICONINFO* piconinfo) { return ::CreateIconIndirect(piconinfo); }

int CWin32Gdi::GetObjectW(HANDLE h, int c, LPVOID pv) { return ::GetObjectW(h, c, pv); }

HBITMAP CWin32Gdi::CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits,
                                    HANDLE hSection, DWORD offset) {
  return ::CreateDIBSection(hdc, pbmi, usage, ppvBits, hSection, offset);
}

HBITMAP CWin32Gdi::CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount,
                                const void* lpBits) {
  return ::CreateBitmap(nWidth, nHeight, nPlanes, nBitCount, lpBits);
}

HDC CWin32Gdi::CreateCompatibleDC(HDC hdc) { return ::CreateCompatibleDC(hdc); }

HGDIOBJ CWin32Gdi::SelectObject(HDC hdc, HGDIOBJ h) { return ::SelectObject(hdc, h); }

BOOL CWin32Gdi::DeleteObject(HGDIOBJ ho) { return ::DeleteObject(ho); }

BOOL CWin32Gdi::DeleteDC(HDC hdc) { return ::DeleteDC(hdc); }

COLORREF CWin32Gdi::GetPixel(HDC hdc, int x, int y) { return ::GetPixel(hdc, x, y); }

HIMAGELIST CWin32Gdi::ImageList_Create(int cx, int cy, UINT flags, int cInitial, int cGrow) {
  return ::ImageList_Create(cx, cy, flags, cInitial, cGrow);
}

int CWin32Gdi::ImageList_Add(HIMAGELIST himl, HBITMAP hbmImage, HBITMAP hbmMask) {
  return ::ImageList_Add(himl, hbmImage, hbmMask);
}

BOOL CWin32Gdi::ImageList_Draw(HIMAGELIST himl, int i, HDC hdcDst, int x, int y, UINT fStyle) {
  return ::ImageList_Draw(himl, i, hdcDst, x, y, fStyle);
}

BOOL CWin32Gdi::ImageList_Destroy(HIMAGELIST himl) { return ::ImageList_Destroy(himl); }

HTHEME CWin32Gdi::OpenThemeData(HWND hwnd, LPCWSTR pszClassList) {
  return ::OpenThemeData(hwnd, pszClassList);
}

HRESULT CWin32Gdi::GetThemeColor(HTHEME hTheme, int iPartId, int iStateId, int iPropId,
                                 COLORREF* pColor) {
  return ::GetThemeColor(hTheme, iPartId, iStateId, iPropId, pColor);
}

HRESULT CWin32Gdi::CloseThemeData(HTHEME hTheme) { return ::CloseThemeData(hTheme); }

HRESULT CWin32Gdi::SetWindowTheme(HWND hwnd, LPCWSTR pszSubAppName, LPCWSTR pszSubIdList) {
  return ::SetWindowTheme(hwnd, pszSubAppName, pszSubIdList);
}

}  // namespace platform::win32

namespace platform::win32 {

int CWin32Gdi::SetStretchBltMode(HDC hdc, int mode) { return ::SetStretchBltMode(hdc, mode); }

BOOL CWin32Gdi::StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc,
                           int xSrc, int ySrc, int wSrc, int hSrc, DWORD rop) {
  return ::StretchBlt(hdcDest, xDest, yDest, wDest, hDest, hdcSrc, xSrc, ySrc, wSrc, hSrc, rop);
}

}  // namespace platform::win32
