// The Win32 names and values the logic uses.
//
// On Windows this is <windows.h>; elsewhere it declares the same names with the same
// values, so the logic reads the same on both and message numbers, result codes and
// registry constants are the real ones. Only what the logic needs is declared here: add a
// name when a caller needs it, with its real value.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <wtsapi32.h>
#include <shellapi.h>
#include <wincrypt.h>
#include <commctrl.h>
#include <uxtheme.h>
#include <shlwapi.h>
#ifndef E_ILLEGAL_METHOD_CALL
#define E_ILLEGAL_METHOD_CALL (static_cast<HRESULT>(0x8000000EL))
#endif
// <htmlhelp.h>'s command for showing a topic; the function is reached through IShell.
#ifndef HH_DISPLAY_TOPIC
#define HH_DISPLAY_TOPIC 0x0000u
#endif
#else

#include <cstddef>
#include <cstdint>

// ---- Basic types ------------------------------------------------------------------------
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using INT = int;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using DWORD64 = std::uint64_t;
using BOOL = int;
using BOOLEAN = BYTE;
using CHAR = char;
using WCHAR = wchar_t;
using ATOM = WORD;
using LONG_PTR = std::intptr_t;
using ULONG_PTR = std::uintptr_t;
using UINT_PTR = std::uintptr_t;
using INT_PTR = std::intptr_t;
using DWORD_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using HRESULT = std::int32_t;
using LSTATUS = LONG;
using REGSAM = DWORD;
using LPVOID = void*;
using PVOID = void*;
using LPCVOID = const void*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using PDWORD_PTR = DWORD_PTR*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using LPCWCH = const wchar_t*;
using HANDLE = void*;
using PHANDLE = HANDLE*;

#define VD_DECLARE_HANDLE(name) \
  struct name##__ {             \
    int unused;                 \
  };                            \
  using name = name##__*
VD_DECLARE_HANDLE(HWND);
VD_DECLARE_HANDLE(HKEY);
VD_DECLARE_HANDLE(HINSTANCE);
VD_DECLARE_HANDLE(HMENU);
VD_DECLARE_HANDLE(HICON);
VD_DECLARE_HANDLE(HBRUSH);
VD_DECLARE_HANDLE(HDC);
VD_DECLARE_HANDLE(HBITMAP);
VD_DECLARE_HANDLE(HDESK);
#undef VD_DECLARE_HANDLE
using HMODULE = HINSTANCE;
using HCURSOR = HICON;
using PHKEY = HKEY*;

#define TRUE 1
#define FALSE 0
#define CALLBACK
#define WINAPI
#define APIENTRY

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);
using WAITORTIMERCALLBACK = void (*)(PVOID, BOOLEAN);
using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID);
using FARPROC = LONG_PTR (*)();

struct POINT {
  LONG x;
  LONG y;
};
struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
using LPMSG = MSG*;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
};

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

struct WNDCLASSEXW {
  UINT cbSize;
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
  HICON hIconSm;
};

struct CREATESTRUCTW {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCWSTR lpszName;
  LPCWSTR lpszClass;
  DWORD dwExStyle;
};

struct OSVERSIONINFOEXW {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
};

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using REFGUID = const GUID&;
inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}

// ---- Macros -----------------------------------------------------------------------------
#define LOWORD(l) (static_cast<WORD>(static_cast<DWORD_PTR>(l) & 0xffff))
#define HIWORD(l) (static_cast<WORD>((static_cast<DWORD_PTR>(l) >> 16) & 0xffff))
#define MAKELONG(a, b) \
  (static_cast<LONG>(static_cast<WORD>(a) | (static_cast<DWORD>(static_cast<WORD>(b)) << 16)))
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(r) ((reinterpret_cast<ULONG_PTR>(r) >> 16) == 0)
#define HRESULT_FACILITY(hr) (((hr) >> 16) & 0x1fff)
#define HRESULT_CODE(hr) ((hr) & 0xFFFF)

inline constexpr HRESULT HRESULT_FROM_WIN32(unsigned long x) {
  return static_cast<HRESULT>(x) <= 0
             ? static_cast<HRESULT>(x)
             : static_cast<HRESULT>((x & 0x0000FFFF) | (7u << 16) | 0x80000000u);
}

