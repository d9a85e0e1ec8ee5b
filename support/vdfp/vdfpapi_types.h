// The authentication client library's contract (VDFPApi.dll, dialogs in VDFPApiUI.dll): entry
// point signatures, handles, records, codes. Shared by the agent's binding
// (support/vdfp/vdfp_api.h) and by the stand-in library (standins/vdfpapi), so both build the same
// layouts; plain C types only.
//
// Conventions of the library:
// - Every entry point returns an HRESULT, except the two buffer functions.
// - Every buffer the library hands out (records, strings, arrays) is one block from
//   VDFPBufferAlloc, released with VDFPBufferFree (null accepted). Strings and arrays that a
//   record points to live inside the same block. The one exception is the reply of
//   VDFPTokenAuthenticate, which comes from the process heap (VDFPProcessHeapFree below).
// - Strings are WCHAR (UTF-16 on Windows, the platform's wchar_t elsewhere), NUL-terminated.
// - Calls before a successful VDFPInit, or after the matching VDFPTerm, fail with
//   VDFP_E_NOT_INITIALIZED; calls while the host service is down fail with
//   VDFP_E_HOST_UNAVAILABLE. Init and Term nest: each successful Init needs one Term.
//
// Layouts below are given for 32-bit Windows (pointers 4 bytes), the agent's own build;
// 64-bit builds use the natural C layout of the same structures.
#pragma once

#include <cstddef>
#include <cstdlib>

#include "platform/win_types.h"

// ---- Result codes the library uses ---------------------------------------------------------
// Term without Init, or any call before Init.
inline constexpr HRESULT VDFP_E_NOT_INITIALIZED = static_cast<HRESULT>(0x800706B3L);
// The host service is not running (RPC_S_SERVER_UNAVAILABLE).
inline constexpr HRESULT VDFP_E_HOST_UNAVAILABLE = static_cast<HRESULT>(0x800706BAL);
// No such user / a capture that matches nobody.
inline constexpr HRESULT VDFP_E_NO_SUCH_USER = static_cast<HRESULT>(0x80070525L);
// A name that cannot be translated (ERROR_NONE_MAPPED).
inline constexpr HRESULT VDFP_E_NONE_MAPPED = static_cast<HRESULT>(0x80070534L);
// Authentication refused (ERROR_LOGON_FAILURE).
inline constexpr HRESULT VDFP_E_LOGON_FAILURE = static_cast<HRESULT>(0x8007052EL);
// A dialog cancelled by the user (ERROR_CANCELLED).
inline constexpr HRESULT VDFP_E_CANCELLED = static_cast<HRESULT>(0x800704C7L);
// No such token type, domain, device, slot or setting (ERROR_NOT_FOUND).
inline constexpr HRESULT VDFP_E_NOT_FOUND = static_cast<HRESULT>(0x80070490L);
// A protected-data slot read with the wrong entropy (ERROR_INVALID_DATA).
inline constexpr HRESULT VDFP_E_INVALID_DATA = static_cast<HRESULT>(0x8007000DL);
// The reader named at acquisition creation is not there (ERROR_DEVICE_NOT_CONNECTED).
inline constexpr HRESULT VDFP_E_DEVICE_NOT_CONNECTED = static_cast<HRESULT>(0x8007048FL);

// ---- Handles ---------------------------------------------------------------------------------
// Opaque, pointer-sized; 0 is "none".
typedef struct VDFP_ACQUISITION__* HVDFPACQUISITION;
// An authentication operation: made by VDFPCreateAuthentication or the identification dialog,
// authenticated by VDFPTokenAuthenticate or VDFPVerifyUserUI.
typedef struct VDFP_AUTHENTICATION__* HVDFPAUTHENTICATION;
typedef struct VDFP_ASYNC_CALL__* HVDFPASYNCCALL;

// ---- Name formats (the library's numbering) ---------------------------------------------------
enum VDFP_NAME_FORMAT : DWORD {
  VDFP_NAME_NONE = 0,
  VDFP_NAME_NETBIOS = 1,    // "COMPUTER\user"
  VDFP_NAME_DNS = 2,        // "domain.example/user"
  VDFP_NAME_SAM = 3,        // "COMPUTER\user" (SAM-compatible)
  VDFP_NAME_SIMPLE = 4,     // "user"
  VDFP_NAME_UID = 5,        // "{GUID}"
  VDFP_NAME_PRINCIPAL = 6,  // "user@domain.example"
  VDFP_NAME_DISPLAY = 7,    // "Given Surname"
  VDFP_NAME_SID = 8,        // "S-1-5-21-..."
  VDFP_NAME_VD = 9,         // the suite's own accounts
};

