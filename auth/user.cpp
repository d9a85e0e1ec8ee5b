#include "auth/user.h"

#include <cwchar>
#include <utility>
#include <vector>

#include "auth/kiosk_user_record.h"
#include "auth/protected_data.h"
#include "platform/handles.h"
#include "support/registry_read.h"
#include "support/trace/trace.h"

namespace {

// As Windows matches account names and SIDs: ordinal, case folded over all of UTF-16, so
// "Jürgen" and "JÜRGEN" are one user whatever the locale.
bool EqualsNoCase(platform::IKernel& kernel, const std::wstring& a, const std::wstring& b) {
  return kernel.CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                     static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

constexpr const wchar_t* kKioskSessionKeyFormat = L"SOFTWARE\\Veridane\\Kiosk\\Session\\%u";
constexpr DWORD kMaxKioskUserChars = 260;

}  // namespace

CUser::CUser(CVDFPApi& api, std::wstring accountName, DWORD nameFormat)
    : m_api(&api), m_sAccountName(std::move(accountName)), m_dwNameFormat(nameFormat) {
  VDTraceNS::CScope ts("CUser::CUser");
  ts.Msg("User %ls", ToString().c_str());
}

CUser CUser::FromSid(CVDFPApi& api, std::wstring sid, DWORD nameFormat) {
  CUser user;
  user.m_api = &api;
  user.m_sSid = std::move(sid);
  user.m_dwNameFormat = nameFormat;
  return user;
}

bool CUser::IsValid() const { return !m_sSid.empty() || HasUsableName(); }

std::wstring CUser::Sid() const {
  if (m_sSid.empty() && HasUsableName() && m_api) {
    VDTraceNS::CScope ts("CUser::Sid");
    CVDFPString sid(*m_api);
    const HRESULT hr =
        m_api->VDFPTranslateName(m_sAccountName.c_str(), m_dwNameFormat, VDFP_NAME_SID, sid.put());
    if (SUCCEEDED(hr) && sid) {
      m_sSid = sid.get();
      ts.Msg("Found a user SID %ls", m_sSid.c_str());
    } else {
      ts.Result("VDFPTranslateName", hr);  // left empty: asked again next time
    }
  }
  return m_sSid;
}

std::wstring CUser::AccountName() const {
  if (HasUsableName()) return m_sAccountName;
  if (!m_sSid.empty() && m_api) {
    VDTraceNS::CScope ts("CUser::AccountName");
    // Wanted in this user's own format, even format 0: the library decides what that gives.
    CVDFPString name(*m_api);
    const HRESULT hr =
        m_api->VDFPTranslateName(m_sSid.c_str(), VDFP_NAME_SID, m_dwNameFormat, name.put());
    if (SUCCEEDED(hr) && name) {
      m_sAccountName = name.get();
      ts.Msg("Found a user name '%ls' (%ls)", m_sAccountName.c_str(),
             NameFormatName(m_dwNameFormat));
    } else {
      ts.Result("VDFPTranslateName", hr);
    }
  }
  return m_sAccountName;
}

std::wstring CUser::ToString() const {
  // The name first: for a user known by SID it is what needs the library.
  std::wstring text = L"'" + AccountName() + L"' (" + NameFormatName(m_dwNameFormat) + L"), SID=";
  text += Sid();
  return text;
}

bool CUser::operator!=(const CUser& other) const {
  // A valid user always has the library, and with it the platform.
  if (!m_api) return true;
  platform::IKernel& kernel = m_api->Platform().Kernel();
  if (!m_sSid.empty()) return !EqualsNoCase(kernel, m_sSid, other.Sid());
  if (HasUsableName()) {
    // Same format first: the right user's name is then wanted in that format, which
    // translates a user known only by SID instead of calling it different.
    if (m_dwNameFormat != other.m_dwNameFormat) return true;
    return !EqualsNoCase(kernel, m_sAccountName, other.AccountName());
  }
  return true;
}

const wchar_t* CUser::NameFormatName(DWORD nameFormat) {
  static const wchar_t* const kNames[] = {L"NETBIOS",   L"DNS",     L"SAM", L"Simple", L"UID",
                                          L"Principal", L"Display", L"SID", L"VD"};
  if (nameFormat >= VDFP_NAME_NETBIOS && nameFormat <= VDFP_NAME_VD) return kNames[nameFormat - 1];
  return L"Unknown";
}

// ---- Factories ------------------------------------------------------------------------------

CUser CUser::FromWindows(platform::IPlatform& plat, CVDFPApi& api) {
  VDTraceNS::CScope ts("CUser::FromWindows");
  auto& sessions = plat.Sessions();
  ULONG size = 0;
  sessions.GetUserNameExW(NameSamCompatible, nullptr, &size);
  if (size == 0) {
    ts.Result("GetUserNameExW", HRESULT_FROM_WIN32(plat.Kernel().GetLastError()));
    return CUser();
  }
  std::vector<wchar_t> buffer(size + 1, L'\0');
  if (!sessions.GetUserNameExW(NameSamCompatible, buffer.data(), &size)) {
    ts.Result("GetUserNameExW", HRESULT_FROM_WIN32(plat.Kernel().GetLastError()));
    return CUser();
  }
  return CUser(api, std::wstring(buffer.data()), VDFP_NAME_SAM);
}

CUser CUser::FromKiosk(platform::IPlatform& plat, CVDFPApi& api, bool kioskLogonEnabled) {
  VDTraceNS::CScope ts("CUser::FromKiosk");
  if (!kioskLogonEnabled) return CUser();
  DWORD session = 0;
  if (!plat.Sessions().ProcessIdToSessionId(plat.Kernel().GetCurrentProcessId(), &session))
    return CUser();
  wchar_t path[64];
  std::swprintf(path, sizeof(path) / sizeof(path[0]), kKioskSessionKeyFormat, session);

  auto& reg = plat.Registry();
  const REGSAM view = support::SuiteView(reg);
  const auto account = support::ReadDword(reg, HKEY_LOCAL_MACHINE, path, L"KioskAccount", view);
  if (!account || *account == 0) return CUser();
  const auto name =
      support::ReadString(reg, HKEY_LOCAL_MACHINE, path, L"KioskUser", view, kMaxKioskUserChars);
  const auto format = support::ReadDword(reg, HKEY_LOCAL_MACHINE, path, L"KioskUserType", view);
  return CUser(api, name.value_or(std::wstring()), format.value_or(VDFP_NAME_NONE));
}

CUser CUser::FromOperation(CVDFPApi& api, HVDFPAUTHENTICATION operation) {
  VDTraceNS::CScope ts("CUser::FromOperation");
  CVDFPBuffer<VDFP_AUTHENTICATION_INFO_1> info(api);
  const HRESULT hr =
      api.VDFPGetAuthenticationInfo(operation, VDFP_AUTHENTICATION_INFO_CLASS, info.put());
  if (FAILED(ts.Result("VDFPGetAuthenticationInfo", hr)) || !info) return CUser();
  return CUser(api, info->pwszName ? std::wstring(info->pwszName) : std::wstring(),
               info->dwNameFormat);
}

CUser CUser::FromKioskSharedMemory(CVDFPApi& api) {
  VDTraceNS::CScope ts("CUser::FromKioskSharedMemory");
  const VDFP_DATA_BLOB entropy = VDProtectedDataEntropy();
  CVDFPBlob record(api);
  const HRESULT hr = api.VDFPReadProtectedData(kVDKioskUserSlot, &entropy, 0, record.put());
  if (FAILED(ts.Result("VDFPReadProtectedData", hr))) return CUser();
  const auto decoded = DecodeKioskUserRecord(record.data(), record.size());
  if (!decoded) return CUser();
  return CUser(api, decoded->accountName, decoded->nameFormat);
}