// ---- Result codes -----------------------------------------------------------------------
#define S_OK (static_cast<HRESULT>(0L))
#define S_FALSE (static_cast<HRESULT>(1L))
#define E_NOTIMPL (static_cast<HRESULT>(0x80004001L))
#define E_NOINTERFACE (static_cast<HRESULT>(0x80004002L))
#define E_POINTER (static_cast<HRESULT>(0x80004003L))
#define E_ABORT (static_cast<HRESULT>(0x80004004L))
#define E_FAIL (static_cast<HRESULT>(0x80004005L))
#define E_UNEXPECTED (static_cast<HRESULT>(0x8000FFFFL))
#define E_ILLEGAL_METHOD_CALL (static_cast<HRESULT>(0x8000000EL))
#define E_ACCESSDENIED (static_cast<HRESULT>(0x80070005L))
#define E_HANDLE (static_cast<HRESULT>(0x80070006L))
#define E_OUTOFMEMORY (static_cast<HRESULT>(0x8007000EL))
#define E_INVALIDARG (static_cast<HRESULT>(0x80070057L))
#define RPC_E_CHANGED_MODE (static_cast<HRESULT>(0x80010106L))
#define CO_E_NOTINITIALIZED (static_cast<HRESULT>(0x800401F0L))

#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BROKEN_PIPE 109L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_SEM_TIMEOUT 121L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_IO_PENDING 997L
#define ERROR_KEY_DELETED 1018L
#define ERROR_NOT_FOUND 1168L
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_CLASS_ALREADY_EXISTS 1410L
#define ERROR_CLASS_DOES_NOT_EXIST 1411L
#define ERROR_CLASS_HAS_WINDOWS 1412L
#define ERROR_TIMEOUT 1460L
#define RPC_S_INVALID_BINDING 1702L
#define ERROR_IO_INCOMPLETE 996L

// ---- Registry -----------------------------------------------------------------------------
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000003u)))

#define REG_NONE 0ul
#define REG_SZ 1ul
#define REG_EXPAND_SZ 2ul
#define REG_BINARY 3ul
#define REG_DWORD 4ul
#define REG_MULTI_SZ 7ul
#define REG_QWORD 11ul

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_WOW64_64KEY 0x0100u
#define KEY_WOW64_32KEY 0x0200u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu
#define DELETE 0x00010000u

#define REG_OPTION_NON_VOLATILE 0x0u
#define REG_OPTION_VOLATILE 0x1u
#define REG_CREATED_NEW_KEY 1ul
#define REG_OPENED_EXISTING_KEY 2ul

#define REG_NOTIFY_CHANGE_NAME 0x1ul
#define REG_NOTIFY_CHANGE_ATTRIBUTES 0x2ul
#define REG_NOTIFY_CHANGE_LAST_SET 0x4ul
#define REG_NOTIFY_CHANGE_SECURITY 0x8ul

// ---- Kernel objects, waits, thread pool ---------------------------------------------------
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))
#define WT_EXECUTEDEFAULT 0x00000000u
#define WT_EXECUTEINWAITTHREAD 0x00000004u
#define WT_EXECUTEONLYONCE 0x00000008u
#define WT_EXECUTELONGFUNCTION 0x00000010u

// ---- Strings ------------------------------------------------------------------------------
#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3

// ---- Files --------------------------------------------------------------------------------
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_APPEND_DATA 0x0004u
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
#define FILE_SHARE_DELETE 0x4u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define MAX_PATH 260

// ---- Libraries ------------------------------------------------------------------------
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002u

// ---- Windows and messages -----------------------------------------------------------------
#define WM_NULL 0x0000u
#define WM_CREATE 0x0001u
#define WM_DESTROY 0x0002u
#define WM_PAINT 0x000Fu
#define WM_CLOSE 0x0010u
#define WM_QUERYENDSESSION 0x0011u
#define WM_QUIT 0x0012u
#define WM_SYSCOLORCHANGE 0x0015u
#define WM_ENDSESSION 0x0016u
#define WM_SETTINGCHANGE 0x001Au
#define WM_NCCREATE 0x0081u
#define WM_NCDESTROY 0x0082u
#define WM_NCMOUSEMOVE 0x00A0u
#define WM_COMMAND 0x0111u
#define WM_TIMER 0x0113u
#define WM_MOUSEMOVE 0x0200u
#define WM_WTSSESSION_CHANGE 0x02B1u
#define WM_HOTKEY 0x0312u
#define WM_THEMECHANGED 0x031Au
#define WM_USER 0x0400u
#define WM_APP 0x8000u

