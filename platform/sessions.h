// Terminal services (WTSAPI32) and session identity.
//
// A window registered with WTSRegisterSessionNotification receives WM_WTSSESSION_CHANGE
// (wParam: WTS_SESSION_LOCK, WTS_SESSION_LOGOFF, ...; lParam: the session id).
#pragma once

#include "platform/win_types.h"

#ifndef _WIN32
// Session enumeration records (<wtsapi32.h> on Windows).
enum WTS_CONNECTSTATE_CLASS {
  WTSActive,
  WTSConnected,
  WTSConnectQuery,
  WTSShadow,
  WTSDisconnected,
  WTSIdle,
  WTSListen,
  WTSReset,
  WTSDown,
  WTSInit,
};
struct WTS_SESSION_INFOW {
  DWORD SessionId;
  LPWSTR pWinStationName;
  WTS_CONNECTSTATE_CLASS State;
};
using PWTS_SESSION_INFOW = WTS_SESSION_INFOW*;
#define WTS_CURRENT_SERVER_HANDLE (static_cast<HANDLE>(nullptr))
#define WTS_CURRENT_SESSION (static_cast<DWORD>(-1))
#endif

#ifdef _WIN32
#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <security.h>
#else
// Secur32's name forms (the values of secext.h).
enum EXTENDED_NAME_FORMAT {
  NameUnknown = 0,
  NameFullyQualifiedDN = 1,
  NameSamCompatible = 2,
  NameDisplay = 3,
  NameUniqueId = 6,
  NameCanonical = 7,
  NameUserPrincipal = 8,
};
using PULONG = ULONG*;
#define ERROR_NONE_MAPPED 1332L
#endif

namespace platform {

class ISessions {
 public:
  virtual ~ISessions() = default;

  virtual BOOL WTSRegisterSessionNotification(HWND hWnd, DWORD dwFlags) = 0;
  virtual BOOL WTSUnRegisterSessionNotification(HWND hWnd) = 0;
  virtual BOOL ProcessIdToSessionId(DWORD dwProcessId, DWORD* pSessionId) = 0;
  // 0xFFFFFFFF when no session is attached to the console.
  virtual DWORD WTSGetActiveConsoleSessionId() = 0;

  // The calling process's user (Secur32). A null buffer or one too small gives FALSE with
  // ERROR_MORE_DATA and *nSize the characters needed, terminator included; success gives
  // the length without it. A form the account does not have: FALSE, ERROR_NONE_MAPPED.
  virtual BOOLEAN GetUserNameExW(EXTENDED_NAME_FORMAT NameFormat, LPWSTR lpNameBuffer,
                                 PULONG nSize) = 0;

  // The sessions of a terminal server (WTS_CURRENT_SERVER_HANDLE: this machine); Reserved
  // must be 0 and Version 1. The array is released with WTSFreeMemory.
  virtual BOOL WTSEnumerateSessionsW(HANDLE hServer, DWORD Reserved, DWORD Version,
                                     PWTS_SESSION_INFOW* ppSessionInfo, DWORD* pCount) = 0;
  virtual void WTSFreeMemory(PVOID pMemory) = 0;
  // Disconnects a session (WTS_CURRENT_SESSION: the caller's) from its terminal; the user
  // stays logged on and the session can be connected again, as fast user switching does.
  virtual BOOL WTSDisconnectSession(HANDLE hServer, DWORD SessionId, BOOL bWait) = 0;
  // For a handle from WTSOpenServer; never for WTS_CURRENT_SERVER_HANDLE.
  virtual void WTSCloseServer(HANDLE hServer) = 0;
};

}  // namespace platform
