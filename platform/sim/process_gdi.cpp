#include "platform/sim/process_gdi.h"

#include "platform/sim/machine.h"
#include "platform/sim/process_shell.h"
#include "platform/sim/process_ui.h"

namespace sim {

#pragma GCC diagnostic ignored "-Wunused-parameter"
// Not modelled yet: every call fails as an unavailable export would.
HANDLE ProcessGdi::LoadImageW(HINSTANCE hInst, LPCWSTR name, UINT type, int cx, int cy,
                              UINT fuLoad) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return nullptr;
}

HRESULT ProcessGdi::LoadIconWithScaleDown(HINSTANCE hInst, LPCWSTR name, int cx, int cy,
                                          HICON* phico) {
  return E_NOTIMPL;
}

BOOL ProcessGdi::DestroyIcon(HICON hIcon) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return 0;
}

BOOL ProcessGdi::GetIconInfo(HICON hIcon, ICONINFO* piconinfo) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return 0;
}

HICON ProcessGdi::CreateIconIndirect(ICONINFO* piconinfo) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return nullptr;
}

int ProcessGdi::GetObjectW(HANDLE h, int c, LPVOID pv) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return 0;
}

HBITMAP ProcessGdi::CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits,
                                     HANDLE hSection, DWORD offset) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return nullptr;
}

HBITMAP ProcessGdi::CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount,
                                 const void* lpBits) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return nullptr;
}

HDC ProcessGdi::CreateCompatibleDC(HDC hdc) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return nullptr;
}

HGDIOBJ ProcessGdi::SelectObject(HDC hdc, HGDIOBJ h) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return nullptr;
}

BOOL ProcessGdi::DeleteObject(HGDIOBJ ho) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return 0;
}

BOOL ProcessGdi::DeleteDC(HDC hdc) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return 0;
}

COLORREF ProcessGdi::GetPixel(HDC hdc, int x, int y) { return CLR_INVALID; }

HIMAGELIST ProcessGdi::ImageList_Create(int cx, int cy, UINT flags, int cInitial, int cGrow) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return nullptr;
}

int ProcessGdi::ImageList_Add(HIMAGELIST himl, HBITMAP hbmImage, HBITMAP hbmMask) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return -1;
}

BOOL ProcessGdi::ImageList_Draw(HIMAGELIST himl, int i, HDC hdcDst, int x, int y, UINT fStyle) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return 0;
}

BOOL ProcessGdi::ImageList_Destroy(HIMAGELIST himl) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return 0;
}

HTHEME ProcessGdi::OpenThemeData(HWND hwnd, LPCWSTR pszClassList) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return nullptr;
}

HRESULT ProcessGdi::GetThemeColor(HTHEME hTheme, int iPartId, int iStateId, int iPropId,
                                  COLORREF* pColor) {
  return E_NOTIMPL;
}

HRESULT ProcessGdi::CloseThemeData(HTHEME hTheme) { return E_NOTIMPL; }

HRESULT ProcessGdi::SetWindowTheme(HWND hwnd, LPCWSTR pszSubAppName, LPCWSTR pszSubIdList) {
  return E_NOTIMPL;
}

// The taskbar's look belongs with the drawing: colours and the taskbar's edge.
DWORD ProcessUi::GetSysColor(int) { return 0; }
UINT_PTR ProcessShell::SHAppBarMessage(DWORD, PAPPBARDATA) { return 0; }

}  // namespace sim
