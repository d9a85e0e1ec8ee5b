// Shell links (.lnk files) and their property stores: the COM shapes and ids a Start menu
// shortcut is made with.
//
//   platform::ComPtr<IShellLinkW> link;
//   com.CoCreateInstance(platform::kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER,
//                        platform::kIidShellLinkW, link.put_void());
//   link->SetPath(L"C:\\Program Files\\Veridane\\Agent\\VdAgent.exe");
//   platform::ComPtr<IPersistFile> file;
//   link->QueryInterface(platform::kIidPersistFile, file.put_void());
//   file->Save(L"C:\\ProgramData\\...\\Agent.lnk", TRUE);
//
// On Windows the interfaces are the SDK's; elsewhere they are declared here with the same
// vtable order. The ids are ours on both sides so nothing needs the SDK's uuid library.
#pragma once

#include "platform/com.h"
#include "platform/win_types.h"

#ifdef _WIN32
#include <objidl.h>
#include <propsys.h>
#include <shlobj.h>
#include <shobjidl.h>
#else

using LPOLESTR = OLECHAR*;
using VARTYPE = unsigned short;

struct WIN32_FIND_DATAW;
struct _ITEMIDLIST;
using PIDLIST_ABSOLUTE = _ITEMIDLIST*;
using PCIDLIST_ABSOLUTE = const _ITEMIDLIST*;

struct PROPERTYKEY {
  GUID fmtid;
  DWORD pid;
};
using REFPROPERTYKEY = const PROPERTYKEY&;

// The members the agent reads or writes; the value is borrowed, never owned by the variant.
struct PROPVARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LPWSTR pwszVal;
    CLSID* puuid;
    ULONGLONG uhVal;
    void* pReserved[2];
  };
};
using REFPROPVARIANT = const PROPVARIANT&;

#define VT_EMPTY 0
#define VT_LPWSTR 31
#define VT_CLSID 72

#define SLDF_HAS_EXP_ICON_SZ 0x00004000u
#define EXP_SZ_ICON_SIG 0xA0000007u
#define STGM_READ 0x00000000u

struct IPersist : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) = 0;

 protected:
  ~IPersist() = default;
};

struct IPersistFile : IPersist {
  virtual HRESULT STDMETHODCALLTYPE IsDirty() = 0;
  virtual HRESULT STDMETHODCALLTYPE Load(LPCOLESTR pszFileName, DWORD dwMode) = 0;
  virtual HRESULT STDMETHODCALLTYPE Save(LPCOLESTR pszFileName, BOOL fRemember) = 0;
  virtual HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR pszFileName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* ppszFileName) = 0;

 protected:
  ~IPersistFile() = default;
};

struct IShellLinkW : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPath(LPWSTR pszFile, int cch, WIN32_FIND_DATAW* pfd,
                                            DWORD fFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDList(PIDLIST_ABSOLUTE* ppidl) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetIDList(PCIDLIST_ABSOLUTE pidl) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDescription(LPWSTR pszName, int cch) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDescription(LPCWSTR pszName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPWSTR pszDir, int cch) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCWSTR pszDir) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetArguments(LPWSTR pszArgs, int cch) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetArguments(LPCWSTR pszArgs) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHotkey(WORD* pwHotkey) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetHotkey(WORD wHotkey) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetShowCmd(int* piShowCmd) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetShowCmd(int iShowCmd) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIconLocation(LPWSTR pszIconPath, int cch,
                                                    int* piIcon) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetIconLocation(LPCWSTR pszIconPath, int iIcon) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetRelativePath(LPCWSTR pszPathRel, DWORD dwReserved) = 0;
  virtual HRESULT STDMETHODCALLTYPE Resolve(HWND hwnd, DWORD fFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPath(LPCWSTR pszFile) = 0;

 protected:
  ~IShellLinkW() = default;
};

struct IShellLinkDataList : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AddDataBlock(void* pDataBlock) = 0;
  virtual HRESULT STDMETHODCALLTYPE CopyDataBlock(DWORD dwSig, void** ppDataBlock) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveDataBlock(DWORD dwSig) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFlags(DWORD* pdwFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetFlags(DWORD dwFlags) = 0;

 protected:
  ~IShellLinkDataList() = default;
};

struct IPropertyStore : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCount(DWORD* cProps) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAt(DWORD iProp, PROPERTYKEY* pkey) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* pv) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, REFPROPVARIANT propvar) = 0;
  virtual HRESULT STDMETHODCALLTYPE Commit() = 0;

 protected:
  ~IPropertyStore() = default;
};

#endif  // _WIN32

namespace platform {

inline constexpr CLSID kClsidShellLink = {
    0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID kIidShellLinkW = {
    0x000214F9, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID kIidPersistFile = {
    0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID kIidPersist = {
    0x0000010C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID kIidShellLinkDataList = {
    0x45E2B4AE, 0xB1C3, 0x11D0, {0xB9, 0x2F, 0x00, 0xA0, 0xC9, 0x03, 0x12, 0xE1}};
inline constexpr IID kIidPropertyStore = {
    0x886D8EEB, 0x8CF2, 0x4446, {0x8D, 0x02, 0xCD, 0xBA, 0x1D, 0xBD, 0xCF, 0x99}};

// The Start menu of all users ("C:\ProgramData\Microsoft\Windows\Start Menu").
inline constexpr KNOWNFOLDERID kFolderIdCommonStartMenu = {
    0xA4115719, 0xD62E, 0x491D, {0xAA, 0x7C, 0xE7, 0x4B, 0x8B, 0xE3, 0xB0, 0x67}};
// The user's Start menu ("%APPDATA%\Microsoft\Windows\Start Menu").
inline constexpr KNOWNFOLDERID kFolderIdStartMenu = {
    0x625B53C3, 0xAB48, 0x4EC1, {0xBA, 0x1F, 0xA1, 0xEF, 0x41, 0x46, 0xFC, 0x19}};
// The user's Start menu programs ("%APPDATA%\Microsoft\Windows\Start Menu\Programs").
inline constexpr KNOWNFOLDERID kFolderIdPrograms = {
    0xA77F5D77, 0x2E2B, 0x44C3, {0xA6, 0xA2, 0xAB, 0xA6, 0x01, 0x05, 0x4A, 0x51}};

// System.AppUserModel.ID (VT_LPWSTR) and System.AppUserModel.ToastActivatorCLSID (VT_CLSID).
inline constexpr PROPERTYKEY kPKeyAppUserModelId = {
    {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}}, 5};
inline constexpr PROPERTYKEY kPKeyAppUserModelToastActivatorClsid = {
    {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}}, 26};

}  // namespace platform