// ---- Credential-type bits (token masks) ----------------------------------------------------
inline constexpr ULONGLONG VDFP_CRED_PASSWORD = 0x1;
inline constexpr ULONGLONG VDFP_CRED_FINGERPRINT = 0x2;
inline constexpr ULONGLONG VDFP_CRED_SMARTCARD = 0x4;
inline constexpr ULONGLONG VDFP_CRED_SPAREKEY = 0x8;
inline constexpr ULONGLONG VDFP_CRED_FACE = 0x10;
inline constexpr ULONGLONG VDFP_CRED_CONTACTLESS = 0x20;
inline constexpr ULONGLONG VDFP_CRED_RECOVERY_PASSWORD = 0x40;
inline constexpr ULONGLONG VDFP_CRED_PIN = 0x80;
inline constexpr ULONGLONG VDFP_CRED_PROXIMITY = 0x100;
inline constexpr ULONGLONG VDFP_CRED_BLUETOOTH = 0x200;
inline constexpr ULONGLONG VDFP_CRED_PALM = 0x400;
inline constexpr ULONGLONG VDFP_CRED_RSA_TOKEN = 0x800;
inline constexpr ULONGLONG VDFP_CRED_VIRTUAL_SMARTCARD = 0x1000;
inline constexpr ULONGLONG VDFP_CRED_U2F = 0x8000;

// ---- Token type GUIDs (one per credential type; Face has none) -----------------------------
inline constexpr GUID VDFP_TOKEN_PASSWORD = {
    0x416E8E7A, 0xCC3A, 0x4F3B, {0x8D, 0x0B, 0x70, 0x23, 0xBB, 0x2E, 0x3D, 0xE5}};
inline constexpr GUID VDFP_TOKEN_FINGERPRINT = {
    0x13646B11, 0x6C11, 0x42AD, {0x99, 0x0F, 0x57, 0x37, 0xE3, 0x8F, 0x41, 0xD8}};
inline constexpr GUID VDFP_TOKEN_SMARTCARD = {
    0xCB566B91, 0x9D0E, 0x44A1, {0x93, 0x23, 0xEC, 0xBE, 0x3F, 0xF5, 0x5C, 0x9D}};
inline constexpr GUID VDFP_TOKEN_SPAREKEY = {
    0x1EA3F6F4, 0x2C39, 0x45B3, {0x97, 0x1F, 0xE7, 0xC2, 0x82, 0xD0, 0xF1, 0x3E}};
inline constexpr GUID VDFP_TOKEN_CONTACTLESS = {
    0x611D9C74, 0x592C, 0x4C9D, {0xAE, 0x8F, 0xDB, 0xC0, 0x10, 0x83, 0xBF, 0xB3}};
inline constexpr GUID VDFP_TOKEN_RECOVERY_PASSWORD = {
    0xDE4BABD1, 0x6466, 0x4022, {0xB9, 0xC4, 0x02, 0xF5, 0xD5, 0x0A, 0xF1, 0xDA}};
inline constexpr GUID VDFP_TOKEN_PIN = {
    0xEF9CDC90, 0x7A56, 0x480D, {0xAA, 0xED, 0x7B, 0x5A, 0x2D, 0xFB, 0x9A, 0xD1}};
inline constexpr GUID VDFP_TOKEN_PROXIMITY = {
    0x88C9B624, 0xBA20, 0x44CD, {0x9E, 0x00, 0x53, 0x66, 0x0D, 0x68, 0x65, 0xAB}};
inline constexpr GUID VDFP_TOKEN_BLUETOOTH = {
    0xB4EF3639, 0xE115, 0x42C2, {0x93, 0xFE, 0x31, 0xA5, 0x92, 0xD3, 0x2C, 0x89}};
inline constexpr GUID VDFP_TOKEN_PALM = {
    0xADAE9391, 0xE913, 0x4D5D, {0x83, 0xBA, 0xCC, 0x32, 0x91, 0x1F, 0xB6, 0x36}};