#define WS_POPUP 0x80000000u
#define WS_VISIBLE 0x10000000u
#define WS_DISABLED 0x08000000u
#define WS_CHILD 0x40000000u
#define WS_EX_TOOLWINDOW 0x00000080u
#define CW_USEDEFAULT (static_cast<int>(0x80000000u))
#define CS_VREDRAW 0x0001u
#define CS_HREDRAW 0x0002u
#define CS_DBLCLKS 0x0008u
#define COLOR_WINDOW 5
#define GWLP_WNDPROC (-4)
#define GWLP_USERDATA (-21)
#define HWND_BROADCAST (reinterpret_cast<HWND>(static_cast<LONG_PTR>(0xffff)))
#define HWND_MESSAGE (reinterpret_cast<HWND>(static_cast<LONG_PTR>(-3)))
#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u
#define QS_POSTMESSAGE 0x0008u
#define QS_TIMER 0x0010u
#define QS_SENDMESSAGE 0x0040u
#define QS_ALLPOSTMESSAGE 0x0100u
#define QS_ALLINPUT 0x04FFu
#define PM_QS_SENDMESSAGE (QS_SENDMESSAGE << 16)
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#define IDC_ARROW MAKEINTRESOURCEW(32512)
#define MB_OK 0x00000000u
#define MB_ICONINFORMATION 0x00000040u
#define IDOK 1
#define MSGFLT_ADD 1
#define MSGFLT_REMOVE 2
#define SMTO_NORMAL 0x0000u
#define SMTO_ABORTIFHUNG 0x0002u

#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CLEANBOOT 67
#define SM_REMOTESESSION 0x1000

// ---- Terminal services ----------------------------------------------------------------------
#define WTS_CONSOLE_CONNECT 0x1
#define WTS_CONSOLE_DISCONNECT 0x2
#define WTS_REMOTE_CONNECT 0x3
#define WTS_REMOTE_DISCONNECT 0x4
#define WTS_SESSION_LOGON 0x5
#define WTS_SESSION_LOGOFF 0x6
#define WTS_SESSION_LOCK 0x7
#define WTS_SESSION_UNLOCK 0x8
#define WTS_SESSION_REMOTE_CONTROL 0x9
#define NOTIFY_FOR_THIS_SESSION 0
#define NOTIFY_FOR_ALL_SESSIONS 1

// ---- COM ------------------------------------------------------------------------------------
#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2

// ---- Operating system versions ------------------------------------------------------------
#define VER_NT_WORKSTATION 0x1
#define VER_NT_DOMAIN_CONTROLLER 0x2
#define VER_NT_SERVER 0x3

// ---- Simulated kernel: errors, access rights and flags its callers see --------------------
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_BUFFER_OVERFLOW 111L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_DIRECTORY 267L
#define ERROR_NOT_OWNER 288L
#define ERROR_NOACCESS 998L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
#define ERROR_INVALID_CURSOR_HANDLE 1402L
#define SYNCHRONIZE 0x00100000u
#define MAXIMUM_ALLOWED 0x02000000u
#define GENERIC_ALL 0x10000000u
#define GENERIC_EXECUTE 0x20000000u
#define EVENT_MODIFY_STATE 0x0002u
#define EVENT_ALL_ACCESS 0x1F0003u
#define MUTEX_ALL_ACCESS 0x1F0001u
#define KEY_EXECUTE 0x20019u
#define REG_NOTIFY_THREAD_AGNOSTIC 0x10000000ul
#define FILE_READ_DATA 0x0001u
#define FILE_WRITE_DATA 0x0002u
#define FILE_ATTRIBUTE_READONLY 0x01u
#define FILE_ATTRIBUTE_ARCHIVE 0x20u
#define VER_PLATFORM_WIN32_NT 2
#define VER_SUITE_SINGLEUSERTS 0x0100u

