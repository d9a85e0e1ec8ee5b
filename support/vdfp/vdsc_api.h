// The calling contract of the suite's smart-card library "VDSCApi.dll" (system directory):
// readers, the card in each, and identification and authentication by card. The binding in
// the agent and the stand-in library share these shapes.
//
//   VDSC_INIT init{VDSC_INIT_VERSION, hWnd, 0x52C, VDSC_INIT_EVENTS};
//   init_fn(&init);                        // events arrive as message 0x52C
//   ... wParam: VDSC_EVENT_*, lParam: const wchar_t* reader name, valid during the message
//
// Strings the library returns are automation strings (BSTR) the caller frees with
// SysFreeString, also when the call failed.
#pragma once

#include "platform/com.h"
#include "platform/win_types.h"
#include "support/vdfp/vdfpapi_types.h"

inline constexpr const wchar_t* kVDSCApiLibrary = L"VDSCApi.dll";

// Every entry point, in the order the binding resolves them.
inline constexpr const char* kVDSCApiExports[] = {
    "VDSCGetEnrolledCards",
    "VDSCSetTokenNickname",
    "VDSCDeleteToken",
    "VDSCInit",
    "VDSCTerm",
    "VDSCSubscribe",
    "VDSCSubscribeCallbacks",
    "VDSCTokenAuthenticate",
    "VDSCTokenEnroll",
    "VDSCTokenIdentify",
    "VDSCIsTokenEnrolled",
    "VDSCTokenChangePin",
    "VDSCEnumReaders",
    "VDSCGetCardInfo",
    "VDSCPutData",
    "VDSCGetData",
    "VDSCEncrypt",
    "VDSCDecrypt",
    "VDSCSign",
    "VDSCVerifySignature",
    "VDSCIsCardInitialized",
    "VDSCInitializeCard",
    "VDSCClearCard",
};
inline constexpr size_t kVDSCApiExportCount = sizeof(kVDSCApiExports) / sizeof(kVDSCApiExports[0]);

// Events: wParam of the subscriber's message.
inline constexpr WPARAM VDSC_EVENT_READER_CONNECTED = 1;
inline constexpr WPARAM VDSC_EVENT_READER_DISCONNECTED = 2;
inline constexpr WPARAM VDSC_EVENT_CARD_INSERTED = 3;
inline constexpr WPARAM VDSC_EVENT_CARD_REMOVED = 4;
inline constexpr WPARAM VDSC_EVENT_CARD_READY = 5;  // a tap seen by a multiplexing reader

// Card types.
inline constexpr DWORD VDSC_CARD_NONE = 0;
inline constexpr DWORD VDSC_CARD_SMARTCARD = 1;
inline constexpr DWORD VDSC_CARD_CONTACTLESS = 2;
inline constexpr DWORD VDSC_CARD_PROXIMITY = 4;
inline constexpr DWORD VDSC_CARD_NFC = 8;

inline constexpr DWORD VDSC_INIT_VERSION = 2;
inline constexpr DWORD VDSC_INIT_EVENTS = 3;
struct VDSC_INIT {
  DWORD dwVersion;  // VDSC_INIT_VERSION
  HWND hWnd;        // receives the events
  UINT uMessage;
  DWORD dwFlags;  // VDSC_INIT_EVENTS
};

// The card in a reader: a version, then the card type and three fields that, with the type,
// tell one card from another (the agent compares only type and dwCardId).
inline constexpr DWORD VDSC_CARD_INFO_VERSION = 2;
struct VDSC_CARD_INFO {
  DWORD dwVersion;  // VDSC_CARD_INFO_VERSION, set by the caller
  DWORD dwCardType;
  DWORD dwCardId;
  DWORD dwField3;
  DWORD dwField4;
  BYTE reserved[64];
};
static_assert(sizeof(VDSC_CARD_INFO) == 84, "a version and 80 bytes");

// Name format of VDSCTokenIdentify's answer: the SAM form DOMAIN\user.
inline constexpr DWORD VDSC_NAME_SAM = 3;

using PFN_VDSCInit = HRESULT(WINAPI*)(const VDSC_INIT* pInit);
using PFN_VDSCTerm = HRESULT(WINAPI*)();
// pbstrDescription: the library's text for the card (may stay null).
using PFN_VDSCGetCardInfo = HRESULT(WINAPI*)(LPCWSTR pwszReader, BSTR* pbstrDescription,
                                             VDSC_CARD_INFO* pInfo);
// S_OK with the card owner's name; a card nobody enrolled fails.
using PFN_VDSCTokenIdentify = HRESULT(WINAPI*)(LPCWSTR pwszReader, DWORD dwNameFormat,
                                               BSTR* pbstrUserName);
// Proves the card in the reader belongs to the authentication's user.
using PFN_VDSCTokenAuthenticate = HRESULT(WINAPI*)(HVDFPAUTHENTICATION hAuthentication,
                                                   LPCWSTR pwszReader, DWORD dwFlags);
// The entry points the agent never calls are resolved all the same; they take no
// arguments the agent knows of.
using PFN_VDSCUnused = HRESULT(WINAPI*)();