inline constexpr GUID VDFP_TOKEN_RSA = {
    0x9A3AC3B0, 0x13BF, 0x4379, {0x8E, 0xAD, 0x2C, 0x4D, 0x96, 0x7A, 0xD7, 0xC9}};
inline constexpr GUID VDFP_TOKEN_VIRTUAL_SMARTCARD = {
    0x5D4862E6, 0xE8EB, 0x4B18, {0xB2, 0x2A, 0xDB, 0x1F, 0x5E, 0xD8, 0x2C, 0x71}};
inline constexpr GUID VDFP_TOKEN_U2F = {
    0xB55778ED, 0xC62A, 0x48FE, {0x90, 0x8F, 0x77, 0x77, 0x8D, 0x04, 0x33, 0x2D}};

// ---- Fingerprint acquisitions ---------------------------------------------------------------
// Arguments of VDFPCreateAcquisition as the agent passes them: purpose 3 (identification and
// verification captures), any reader (all-zero device GUID), delivery 2 (window messages).
inline constexpr DWORD VDFP_ACQUISITION_PURPOSE_IDENTIFY = 3;
inline constexpr DWORD VDFP_ACQUISITION_NOTIFY_WINDOW = 2;
// The agent's reader message (WM_USER+200).
inline constexpr UINT VDFP_READER_MESSAGE = 0x4C8;

// Reader events: the wParam of the reader message; lParam is the event's data.
enum VDFP_READER_EVENT : WPARAM {
  VDFP_WN_COMPLETED = 0,  // lParam: the capture, for VDFPIdentify/VDFPIdentifyUser/...
  VDFP_WN_ERROR = 1,
  VDFP_WN_DISCONNECT = 2,
  VDFP_WN_RECONNECT = 3,
  VDFP_WN_SAMPLE_QUALITY = 4,  // lParam: quality feedback code, 0 = good
  VDFP_WN_FINGER_TOUCHED = 5,
  VDFP_WN_FINGER_GONE = 6,
  VDFP_WN_IMAGE_READY = 7,
  VDFP_WN_FEATURE_SET_ADDED = 8,
  VDFP_WN_REGISTRATION_COMPLETED = 9,
  VDFP_WN_OPERATION_STOPPED = 10,
};

// A completed capture as VDFPIdentify, VDFPIdentifyUser and the fingerprint request of
// VDFPTokenAuthenticate take it: the 32-bit lParam of VDFP_WN_COMPLETED.
typedef DWORD VDFP_CAPTURE;

// Reader LED states (VDFPSetDeviceLED).
enum VDFP_LED_STATE : DWORD {
  VDFP_LED_OFF = 0,
  VDFP_LED_WAIT = 1,
  VDFP_LED_WAIT_SHORT = 2,
};

// ---- Records --------------------------------------------------------------------------------

// VDFPGetAuthenticationInfo, class 1: the user of an authentication operation.
inline constexpr DWORD VDFP_AUTHENTICATION_INFO_CLASS = 1;
typedef struct VDFP_AUTHENTICATION_INFO_1 {
  LPWSTR pwszName;     // +0, in dwNameFormat; points into the same block
  DWORD dwNameFormat;  // +4
} VDFP_AUTHENTICATION_INFO_1;

// VDFPTokenGetInfo, class 1: one registered token type. The credential mask sits at byte 256
// on every build; the agent reads nothing else.
inline constexpr DWORD VDFP_TOKEN_INFO_CLASS = 1;
typedef struct VDFP_TOKEN_INFO_1 {
  GUID TokenType;               // +0
  DWORD cbSize;                 // +16, sizeof(VDFP_TOKEN_INFO_1)
  DWORD dwFlags;                // +20, reserved, 0
  WORD wszDisplayName[116];     // +24, UTF-16LE, NUL-terminated (a byte format: WORD, not WCHAR)
  ULONGLONG ullCredentialMask;  // +256
  DWORD dwMaxEnrollments;       // +264, enrollments per user the host accepts, 0 = no limit
  DWORD dwReserved;             // +268
} VDFP_TOKEN_INFO_1;
static_assert(offsetof(VDFP_TOKEN_INFO_1, ullCredentialMask) == 256, "mask at byte 256");

