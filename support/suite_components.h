// The calling contracts of the suite's closed components the agent loads besides the
// authentication library: the utility library's event sounds, the password manager's fill-in
// component and its process-wide COM object, and the fast-connect runner. Bindings and the
// stand-ins share these shapes.
//
//   auto play = reinterpret_cast<PFN_VDPlayEventSound>(modules.GetProcAddress(utils,
//                                                          kVDPlayEventSoundExport));
//   play(VD_SOUND_SUCCESS);
#pragma once

#include "platform/com.h"
#include "platform/win_types.h"

// ---- "VDNXUtils.dll" (system directory): event sounds ----
inline constexpr const wchar_t* kVDNXUtilsLibrary = L"VDNXUtils.dll";
inline constexpr const char* kVDPlayEventSoundExport = "VDPlayEventSound";
// Sound events: 1 success, 2 failure, 3 bad sample quality.
using PFN_VDPlayEventSound = HRESULT(WINAPI*)(DWORD dwEvent);

// ---- The fill-in component (path: default value of the plug-in key below) ----
inline constexpr const wchar_t* kVDKwsPluginKey =
    L"SOFTWARE\\Veridane\\Applications\\Agent\\PlugIns\\{3FDDA325-1EE7-4dc3-8A5C-6C60D3982A37}";
// Replies come back as this message to the window given at init (WM_USER + 400).
inline constexpr UINT kVDKwsReplyMessage = 1424;
using PFN_VDKWSInit = HRESULT(WINAPI*)(HWND hWnd, UINT uReplyMessage);
// dwParam carries the authentication handle for command 100, the quality code for 2.
using PFN_VDKWSCommand = HRESULT(WINAPI*)(DWORD dwCommand, ULONG_PTR dwParam, DWORD* pdwResult);
using PFN_VDKWSTerminate = void(WINAPI*)();

// ---- The password manager's process-wide object ----
// CLSID {FA676DEB-D10A-4D84-925D-66B4C232D571}, IID {9608D191-0626-46D8-B4FA-2CE785FA350F};
// an in-process server found under HKCR\CLSID\{clsid}\InprocServer32.
inline constexpr GUID CLSID_VDPasswordManager = {
    0xFA676DEB, 0xD10A, 0x4D84, {0x92, 0x5D, 0x66, 0xB4, 0xC2, 0x32, 0xD5, 0x71}};
inline constexpr GUID IID_IVDPasswordManager = {
    0x9608D191, 0x0626, 0x46D8, {0xB4, 0xFA, 0x2C, 0xE7, 0x85, 0xFA, 0x35, 0x0F}};
// Only positions 7 and 8 of the table are used; 3 to 6 belong to the password manager.
struct IVDPasswordManager : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved5() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved6() = 0;
  virtual HRESULT STDMETHODCALLTYPE ShowMiniDashboard(BYTE bTrained) = 0;
  virtual HRESULT STDMETHODCALLTYPE InitUserTrainingTool() = 0;

 protected:
  ~IVDPasswordManager() = default;
};

// ---- Fast connect (in the suite's binaries folder, "BinDir") ----
inline constexpr const wchar_t* kVDFastConnectDll = L"VDFstCon.dll";
inline constexpr const wchar_t* kVDRunDllExe = L"VDRunDll.exe";

// ---- "VdMiniOnlineIds.dll" (found by name): the password manager's quick links ----
inline constexpr const wchar_t* kVdMiniOnlineIdsLibrary = L"VdMiniOnlineIds.dll";
inline constexpr const char* kLaunchQuickLinkExport = "LaunchQuickLink";
// Opens the password-manager entry `bstrEntryId`; `number` is the entry's own.
using PFN_LaunchQuickLink = HRESULT(WINAPI*)(BSTR bstrEntryId, LONG number);
