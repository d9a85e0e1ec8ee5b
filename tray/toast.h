// Toasts: a notification request shown through the toast library "VDWinRTUtils.dll", and the
// item that waits for the library to say how the toast ended.
//
//   CToastEnvironment env{plat.Com(), library, [&](UINT id) { return strings.String(id); }};
//   CToastParameters request(L"Title", L"Text", 0x10000, L"ManageCredentials", 7, callback);
//   HRESULT hr = request.DisplayToast(env);   // window thread
//   ... later, on the library's thread: the callback hears 1029, 1028, 0x20000 or 1027 ...
//
// A request travels to the window thread through a CToastQueue: the queue holds the
// records, the window message that follows is only a wake-up and carries nothing, so a
// message forged by another process can never hand the window a pointer.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/com.h"
#include "support/delay_load.h"
#include "support/toast_contract.h"

// What displaying a toast needs: automation strings, the toast library (shared with every
// toast still on show, so it stays loaded while one is pending) and the resource texts.
struct CToastEnvironment {
  platform::ICom& com;
  std::shared_ptr<CDelayLoadLibrary> library;
  std::function<std::wstring(UINT)> strings;
};

class CToastParameters {
 public:
  static constexpr UINT kDefaultTitleString = 131;
  static constexpr UINT kButtonString = 620;
  static constexpr DWORD kButtonFlag = 0x20000;

  // Copies the strings; holds a counted reference on `callback` (null: nobody is told).
  CToastParameters(std::wstring title, std::wstring message, DWORD flags,
                   std::optional<std::wstring> param, UINT id, IUnknown* callback);

  // Window thread. Hands the toast to the library; on failure nobody is told.
  HRESULT DisplayToast(const CToastEnvironment& env) const;

  const std::wstring& Title() const { return m_title; }
  const std::wstring& Message() const { return m_message; }
  DWORD Flags() const { return m_flags; }
  const std::optional<std::wstring>& Param() const { return m_param; }
  UINT Id() const { return m_id; }
  IUnknown* Callback() const { return m_callback.get(); }

 private:
  std::wstring m_title;
  std::wstring m_message;
  DWORD m_flags;
  std::optional<std::wstring> m_param;
  UINT m_id;
  platform::ComPtr<IUnknown> m_callback;
};

// One toast on show. It belongs to the library from a successful display until the
// library's completion call, which tells the callback and deletes it.
class CToastItem {
 public:
  // Traces the request and keeps the id and a counted reference on the callback.
  CToastItem(const wchar_t* title, const wchar_t* message, DWORD flags, const wchar_t* param,
             UINT id, IUnknown* callback);
  CToastItem(const CToastItem&) = delete;
  CToastItem& operator=(const CToastItem&) = delete;

  // Calls WinRT_DisplayToast with `item` as the context. On success the item is the
  // library's (do not touch it afterwards: the completion may already have run); on
  // failure it is deleted here, its callback released. Raises nothing.
  static HRESULT Display(std::unique_ptr<CToastItem> item, const CToastEnvironment& env,
                         const wchar_t* title, const wchar_t* message, DWORD flags,
                         const wchar_t* param);

  // The library's completion function; any thread. Tells the callback, then deletes `item`.
  static HRESULT WINAPI ToastCallback(void* item, INT32 toastResult);
  // The code a requester hears for a toast result.
  static UINT CodeForResult(INT32 toastResult);
  // Takes the item's reference on the library; never unloads it on the library's thread.
  static void KeepLibraryPastItsCallback(std::shared_ptr<CDelayLoadLibrary> library);

 private:
  ~CToastItem() = default;
  friend struct std::default_delete<CToastItem>;

  UINT m_id;
  platform::ComPtr<IUnknown> m_callback;
  std::shared_ptr<CDelayLoadLibrary> m_library;  // kept loaded until the completion
};

// Requests on their way to the window thread. Push from any thread, Drain on the window's.
class CToastQueue {
 public:
  void Push(std::unique_ptr<CToastParameters> request);
  // Takes `request` back when it is still queued (its wake-up could not be posted).
  std::unique_ptr<CToastParameters> Withdraw(const CToastParameters* request);
  // Everything queued, oldest first, taken out in one go.
  std::deque<std::unique_ptr<CToastParameters>> TakeAll();
  size_t Size() const;

 private:
  mutable std::mutex m_lock;  // guards m_queue
  std::deque<std::unique_ptr<CToastParameters>> m_queue;
};
