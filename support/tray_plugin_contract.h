// The COM contract between the agent and the suite's tray plug-ins.
//
// The agent offers two faces to every plug-in it loads:
//   IVDNXTrayNotify   - show a notification from the tray icon;
//   IVDNXPluginHost   - open the console.
// A plug-in object answers one or more of the roles below to QueryInterface:
//   IVDNXTrayMenuPlugin  - adds items to the tray menu and runs them;
//   IVDNXHostAwarePlugin - is handed the IVDNXTrayNotify face once, after creation;
//   IVDNXTraySubscriber  - subscribes with the IVDNXTrayNotify face and is kept while it does.
//
// Strings handed to the agent may be null; the agent reads them as empty.
#pragma once

#include "platform/com.h"
#include "platform/win_types.h"
#include "support/toast_contract.h"

inline constexpr IID IID_IVDNXTrayNotify = {
    0xFA30102D, 0x81BB, 0x427C, {0x8A, 0x78, 0x16, 0xF5, 0xCE, 0x84, 0xFD, 0x9B}};
inline constexpr IID IID_IVDNXPluginHost = {
    0x58A9FD28, 0x07BC, 0x4D41, {0xBE, 0x7C, 0x21, 0x2B, 0x01, 0xD5, 0x1C, 0x86}};
inline constexpr IID IID_IVDNXTrayMenuPlugin = {
    0xCB4C2EA5, 0x9362, 0x4396, {0x99, 0x0E, 0xD4, 0x5C, 0x82, 0xE2, 0xFF, 0x43}};
inline constexpr IID IID_IVDNXHostAwarePlugin = {
    0x6F84CB9B, 0x38F6, 0x4435, {0x9A, 0x33, 0x1B, 0x07, 0x8B, 0x56, 0xBE, 0x9A}};
inline constexpr IID IID_IVDNXTraySubscriber = {
    0xEE919550, 0x8B02, 0x40BB, {0x82, 0x5E, 0xF6, 0xAD, 0x17, 0x33, 0xE3, 0xF3}};

// Bit of ShowNotification's flags: do not show during the user's quiet time.
inline constexpr DWORD kTrayNotifyNotInQuietTime = 0x80;

struct IVDNXTrayNotify : IUnknown {
  // Any thread. E_ACCESSDENIED when kTrayNotifyNotInQuietTime is set in quiet time.
  virtual HRESULT STDMETHODCALLTYPE ShowNotification(LPCWSTR title, LPCWSTR message, DWORD flags,
                                                     DWORD id,
                                                     IVDNXTrayNotifyCallback* callback) = 0;

 protected:
  ~IVDNXTrayNotify() = default;
};

struct IVDNXPluginHost : IUnknown {
  // Any thread. Application id 0xFFFF is refused with HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED).
  virtual HRESULT STDMETHODCALLTYPE OpenConsole(WORD appId, LPCWSTR command, DWORD reserved,
                                                LPCWSTR parameters) = 0;

 protected:
  ~IVDNXPluginHost() = default;
};

struct IVDNXTrayMenuPlugin : IUnknown {
  // Appends the plug-in's items to `menu` with ids from `firstId` upward; `*count` says how
  // many ids it used.
  virtual HRESULT STDMETHODCALLTYPE AddMenuItems(HMENU menu, UINT firstId, UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE ExecuteMenuItem(UINT id) = 0;

 protected:
  ~IVDNXTrayMenuPlugin() = default;
};

struct IVDNXHostAwarePlugin : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetHost(IVDNXTrayNotify* host) = 0;

 protected:
  ~IVDNXHostAwarePlugin() = default;
};

struct IVDNXTraySubscriber : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Subscribe(IVDNXTrayNotify* host) = 0;

 protected:
  ~IVDNXTraySubscriber() = default;
};