// ---- Simulated windows and sessions: errors and flags their callers see ------------------
#define ERROR_TLW_WITH_WSCHILD 1406L
#define ERROR_CANNOT_FIND_WND_CLASS 1407L
#define ERROR_INVALID_INDEX 1413L
#define ERROR_INVALID_THREAD_ID 1444L
#define GWLP_HINSTANCE (-6)
#define GWLP_ID (-12)
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define USER_TIMER_MINIMUM 0x0000000Au
#define USER_TIMER_MAXIMUM 0x7FFFFFFFu
#define SMTO_BLOCK 0x0001u
#define ENDSESSION_LOGOFF 0x80000000u

// ---- Keyboard and hotkeys -----------------------------------------------------------------
using SHORT = std::int16_t;
#define MOD_ALT 0x0001u
#define MOD_CONTROL 0x0002u
#define MOD_SHIFT 0x0004u
#define MOD_WIN 0x0008u
#define MOD_NOREPEAT 0x4000u
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_LWIN 0x5B
#define VK_RWIN 0x5C
#define VK_LSHIFT 0xA0
#define VK_RSHIFT 0xA1
#define VK_LCONTROL 0xA2
#define VK_RCONTROL 0xA3
#define VK_LMENU 0xA4
#define VK_RMENU 0xA5
#define ERROR_HOTKEY_ALREADY_REGISTERED 1409L
#define ERROR_HOTKEY_NOT_REGISTERED 1419L
#define SPI_GETSCREENSAVERRUNNING 0x0072u
#define BSF_IGNORECURRENTTASK 0x00000002u
#define BSF_POSTMESSAGE 0x00000010u
#define BSM_ALLCOMPONENTS 0x00000000u
#define BSM_APPLICATIONS 0x00000008u

// ---- Processes and files ------------------------------------------------------------------
struct STARTUPINFOW {
  DWORD cb;
  LPWSTR lpReserved;
  LPWSTR lpDesktop;
  LPWSTR lpTitle;
  DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute, dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput, hStdOutput, hStdError;
};
using LPSTARTUPINFOW = STARTUPINFOW*;
struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;
#define CREATE_UNICODE_ENVIRONMENT 0x00000400u
#define NORMAL_PRIORITY_CLASS 0x00000020u
#define STILL_ACTIVE 259
#define ERROR_BAD_EXE_FORMAT 193L
#define ERROR_REQUEST_ABORTED 1235L
using LPBOOL = BOOL*;
using PBOOL = BOOL*;
using LPPROGRESS_ROUTINE = DWORD (*)(LARGE_INTEGER TotalFileSize,
                                     LARGE_INTEGER TotalBytesTransferred,
                                     LARGE_INTEGER StreamSize,
                                     LARGE_INTEGER StreamBytesTransferred, DWORD dwStreamNumber,
                                     DWORD dwCallbackReason, HANDLE hSourceFile,
                                     HANDLE hDestinationFile, LPVOID lpData);
#define PROGRESS_CONTINUE 0
#define PROGRESS_CANCEL 1
#define PROGRESS_STOP 2
#define PROGRESS_QUIET 3
#define CALLBACK_CHUNK_FINISHED 0x0
#define CALLBACK_STREAM_SWITCH 0x1
#define COPY_FILE_FAIL_IF_EXISTS 0x00000001u
#define MOVEFILE_REPLACE_EXISTING 0x00000001u
#define MOVEFILE_COPY_ALLOWED 0x00000002u
enum COMPUTER_NAME_FORMAT {
  ComputerNameNetBIOS,
  ComputerNameDnsHostname,
  ComputerNameDnsDomain,
  ComputerNameDnsFullyQualified,
  ComputerNamePhysicalNetBIOS,
  ComputerNamePhysicalDnsHostname,
  ComputerNamePhysicalDnsDomain,
  ComputerNamePhysicalDnsFullyQualified,
  ComputerNameMax
};

// ---- Security identifiers -----------------------------------------------------------------
using PSID = void*;
enum WELL_KNOWN_SID_TYPE {
  WinLocalSystemSid = 22,
  WinBuiltinAdministratorsSid = 26,
};
#define SECURITY_MAX_SID_SIZE 68

