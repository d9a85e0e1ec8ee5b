// How VDCardStandIn.exe reaches the stand-in card library in other processes: WM_COPYDATA to
// every window of class kCardDriverWindowClass, dwData the operation, the data the UTF-16 text
// "<reader>\0<card>" without a terminator (the card part may be absent or empty). The window
// answers 1 when the request was carried out, 0 when it was refused.
#pragma once

#include <windows.h>

namespace standin_win32 {

inline constexpr const wchar_t* kCardDriverWindowClass = L"VDSCStandInHost";
inline constexpr ULONG_PTR kCardOperationInsert = 1;
inline constexpr ULONG_PTR kCardOperationRemove = 2;
inline constexpr ULONG_PTR kCardOperationTap = 3;
inline constexpr ULONG_PTR kCardOperationPlug = 4;
inline constexpr ULONG_PTR kCardOperationUnplug = 5;

}  // namespace standin_win32