// VDFPEnumerateDevices: an array of these (strings in the same block).
typedef struct VDFP_DEVICE_INFO {
  GUID DeviceId;                // +0
  ULONGLONG ullCredentialMask;  // +16, what the reader reads (0x2 for fingerprint readers)
  DWORD dwState;                // +24, VDFP_DEVICE_CONNECTED
  DWORD dwReserved;             // +28
  LPWSTR pwszName;              // +32
} VDFP_DEVICE_INFO;
inline constexpr DWORD VDFP_DEVICE_CONNECTED = 1;

// VDFPGetDeviceInfo, class 3: the state of a reader for one user. A non-zero first field
// means the user's enrollment on this reader must be redone.
inline constexpr DWORD VDFP_DEVICE_USER_INFO_CLASS = 3;
typedef struct VDFP_DEVICE_USER_INFO_3 {
  DWORD dwReenrollmentNeeded;  // +0
  DWORD dwEnrolledSamples;     // +4, enrollments of the user on this reader
} VDFP_DEVICE_USER_INFO_3;

// VDFPAuthDomainEnum gives a count and an array of domain names (LPWSTR[count], strings in
// the same block). VDFPAuthDomainGetInfo, class 0:
inline constexpr DWORD VDFP_AUTH_DOMAIN_INFO_CLASS = 0;
typedef struct VDFP_AUTH_DOMAIN_INFO_0 {
  DWORD dwState;     // +0, VDFP_AUTH_DOMAIN_ACTIVE when the domain is in use
  DWORD dwReserved;  // +4
  LPWSTR pwszName;   // +8
} VDFP_AUTH_DOMAIN_INFO_0;
inline constexpr DWORD VDFP_AUTH_DOMAIN_ACTIVE = 1;

// VDFPGetUserInfo, class 4: the user's logon policy, `cRules` credential masks (each one
// alternative) following the header at byte 8.
inline constexpr DWORD VDFP_USER_INFO_POLICY_CLASS = 4;
typedef struct VDFP_USER_INFO_4 {
  DWORD cRules;      // +0
  DWORD dwReserved;  // +4
  // ULONGLONG rules[cRules] at +8
} VDFP_USER_INFO_4;
inline const ULONGLONG* VDFPUserInfoRules(const VDFP_USER_INFO_4* info) {
  return reinterpret_cast<const ULONGLONG*>(reinterpret_cast<const BYTE*>(info) +
                                            sizeof(VDFP_USER_INFO_4));
}
static_assert(sizeof(VDFP_USER_INFO_4) == 8, "rules follow at byte 8");

// The lParam of an asynchronous enrollment reply (VDFPTokenIsEnrolledAsync). Owned by the
// library; it stays readable after VDFPAsyncDestroyCall until the library is unloaded,
// because the reply message may still be queued when the caller drops the call.
typedef struct VDFP_ASYNC_ENROLLMENT_REPLY {
  HRESULT hrResult;  // +0: S_OK enrolled, S_FALSE not enrolled, negative: the query failed
  DWORD dwReserved;  // +4
  GUID TokenType;    // +8
} VDFP_ASYNC_ENROLLMENT_REPLY;

// Counted bytes: the protected-data entropy and payload. A payload read is a library block.
typedef struct VDFP_DATA_BLOB {
  DWORD cbData;
  BYTE* pbData;
} VDFP_DATA_BLOB;
// Flags of VDFPWriteProtectedData: 2 on Windows 6.0 and later (readers pass 0).
inline constexpr DWORD VDFP_PROTECT_FLAGS_VISTA = 2;

// ---- Policy settings (VDFPGetPolicySettingsEx) ---------------------------------------------
// A tagged value. 24 bytes on 32-bit Windows: type at 0, payload at 8 (a 32-bit value in the
// low half, a 64-bit value whole, a string pointer, or a count at 8 and a pointer at 12).
enum VDVARTYPE : DWORD {
  VDVAR_EMPTY = 0,
  VDVAR_BOOL = 1,
  VDVAR_STRING = 2,  // library block
  VDVAR_INT32 = 3,
  VDVAR_UINT32 = 4,  // what a REG_DWORD gives
  VDVAR_BLOB = 8,    // library block
  VDVAR_INT64 = 9,
  VDVAR_UINT64 = 10,
  VDVAR_ARRAY = 11,  // library block of VDVARIANTs, each released first
};
typedef struct VDVARIANT {
  DWORD VarType;   // +0
  DWORD Reserved;  // +4
  union {          // +8
    DWORD ulVal;
    ULONGLONG ullVal;
    LPWSTR pwszVal;
    struct {
      DWORD cElems;
      BYTE* pElems;
    } blob;
    struct {
      DWORD cElems;
      struct VDVARIANT* pElems;
    } array;
  };
  ULONGLONG Reserved2;  // +16
} VDVARIANT;