// ---- Certificate encoding (CRYPT32) ---------------------------------------------------------
struct CRYPT_INTEGER_BLOB {
  DWORD cbData;
  BYTE* pbData;
};
using CRYPT_UINT_BLOB = CRYPT_INTEGER_BLOB;
using CRYPT_DER_BLOB = CRYPT_INTEGER_BLOB;
using CRYPT_DATA_BLOB = CRYPT_INTEGER_BLOB;
using PCRYPT_DER_BLOB = CRYPT_DER_BLOB*;
struct CRYPT_SEQUENCE_OF_ANY {
  DWORD cValue;
  PCRYPT_DER_BLOB rgValue;
};
struct CERT_NAME_VALUE {
  DWORD dwValueType;
  CRYPT_DATA_BLOB Value;
};
#define X509_ASN_ENCODING 0x00000001u
#define PKCS_7_ASN_ENCODING 0x00010000u
#define X509_ANY_STRING (reinterpret_cast<LPCSTR>(6))
#define X509_OCTET_STRING (reinterpret_cast<LPCSTR>(25))
#define X509_MULTI_BYTE_INTEGER (reinterpret_cast<LPCSTR>(28))
#define X509_SEQUENCE_OF_ANY (reinterpret_cast<LPCSTR>(34))
#define X509_MULTI_BYTE_UINT (reinterpret_cast<LPCSTR>(38))
#define CERT_RDN_UNICODE_STRING 12
#define CRYPT_DECODE_NOCOPY_FLAG 0x1u
#define CRYPT_E_ASN1_EOD (static_cast<HRESULT>(0x80093102L))
#define CRYPT_E_ASN1_CORRUPT (static_cast<HRESULT>(0x80093103L))
#define CRYPT_E_ASN1_LARGE (static_cast<HRESULT>(0x80093104L))
#define CRYPT_E_ASN1_BADTAG (static_cast<HRESULT>(0x8009310BL))
#define ERROR_FILE_EXISTS 80L

// ---- Shell ----------------------------------------------------------------------------------
struct SHELLEXECUTEINFOW {
  DWORD cbSize;
  ULONG fMask;
  HWND hwnd;
  LPCWSTR lpVerb;
  LPCWSTR lpFile;
  LPCWSTR lpParameters;
  LPCWSTR lpDirectory;
  int nShow;
  HINSTANCE hInstApp;  // > 32 on success, an SE_ERR_ code on failure
  void* lpIDList;
  LPCWSTR lpClass;
  HKEY hkeyClass;
  DWORD dwHotKey;
  union {
    HANDLE hIcon;
    HANDLE hMonitor;
  };
  HANDLE hProcess;
};
using LPSHELLEXECUTEINFOW = SHELLEXECUTEINFOW*;
#define SEE_MASK_DEFAULT 0x00000000u
#define SEE_MASK_NOCLOSEPROCESS 0x00000040u
#define SEE_MASK_NOASYNC 0x00000100u
#define SEE_MASK_DOENVSUBST 0x00000200u
#define SEE_MASK_FLAG_NO_UI 0x00000400u
#define SEE_MASK_UNICODE 0x00004000u
#define SE_ERR_FNF 2
#define SE_ERR_PNF 3
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_NOASSOC 31
#define ERROR_NO_ASSOCIATION 1155L

// ---- Mouse, menus and desktops (USER32) ---------------------------------------------------
using LPPOINT = POINT*;
using ACCESS_MASK = DWORD;
#define WM_CANCELMODE 0x001Fu
#define WM_SETFOCUS 0x0007u
#define WM_KEYDOWN 0x0100u
#define WM_CONTEXTMENU 0x007Bu
#define WM_LBUTTONDOWN 0x0201u
#define WM_LBUTTONUP 0x0202u
#define WM_LBUTTONDBLCLK 0x0203u
#define WM_RBUTTONDOWN 0x0204u
#define WM_RBUTTONUP 0x0205u
#define VK_ESCAPE 0x1B
#define MF_STRING 0x00000000u
#define MF_BYCOMMAND 0x00000000u
#define MF_GRAYED 0x00000001u
#define MF_DISABLED 0x00000002u
#define MF_CHECKED 0x00000008u
#define MF_POPUP 0x00000010u
#define MF_BYPOSITION 0x00000400u
#define MF_SEPARATOR 0x00000800u
#define TPM_LEFTALIGN 0x0000u
#define TPM_RIGHTBUTTON 0x0002u
#define TPM_RIGHTALIGN 0x0008u
#define TPM_NONOTIFY 0x0080u
#define TPM_RETURNCMD 0x0100u
#define ERROR_INVALID_MENU_HANDLE 1401L
#define ERROR_MENU_ITEM_NOT_FOUND 1456L
#define ERROR_POPUP_ALREADY_ACTIVE 1446L
#define DESKTOP_READOBJECTS 0x0001u
#define DESKTOP_SWITCHDESKTOP 0x0100u
#define SM_CXSMICON 49
#define SM_CYSMICON 50
#define COLOR_3DFACE 15
#define COLOR_BTNFACE 15

