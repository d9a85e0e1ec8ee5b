// How notifications reach the user on current Windows and come back to the agent:
//
//   - the toast utility library "VDWinRTUtils.dll" (found by name, the agent's folder first)
//     shows a toast and later calls the completion function exactly once, on a thread of
//     its own, with the context and the toast's result;
//   - the agent's toast activator class (a local server registered by the agent at start)
//     is called by the shell when the user clicks a toast, also from the action center;
//   - `IVDNXTrayNotifyCallback` tells a requester how its balloon or toast ended.
//
//   auto show = reinterpret_cast<PFN_WinRT_DisplayToast>(
//       modules.GetProcAddress(lib, kWinRTDisplayToastExport));
//   hr = show(id, title, text, nullptr, button, idText, flags, param, &Completion, item);
#pragma once

#include "platform/com.h"
#include "platform/win_types.h"

// ---- "VDWinRTUtils.dll" ----
inline constexpr const wchar_t* kVDWinRTUtilsLibrary = L"VDWinRTUtils.dll";
inline constexpr const char* kWinRTDisplayToastExport = "WinRT_DisplayToast";
// Toast results handed to the completion function; any other value means hidden.
inline constexpr INT32 kToastResultActivated = 0;
inline constexpr INT32 kToastResultTimedOut = 3;
inline constexpr INT32 kToastResultButton = 5;
using PFN_ToastCompletion = HRESULT(WINAPI*)(void* context, INT32 toastResult);
// Returns at once; on success `completion(context, result)` follows exactly once.
// `bstrButton` null: no action button. `bstrParam` null: no activation arguments.
using PFN_WinRT_DisplayToast = HRESULT(WINAPI*)(UINT32 id, BSTR bstrTitle, BSTR bstrMessage,
                                                void* reserved, BSTR bstrButton, BSTR bstrIdText,
                                                UINT32 flags, BSTR bstrParam,
                                                PFN_ToastCompletion completion, void* context);

// ---- The agent's toast activator ----
// The application user model id the toasts appear under, and the activator's class.
inline constexpr const wchar_t* kAgentAppUserModelId = L"Veridane.Dashboard";
inline constexpr GUID CLSID_ToastActivator = {
    0xA24611C3, 0xA363, 0x4950, {0xB9, 0x31, 0x72, 0x0A, 0x16, 0x18, 0xD9, 0x8A}};

// The shell's activation interface (notificationactivationcallback.h), declared here with
// its real IID so that both builds share it.
struct NOTIFICATION_USER_INPUT_DATA {
  LPCWSTR Key;
  LPCWSTR Value;
};
inline constexpr GUID IID_INotificationActivationCallback = {
    0x53E31837, 0x6600, 0x4A81, {0x93, 0x95, 0x75, 0xCF, 0xFE, 0x74, 0x6F, 0x94}};
struct INotificationActivationCallback : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Activate(LPCWSTR appUserModelId, LPCWSTR invokedArgs,
                                             const NOTIFICATION_USER_INPUT_DATA* data,
                                             ULONG count) = 0;

 protected:
  ~INotificationActivationCallback() = default;
};

// ---- How a notification ended, told to its requester ----
// Codes: NIN_BALLOONHIDE (1027), NIN_BALLOONTIMEOUT (1028), NIN_BALLOONUSERCLICK (1029), and
// kTrayNotifyToastButton for a toast's action button.
inline constexpr UINT kTrayNotifyToastButton = 0x20000;
inline constexpr GUID IID_IVDNXTrayNotifyCallback = {
    0xB181DFA3, 0x504E, 0x4878, {0x82, 0x44, 0x06, 0x89, 0x24, 0xF3, 0x71, 0x66}};
struct IVDNXTrayNotifyCallback : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE OnTrayNotify(UINT code, UINT id) = 0;

 protected:
  ~IVDNXTrayNotifyCallback() = default;
};