// One item of a policy query: the caller names it, the library fills status and value.
// 32 bytes on 32-bit Windows.
typedef struct VDFP_POLICY_ITEM {
  LPCWSTR pwszName;  // +0, owned by the caller
  HRESULT hrStatus;  // +4: S_OK overrides the registry, S_FALSE applies only when the
                     //     registry has no value, negative: no value
  VDVARIANT Value;   // +8
} VDFP_POLICY_ITEM;

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(VDVARIANT) == 24 && sizeof(VDFP_POLICY_ITEM) == 32, "32-bit layout");
static_assert(offsetof(VDFP_POLICY_ITEM, Value.blob.pElems) == 20, "blob pointer at 20");
#endif

// ---- Entry points -----------------------------------------------------------------------------
// VDFPApi.dll
typedef HRESULT(WINAPI* PFN_VDFPINIT)(void);
typedef HRESULT(WINAPI* PFN_VDFPTERM)(void);
typedef LPVOID(WINAPI* PFN_VDFPBUFFERALLOC)(SIZE_T cb);  // zero-filled, null when out of memory
typedef void(WINAPI* PFN_VDFPBUFFERFREE)(LPVOID pv);
typedef HRESULT(WINAPI* PFN_VDFPCREATEACQUISITION)(DWORD dwPurpose, const GUID* pDeviceId,
                                                   DWORD dwNotify, HWND hWnd, UINT uMsg,
                                                   HVDFPACQUISITION* phAcquisition);
typedef HRESULT(WINAPI* PFN_VDFPSTARTACQUISITION)(HVDFPACQUISITION hAcquisition);
typedef HRESULT(WINAPI* PFN_VDFPSTOPACQUISITION)(HVDFPACQUISITION hAcquisition);
typedef HRESULT(WINAPI* PFN_VDFPDESTROYACQUISITION)(HVDFPACQUISITION hAcquisition);
typedef HRESULT(WINAPI* PFN_VDFPSETDEVICELED)(HVDFPACQUISITION hAcquisition, DWORD dwLedState);
// S_OK with the name (library block) and its format; VDFP_E_NO_SUCH_USER: nobody matches.
typedef HRESULT(WINAPI* PFN_VDFPIDENTIFY)(VDFP_CAPTURE capture, LPWSTR* ppwszName,
                                          DWORD* pdwNameFormat);
// S_OK: the capture is this user's finger; S_FALSE: it is not.
typedef HRESULT(WINAPI* PFN_VDFPIDENTIFYUSER)(VDFP_CAPTURE capture, LPCWSTR pwszName,
                                              DWORD dwNameFormat);
typedef HRESULT(WINAPI* PFN_VDFPGETAUTHENTICATIONINFO)(HVDFPAUTHENTICATION hAuthentication,
                                                       DWORD dwInfoClass, LPVOID* ppInfo);
typedef HRESULT(WINAPI* PFN_VDFPCREATEAUTHENTICATION)(LPCWSTR pwszName, DWORD dwNameFormat,
                                                      HVDFPAUTHENTICATION* phAuthentication);
typedef HRESULT(WINAPI* PFN_VDFPDESTROYAUTHENTICATION)(HVDFPAUTHENTICATION hAuthentication);
// The reply comes from the process heap: VDFPProcessHeapFree, not VDFPBufferFree.
typedef HRESULT(WINAPI* PFN_VDFPTOKENAUTHENTICATE)(const GUID* pTokenType,
                                                   HVDFPAUTHENTICATION hAuthentication,
                                                   DWORD cbRequest, const BYTE* pbRequest,
                                                   DWORD* pcbReply, BYTE** ppbReply);
typedef HRESULT(WINAPI* PFN_VDFPTOKENENUM)(DWORD* pcTokens, GUID** ppTokens);
typedef HRESULT(WINAPI* PFN_VDFPTOKENGETINFO)(const GUID* pTokenType, DWORD dwInfoClass,
                                              LPVOID* ppInfo);