// ---- GDI: colours, bitmaps, icons -----------------------------------------------------------
using HGDIOBJ = void*;
using COLORREF = DWORD;
#define RGB(r, g, b)                                                                   \
  (static_cast<COLORREF>(static_cast<BYTE>(r) | (static_cast<WORD>(static_cast<BYTE>(g)) << 8) | \
                         (static_cast<DWORD>(static_cast<BYTE>(b)) << 16)))
#define GetRValue(rgb) (static_cast<BYTE>(rgb))
#define GetGValue(rgb) (static_cast<BYTE>((static_cast<WORD>(rgb)) >> 8))
#define GetBValue(rgb) (static_cast<BYTE>((rgb) >> 16))
#define CLR_INVALID 0xFFFFFFFFu
struct ICONINFO {
  BOOL fIcon;
  DWORD xHotspot;
  DWORD yHotspot;
  HBITMAP hbmMask;
  HBITMAP hbmColor;
};
using PICONINFO = ICONINFO*;
struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
};
struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};
struct CIEXYZ {
  LONG ciexyzX, ciexyzY, ciexyzZ;
};
struct CIEXYZTRIPLE {
  CIEXYZ ciexyzRed, ciexyzGreen, ciexyzBlue;
};
struct BITMAPV5HEADER {
  DWORD bV5Size;
  LONG bV5Width;
  LONG bV5Height;
  WORD bV5Planes;
  WORD bV5BitCount;
  DWORD bV5Compression;
  DWORD bV5SizeImage;
  LONG bV5XPelsPerMeter;
  LONG bV5YPelsPerMeter;
  DWORD bV5ClrUsed;
  DWORD bV5ClrImportant;
  DWORD bV5RedMask;
  DWORD bV5GreenMask;
  DWORD bV5BlueMask;
  DWORD bV5AlphaMask;
  DWORD bV5CSType;
  CIEXYZTRIPLE bV5Endpoints;
  DWORD bV5GammaRed;
  DWORD bV5GammaGreen;
  DWORD bV5GammaBlue;
  DWORD bV5Intent;
  DWORD bV5ProfileData;
  DWORD bV5ProfileSize;
  DWORD bV5Reserved;
};
#define BI_RGB 0u
#define BI_BITFIELDS 3u
#define DIB_RGB_COLORS 0u
#define IMAGE_BITMAP 0u
#define IMAGE_ICON 1u
#define LR_DEFAULTCOLOR 0x0000u
#define LR_SHARED 0x8000u

// ---- Image lists (COMCTL32) and visual styles (UXTHEME) -----------------------------------
struct _IMAGELIST;
using HIMAGELIST = _IMAGELIST*;
#define ILC_MASK 0x0001u
#define ILC_COLOR24 0x0018u
#define ILC_COLOR32 0x0020u
#define ILD_NORMAL 0x0000u
using HTHEME = HANDLE;
#define TMT_FILLCOLORHINT 3821

