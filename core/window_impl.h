// A window implementation with a message map, in the manner of ATL's CWindowImpl, over the
// platform's user-interface operations.
//
//   class CMyWindow : public CWindowImpl<CMyWindow> {
//    public:
//     BOOL ProcessWindowMessage(HWND, UINT, WPARAM, LPARAM, LRESULT& result);
//   };
//   CMyWindow w(ui);  w.Create(hInstance, L"Class", L"Title", WS_POPUP, WS_EX_TOOLWINDOW);
//
// The window procedure finds its object through a table from window handle to object,
// filled at WM_NCCREATE from the creation parameter: the job ATL's thunks do, without
// executable memory. The table spans the simulated processes of one test binary, which is
// safe because window handles are unique machine-wide.
#pragma once

#include <mutex>
#include <unordered_map>

#include "platform/ui.h"

namespace core {

class CWindowBase {
 public:
  explicit CWindowBase(platform::IUi& ui) : m_ui(ui) {}
  virtual ~CWindowBase() = default;
  CWindowBase(const CWindowBase&) = delete;
  CWindowBase& operator=(const CWindowBase&) = delete;

  HWND m_hWnd = nullptr;

  platform::IUi& Ui() const { return m_ui; }
  // Registers the class on first use (an existing class of that name is fine).
  bool RegisterClassOnce(HINSTANCE hInstance, LPCWSTR className, UINT style, HBRUSH background);
  HWND Create(HINSTANCE hInstance, LPCWSTR className, LPCWSTR title, DWORD style, DWORD exStyle,
              HWND parent = nullptr);
  BOOL DestroyWindow();

  // The message map. Returns TRUE when the message was handled, with its result in `result`.
  virtual BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam,
                                    LRESULT& result) = 0;
  // Called after WM_NCDESTROY, when the handle is gone.
  virtual void OnFinalMessage(HWND) {}

  static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

 private:
  static CWindowBase* Lookup(HWND hWnd);
  static void Bind(HWND hWnd, CWindowBase* w);
  static void Unbind(HWND hWnd);

  platform::IUi& m_ui;
};

template <class T>
class CWindowImpl : public CWindowBase {
 public:
  using CWindowBase::CWindowBase;
};

}  // namespace core
