// The main window's private messages and the registered messages it listens to.
#pragma once

#include "platform/win_types.h"

namespace core {

inline constexpr UINT WM_VD_TRAY_CALLBACK = WM_USER + 100;   // 0x0464, from the shell
inline constexpr UINT WM_VD_FINGERPRINT = WM_USER + 200;     // 0x04C8, reader events
inline constexpr UINT WM_VD_CARD = WM_USER + 300;            // 0x052C, card library events
inline constexpr UINT WM_VD_READY = WM_USER + 301;           // 0x052D, library ready (or failed)
inline constexpr UINT WM_VD_KWS = WM_USER + 400;             // 0x0590, password-manager replies
inline constexpr UINT WM_VD_POSTED_TASK = WM_USER + 500;     // 0x05F4, one per posted task
inline constexpr UINT WM_VD_SHOW_TOAST = WM_USER + 501;      // 0x05F5, wake-up only: the tray
                                                              // queue holds the toasts
inline constexpr UINT WM_VD_TOKEN_REPORT_FIRST = WM_USER + 600;  // 0x0658 .. 0x06BB
inline constexpr UINT WM_VD_TOKEN_REPORT_LAST = WM_USER + 699;
inline constexpr UINT WM_VD_USER_CHANGED = WM_USER + 700;    // 0x06BC
inline constexpr UINT WM_VD_POLICY_CHANGED = WM_USER + 800;  // 0x0720

// Window timers with identifiers from here up belong to the task queue.
inline constexpr UINT_PTR kFirstTaskTimerId = 9999;

// Window commands (low word of WM_COMMAND's wParam), sent by the tray menu.
inline constexpr WORD ID_APP_ABOUT = 0xE140;
inline constexpr WORD ID_HELP = 0xE146;
inline constexpr WORD ID_LOCK_WORKSTATION = 0x8007;
inline constexpr WORD ID_HIDE_TRAY_ICON = 0x8009;
inline constexpr WORD ID_OPEN_CONSOLE = 0x8014;

// Names other suite programs rely on.
inline constexpr const wchar_t* kAgentWindowClass = L"Veridane Classic5.x Agent Window Class";
inline constexpr const wchar_t* kAgentWindowTitle = L"Veridane Classic5.x Agent Window";
inline constexpr const wchar_t* kAgentInstanceMutex = L"Veridane Classic5.x Agent";
inline constexpr const wchar_t* kCommandMutex = L"Veridane Agent Command";
inline constexpr const wchar_t* kTaskbarClass = L"Shell_TrayWnd";

inline constexpr const wchar_t* kMsgVdnxBroadcast = L"VDNX_BROADCAST_NOTIFICATION";
inline constexpr const wchar_t* kMsgVdSettingsChanged = L"VdSettingsChanged";
inline constexpr const wchar_t* kMsgTaskbarCreated = L"TaskbarCreated";

// The plug-in framework's broadcast event that announces an identified kiosk user.
inline constexpr WPARAM kVdnxKioskUserIdentified = 8;

}  // namespace core