// ---- Notification area and app bars (SHELL32) ---------------------------------------------
struct NOTIFYICONDATAW {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  WCHAR szTip[128];
  DWORD dwState;
  DWORD dwStateMask;
  WCHAR szInfo[256];
  union {
    UINT uTimeout;
    UINT uVersion;
  };
  WCHAR szInfoTitle[64];
  DWORD dwInfoFlags;
  GUID guidItem;
  HICON hBalloonIcon;
};
using PNOTIFYICONDATAW = NOTIFYICONDATAW*;
#define NIM_ADD 0x00000000u
#define NIM_MODIFY 0x00000001u
#define NIM_DELETE 0x00000002u
#define NIM_SETFOCUS 0x00000003u
#define NIM_SETVERSION 0x00000004u
#define NIF_MESSAGE 0x00000001u
#define NIF_ICON 0x00000002u
#define NIF_TIP 0x00000004u
#define NIF_STATE 0x00000008u
#define NIF_INFO 0x00000010u
#define NIIF_NONE 0x00000000u
#define NIIF_INFO 0x00000001u
#define NIIF_WARNING 0x00000002u
#define NIIF_ERROR 0x00000003u
#define NIIF_USER 0x00000004u
#define NIIF_NOSOUND 0x00000010u
#define NOTIFYICON_VERSION 3
#define NIN_SELECT (WM_USER + 0)
#define NIN_KEYSELECT (WM_USER + 1)
#define NIN_BALLOONSHOW (WM_USER + 2)
#define NIN_BALLOONHIDE (WM_USER + 3)
#define NIN_BALLOONTIMEOUT (WM_USER + 4)
#define NIN_BALLOONUSERCLICK (WM_USER + 5)
struct APPBARDATA {
  DWORD cbSize;
  HWND hWnd;
  UINT uCallbackMessage;
  UINT uEdge;
  RECT rc;
  LPARAM lParam;
};
using PAPPBARDATA = APPBARDATA*;
#define ABM_GETTASKBARPOS 0x00000005u
#define ABE_LEFT 0
#define ABE_TOP 1
#define ABE_RIGHT 2
#define ABE_BOTTOM 3

// ---- Dialogs, associations, locales ---------------------------------------------------------
using PCWSTR = const wchar_t*;
using LCID = DWORD;
using INT32 = std::int32_t;
using UINT32 = std::uint32_t;
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);
#define LOCALE_USER_DEFAULT 0x0400
#define WM_INITDIALOG 0x0110u
#define BM_CLICK 0x00F5u
#define IDCANCEL 2
#define BST_UNCHECKED 0x0000u
#define BST_CHECKED 0x0001u
#define ERROR_CONTROL_ID_NOT_FOUND 1421L
#define BM_GETCHECK 0x00F0u
#define BM_SETCHECK 0x00F1u
#define BN_CLICKED 0
#define WM_SETTEXT 0x000Cu
#define WM_GETTEXT 0x000Du
#define WM_GETTEXTLENGTH 0x000Eu
#define MAKEWPARAM(l, h) \
  static_cast<WPARAM>((static_cast<DWORD>(static_cast<WORD>(l)) | \
                       (static_cast<DWORD>(static_cast<WORD>(h)) << 16)))
using ASSOCF = DWORD;
#define ASSOCF_NOTRUNCATE 0x00000020u
enum ASSOCSTR { ASSOCSTR_COMMAND = 1, ASSOCSTR_EXECUTABLE = 2 };
// SHQueryUserNotificationState (Shell32, looked up by name).
enum QUERY_USER_NOTIFICATION_STATE {
  QUNS_NOT_PRESENT = 1,
  QUNS_BUSY = 2,
  QUNS_RUNNING_D3D_FULL_SCREEN = 3,
  QUNS_PRESENTATION_MODE = 4,
  QUNS_ACCEPTS_NOTIFICATIONS = 5,
  QUNS_QUIET_TIME = 6,
  QUNS_APP = 7
};


// ---- Mailslots and overlapped reads -----------------------------------------------------------
struct OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  union {
    struct {
      DWORD Offset;
      DWORD OffsetHigh;
    };
    PVOID Pointer;
  };
  HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;
#define MAILSLOT_WAIT_FOREVER (static_cast<DWORD>(-1))
#define MAILSLOT_NO_MESSAGE (static_cast<DWORD>(-1))
#ifndef ERROR_IO_PENDING
#define ERROR_IO_PENDING 997L
#endif
#define ERROR_IO_INCOMPLETE 996L
#define ERROR_OPERATION_ABORTED 995L
#define ERROR_BROKEN_PIPE 109L
#define ERROR_SEM_TIMEOUT 121L
#define ERROR_DIR_NOT_EMPTY 145L