// S_OK enrolled; S_FALSE not enrolled.
typedef HRESULT(WINAPI* PFN_VDFPTOKENISENROLLED)(const GUID* pTokenType, LPCWSTR pwszName,
                                                 DWORD dwNameFormat);
// The answer arrives later as uMsg posted to hWnd: wParam 0, lParam a
// VDFP_ASYNC_ENROLLMENT_REPLY*. VDFPAsyncDestroyCall releases the call (and cancels a reply not
// sent yet).
typedef HRESULT(WINAPI* PFN_VDFPTOKENISENROLLEDASYNC)(const GUID* pTokenType, HWND hWnd, UINT uMsg,
                                                      LPCWSTR pwszName, DWORD dwNameFormat,
                                                      HVDFPASYNCCALL* phCall);
typedef HRESULT(WINAPI* PFN_VDFPASYNCDESTROYCALL)(HVDFPASYNCCALL hCall);
typedef HRESULT(WINAPI* PFN_VDFPTRANSLATENAME)(LPCWSTR pwszName, DWORD dwNameFormat,
                                               DWORD dwWantedFormat, LPWSTR* ppwszTranslated);
// ppDevices null: the count only.
typedef HRESULT(WINAPI* PFN_VDFPENUMERATEDEVICES)(DWORD* pcDevices, VDFP_DEVICE_INFO** ppDevices);
typedef HRESULT(WINAPI* PFN_VDFPGETDEVICEINFO)(const GUID* pDeviceId, DWORD dwInfoClass,
                                               LPCWSTR pwszName, DWORD dwNameFormat,
                                               LPVOID* ppInfo);
typedef HRESULT(WINAPI* PFN_VDFPAUTHDOMAINENUM)(DWORD* pcDomains, LPWSTR** pppwszNames);
typedef HRESULT(WINAPI* PFN_VDFPAUTHDOMAINGETINFO)(LPCWSTR pwszDomain, DWORD dwInfoClass,
                                                   LPVOID* ppInfo);
typedef HRESULT(WINAPI* PFN_VDFPGETPOLICYSETTINGSEX)(DWORD cItems, VDFP_POLICY_ITEM* pItems);
typedef HRESULT(WINAPI* PFN_VDFPGETUSERINFO)(LPCWSTR pwszName, DWORD dwNameFormat,
                                             DWORD dwInfoClass, LPVOID* ppInfo);
// Missing slot: VDFP_E_NOT_FOUND. The payload is a library block.
typedef HRESULT(WINAPI* PFN_VDFPREADPROTECTEDDATA)(LPCWSTR pwszSlot, const VDFP_DATA_BLOB* pEntropy,
                                                   DWORD dwFlags, VDFP_DATA_BLOB* pData);
// pData null or empty: the slot is cleared.
typedef HRESULT(WINAPI* PFN_VDFPWRITEPROTECTEDDATA)(LPCWSTR pwszSlot,
                                                    const VDFP_DATA_BLOB* pEntropy, DWORD dwFlags,
                                                    const VDFP_DATA_BLOB* pData);
// VDFPApiUI.dll
typedef HRESULT(WINAPI* PFN_VDFPIDENTIFYUSERUI2)(HWND hWndParent, DWORD dwFlags, DWORD dwReserved,
                                                 LPCWSTR pwszCaption, LPCWSTR pwszText,
                                                 LPWSTR* ppwszSamName,
                                                 HVDFPAUTHENTICATION* phAuthentication);
typedef HRESULT(WINAPI* PFN_VDFPVERIFYUSERUI)(HWND hWndParent, DWORD dwFlags, DWORD dwReserved,
                                              HVDFPAUTHENTICATION hAuthentication);

// ---- The process heap (VDFPTokenAuthenticate replies) ---------------------------------------
// The library allocates the reply on the process heap and the caller releases it there.
// Elsewhere than Windows the process heap is the C heap.
inline LPVOID VDFPProcessHeapAlloc(SIZE_T cb) {
#ifdef _WIN32
  return ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, cb);
#else
  return std::calloc(cb ? cb : 1, 1);
#endif
}
inline void VDFPProcessHeapFree(LPVOID pv) {
#ifdef _WIN32
  if (pv) ::HeapFree(::GetProcessHeap(), 0, pv);
#else
  std::free(pv);
#endif
}
