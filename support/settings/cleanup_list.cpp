#include "support/settings/cleanup_list.h"

#include <string>
#include <vector>

#include "platform/handles.h"
#include "support/registry_read.h"
#include "support/result_error.h"
#include "support/settings/settings_names.h"
#include "support/trace/trace.h"
#include "support/trace/trace_text.h"

namespace support {

namespace {

constexpr BYTE kByteOrderMark[2] = {0xFF, 0xFE};  // U+FEFF in UTF-16LE

[[noreturn]] void ThrowWin32(DWORD error) {
  throw CResultError(HRESULT_FROM_WIN32(error ? error : ERROR_INVALID_FUNCTION));
}

std::wstring CleanupFilePath(platform::IPlatform& plat) {
  auto& reg = plat.Registry();
  platform::UniqueHKey key(reg);
  LSTATUS s = reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane", 0,
                                KEY_READ | SuiteView(reg), key.put());
  if (s != ERROR_SUCCESS) ThrowWin32(static_cast<DWORD>(s));
  wchar_t folder[MAX_PATH + 1] = {};
  DWORD type = 0, cb = MAX_PATH * sizeof(wchar_t);
  s = reg.RegQueryValueExW(key.get(), L"VeridanePath", nullptr, &type,
                           reinterpret_cast<BYTE*>(folder), &cb);
  if (s != ERROR_SUCCESS) ThrowWin32(static_cast<DWORD>(s));
  if (type != REG_SZ && type != REG_EXPAND_SZ) ThrowWin32(ERROR_INVALID_DATA);
  std::wstring path(folder, cb / sizeof(wchar_t));
  if (const auto end = path.find(L'\0'); end != std::wstring::npos) path.resize(end);
  // As PathAppendW joins: exactly one backslash between folder and file.
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  path += kCleanupFileName;
  return path;
}

void WriteAll(platform::IKernel& k, HANDLE file, const void* data, DWORD size) {
  DWORD written = 0;
  if (!k.WriteFile(file, data, size, &written, nullptr) || written != size)
    ThrowWin32(k.GetLastError());
}

// Opens the list for appending, starting it afresh (just the mark) when it does not begin
// with the UTF-16 byte-order mark.
platform::UniqueFile OpenList(platform::IKernel& k, const std::wstring& path) {
  platform::UniqueFile file(k, k.CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) ThrowWin32(k.GetLastError());
  BYTE head[2] = {};
  DWORD read = 0;
  const bool hasMark = k.ReadFile(file.get(), head, sizeof(head), &read, nullptr) &&
                       read == sizeof(head) && head[0] == kByteOrderMark[0] &&
                       head[1] == kByteOrderMark[1];
  if (hasMark) return file;
  // The open handle shares nothing: it goes before the file is made again.
  file.reset();
  file.reset(k.CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) ThrowWin32(k.GetLastError());
  WriteAll(k, file.get(), kByteOrderMark, sizeof(kByteOrderMark));
  return file;
}

}  // namespace

void AddCleanupLine(platform::IPlatform& plat, const wchar_t* root, const wchar_t* keyPath,
                    DWORD kind, const wchar_t* valueName) {
  VDTraceNS::CScope ts("AddCleanupLine");
  if (!root || !*root || !keyPath || !*keyPath) throw CResultError(E_INVALIDARG);
  std::wstring line = root;
  line += L'\t';
  line += keyPath;
  line += L'\t';
  line += std::to_wstring(kind);
  if (valueName) {
    line += L'\t';
    line += *valueName ? valueName : L" ";
  }
  line += L"\r\n";
  ts.Msg("accum = %ls", line.c_str());

  const std::wstring path = CleanupFilePath(plat);
  ts.Msg("FilePath = %ls", path.c_str());
  auto& k = plat.Kernel();
  platform::UniqueFile file = OpenList(k, path);
  LARGE_INTEGER zero{};
  if (!k.SetFilePointerEx(file.get(), zero, nullptr, FILE_END)) ThrowWin32(k.GetLastError());
  // The file is UTF-16LE whatever the size of wchar_t here.
  const std::u16string units = VDTraceNS::WideToUtf16(line);
  std::vector<BYTE> bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t u : units) {
    bytes.push_back(static_cast<BYTE>(u & 0xFF));
    bytes.push_back(static_cast<BYTE>(u >> 8));
  }
  WriteAll(k, file.get(), bytes.data(), static_cast<DWORD>(bytes.size()));
}

void AddAgentSettingsToCleanupList(platform::IPlatform& plat) {
  namespace Kw = SettingNames::KwAppSettings;
  namespace Ag = SettingNames::Agent;
  const wchar_t* const kQuickActions =
      L"SOFTWARE\\Veridane\\Applications\\KwAppSettings\\QuickActions\\";
  const wchar_t* const kKwAppSettings = L"SOFTWARE\\Veridane\\Applications\\KwAppSettings";
  const wchar_t* const kAgent = L"SOFTWARE\\Veridane\\Applications\\Agent";
  const wchar_t* const kApplications = L"SOFTWARE\\Veridane\\Applications";
  const wchar_t* const kRoot = L"SOFTWARE\\Veridane";

  for (const wchar_t* v : {Kw::kQuickActionShift, Kw::kQuickActionCtrl, Kw::kQuickActionAlt})
    AddCleanupLine(plat, L"HKU", kQuickActions, kCleanupValue, v);
  AddCleanupLine(plat, L"HKU", kQuickActions, kCleanupKey);

  for (const wchar_t* v :
       {SettingNames::kLastLogonPolicyTokens, Kw::kShowComplexFeedback.name,
        Kw::kSoundFeedback.name, Kw::kShowTaskbarIcon.name, Kw::kOpenSecurityManager.name,
        Kw::kPostponeAdminWizard, Kw::kLastPostponeSelection, Kw::kOOBEPassed.name,
        Kw::kLogonCount.name, Kw::kNaggingPeriodTimestamp.name})
    AddCleanupLine(plat, L"HKU", kKwAppSettings, kCleanupValue, v);
  AddCleanupLine(plat, L"HK", kKwAppSettings, kCleanupValue, Kw::kMachineConfigured.name);
  for (const wchar_t* key : {kKwAppSettings, kApplications, kRoot})
    AddCleanupLine(plat, L"HK", key, kCleanupKey);

  for (const wchar_t* v :
       {Ag::kShowUserWizard.name, Ag::kUserFPDoNotBotherAgain.name, Ag::kSaveFeedbackIconX.name,
        Ag::kSaveFeedbackIconY.name, Ag::kRegistrationBalloonCtr.name,
        Ag::kFingerprintBalloonCtr.name, Ag::kAdminSetupBalloonCtr.name,
        Ag::kNoDriversBalloonCtr.name, Ag::kReenrollmentPromptDoNotBotherAgain.name,
        Ag::kPasswordManagerPriority.name})
    AddCleanupLine(plat, L"HKU", kAgent, kCleanupValue, v);
  for (const wchar_t* key : {kAgent, kApplications, kRoot})
    AddCleanupLine(plat, L"HK", key, kCleanupKey);

  AddCleanupLine(plat, L"HKU", kApplications, kCleanupKey);
  AddCleanupLine(plat, L"HKLM", L"SOFTWARE\\Veridane\\Applications\\Agent\\PlugIns", kCleanupKey);
  AddCleanupLine(plat, L"HKLM", L"SOFTWARE\\Veridane\\Applications\\Agent\\PasswordResets",
                 kCleanupKeyFlag);
  for (const wchar_t* key : {kAgent, kApplications})
    AddCleanupLine(plat, L"HKLM", key, kCleanupKey);
}

}  // namespace support