// ---- Layered windows, window position, capture, tooltips ----------------------------------
struct SIZE {
  LONG cx;
  LONG cy;
};
using LPRECT = RECT*;
struct BLENDFUNCTION {
  BYTE BlendOp;
  BYTE BlendFlags;
  BYTE SourceConstantAlpha;
  BYTE AlphaFormat;
};
#define AC_SRC_OVER 0x00
#define AC_SRC_ALPHA 0x01
#define ULW_ALPHA 0x00000002u
#define WS_EX_LAYERED 0x00080000u
#define WS_EX_TOPMOST 0x00000008u
#define HWND_TOPMOST (reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1)))
#define HWND_NOTOPMOST (reinterpret_cast<HWND>(static_cast<LONG_PTR>(-2)))
#define SWP_NOSIZE 0x0001u
#define SWP_NOMOVE 0x0002u
#define SWP_NOZORDER 0x0004u
#define SWP_NOACTIVATE 0x0010u
#define SWP_SHOWWINDOW 0x0040u
#define COLORONCOLOR 3
#define SRCCOPY 0x00CC0020u
#define WM_CAPTURECHANGED 0x0215u
struct INITCOMMONCONTROLSEX {
  DWORD dwSize;
  DWORD dwICC;
};
#define ICC_WIN95_CLASSES 0x000000FFu
#define ICC_BAR_CLASSES 0x00000004u
#define ICC_LINK_CLASS 0x00008000u
// A common control's notification (WM_NOTIFY); a link control's click carries an NMLINK.
#define WM_NOTIFY 0x004Eu
struct NMHDR {
  HWND hwndFrom;
  UINT_PTR idFrom;
  UINT code;
};
using LPNMHDR = NMHDR*;
#define NM_CLICK (0u - 2u)
#define NM_RETURN (0u - 4u)
#define MAX_LINKID_TEXT 48
#define L_MAX_URL_LENGTH (2048 + 32 + 4)
struct LITEM {
  UINT mask;
  int iLink;
  UINT state;
  UINT stateMask;
  WCHAR szID[MAX_LINKID_TEXT];
  WCHAR szUrl[L_MAX_URL_LENGTH];
};
struct NMLINK {
  NMHDR hdr;
  LITEM item;
};
using PNMLINK = NMLINK*;


// ---- Known folders, shell links, help -------------------------------------------------------
using PWSTR = wchar_t*;
using PZZWSTR = wchar_t*;
using PULONG = ULONG*;
using KNOWNFOLDERID = GUID;
using REFKNOWNFOLDERID = const KNOWNFOLDERID&;
#define KF_FLAG_DEFAULT 0x00000000u
#define ERROR_FILENAME_EXCED_RANGE 206L
#define KF_FLAG_DONT_VERIFY 0x00004000u
#define KF_FLAG_CREATE 0x00008000u
#define MUI_LANGUAGE_NAME 0x8u
#define HH_DISPLAY_TOPIC 0x0000u


// ---- The avatar: work area, full-screen size, bitmap resources, tooltips, mouse ----------
#define SPI_GETWORKAREA 0x0030u
#define MAKELPARAM(l, h) (static_cast<LPARAM>(static_cast<DWORD>(MAKELONG(l, h))))
#define SM_CXFULLSCREEN 16
#define SM_CYFULLSCREEN 17
#define LR_CREATEDIBSECTION 0x2000u
#define RT_BITMAP MAKEINTRESOURCEW(2)
#define MK_LBUTTON 0x0001u
#define SW_SHOWNA 8
#define TOOLTIPS_CLASSW L"tooltips_class32"
#define ICC_TREEVIEW_CLASSES 0x00000002u
#define TTS_ALWAYSTIP 0x01u
#define TTS_NOPREFIX 0x02u
#define TTS_BALLOON 0x40u
#define TTF_TRACK 0x0020u
#define TTF_ABSOLUTE 0x0080u
#define TTI_INFO 1
#define TTM_TRACKACTIVATE (WM_USER + 17)
#define TTM_TRACKPOSITION (WM_USER + 18)
#define TTM_SETMAXTIPWIDTH (WM_USER + 24)
#define TTM_ADDTOOLW (WM_USER + 50)
#define TTM_DELTOOLW (WM_USER + 51)
#define TTM_UPDATETIPTEXTW (WM_USER + 57)
#define TTM_SETTITLEW (WM_USER + 33)
struct TOOLINFOW {
  UINT cbSize;
  UINT uFlags;
  HWND hwnd;
  UINT_PTR uId;
  RECT rect;
  HINSTANCE hinst;
  LPWSTR lpszText;
  LPARAM lParam;
  void* lpReserved;
};
using LPTOOLINFOW = TOOLINFOW*;
// The record before Windows 6.0: without lpReserved.
#define TTTOOLINFOW_V2_SIZE offsetof(TOOLINFOW, lpReserved)

#endif  // _WIN32
