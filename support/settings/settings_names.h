// The agent's settings values: names, types and defaults, one table per section. Read and
// write them through the section objects (settings_section.h):
//
//   CKwAppSettings kw(plat);
//   if (kw.Get(SettingNames::KwAppSettings::kShowTaskbarIcon)) ...
//   CAgentSettings agent(plat);
//   agent.Set(SettingNames::Agent::kShowUserWizard, false);
//
// Values without a default here take the one the reading code gives.
#pragma once

#include "platform/win_types.h"

template <typename T>
struct CSetting {
  const wchar_t* name;
  T def;
};
using CBoolSetting = CSetting<bool>;
using CDwordSetting = CSetting<DWORD>;
using CStringSetting = CSetting<const wchar_t*>;

enum class SettingType { Bool, Dword, String, Qword };

// One table entry whatever its type, so that a section's settings can be listed (kAll).
struct CAnySetting {
  const wchar_t* name;
  SettingType type;
  ULONGLONG number;     // the default of Bool (0/1), Dword and Qword
  const wchar_t* text;  // the default of String

  constexpr CAnySetting(const wchar_t* n, SettingType t, ULONGLONG num, const wchar_t* txt)
      : name(n), type(t), number(num), text(txt) {}
  constexpr CAnySetting(const CBoolSetting& s)
      : CAnySetting(s.name, SettingType::Bool, s.def ? 1 : 0, nullptr) {}
  constexpr CAnySetting(const CDwordSetting& s)
      : CAnySetting(s.name, SettingType::Dword, s.def, nullptr) {}
  constexpr CAnySetting(const CStringSetting& s)
      : CAnySetting(s.name, SettingType::String, 0, s.def) {}
};

namespace SettingNames {

// REG_BINARY of exactly 8 bytes, little-endian credential-type mask; default 0.
inline constexpr const wchar_t* kLastLogonPolicyTokens = L"LastLogonPolicyTokens";

// "SOFTWARE\Veridane\Applications\KwAppSettings"
namespace KwAppSettings {
inline constexpr const wchar_t* kSection = L"KwAppSettings";
inline constexpr CBoolSetting kShowComplexFeedback{L"ShowComplexFeedback", true};
inline constexpr CBoolSetting kSoundFeedback{L"SoundFeedback", true};
inline constexpr CBoolSetting kShowTaskbarIcon{L"ShowTaskbarIcon", true};
inline constexpr CStringSetting kOpenSecurityManager{L"OpenSecurityManager", L"Ctrl+Win+72"};
inline constexpr CBoolSetting kOOBEPassed{L"OOBEPassed", false};
// Stored capped at 4.
inline constexpr CDwordSetting kLogonCount{L"LogonCount", 0};
// "%Y-%m-%d"
inline constexpr CStringSetting kNaggingPeriodTimestamp{L"NaggingPeriodTimestamp", L"1899-12-30"};
// Read only: written by the administrator's tools.
inline constexpr CBoolSetting kMachineConfigured{L"MachineConfigured", false};
inline constexpr CBoolSetting kUserEnrollmentComplete{L"UserEnrollmentComplete", false};
// Never read or written by the agent; only entered in the clean-up list.
inline constexpr const wchar_t* kPostponeAdminWizard = L"PostponeAdminWizard";
inline constexpr const wchar_t* kLastPostponeSelection = L"LastPostponeSelection";
// The user's quick actions: section "KwAppSettings\QuickActions".
inline constexpr const wchar_t* kQuickActionsSection = L"KwAppSettings\\QuickActions";
inline constexpr const wchar_t* kQuickActionFinger = L"Finger";
inline constexpr const wchar_t* kQuickActionCtrl = L"F+Ctrl";
inline constexpr const wchar_t* kQuickActionShift = L"F+Shift";
inline constexpr const wchar_t* kQuickActionAlt = L"F+Alt";

// Every value of the section the agent reads: keep each new setting above in this list too
// (a test compares it with the declarations of this file).
inline constexpr CAnySetting kAll[] = {
    {kLastLogonPolicyTokens, SettingType::Qword, 0, nullptr},
    kShowComplexFeedback,
    kSoundFeedback,
    kShowTaskbarIcon,
    kOpenSecurityManager,
    kOOBEPassed,
    kLogonCount,
    kNaggingPeriodTimestamp,
    kMachineConfigured,
    kUserEnrollmentComplete,
};
// The user's own quick actions (sub-key "QuickActions") with the defaults their reader takes.
inline constexpr CAnySetting kQuickActions[] = {
    {kQuickActionFinger, SettingType::String, 0, L"KwI"},
    {kQuickActionCtrl, SettingType::String, 0, L""},
    {kQuickActionShift, SettingType::String, 0, L""},
};
}  // namespace KwAppSettings

// "SOFTWARE\Veridane\Applications\Agent"
namespace Agent {
inline constexpr const wchar_t* kSection = L"Agent";
inline constexpr CBoolSetting kShowUserWizard{L"ShowUserWizard", true};
inline constexpr CBoolSetting kUserFPDoNotBotherAgain{L"UserFPDoNotBotherAgain", false};
inline constexpr CBoolSetting kReenrollmentPromptDoNotBotherAgain{
    L"ReenrollmentPromptDoNotBotherAgain", false};
inline constexpr CDwordSetting kSaveFeedbackIconX{L"SaveFeedbackIconX", 10};
inline constexpr CDwordSetting kSaveFeedbackIconY{L"SaveFeedbackIconY", 10};
// Remaining showings of the reader-connected balloons; never stored below 0.
inline constexpr CDwordSetting kRegistrationBalloonCtr{L"RegistrationBalloonCtr", 3};
inline constexpr CDwordSetting kFingerprintBalloonCtr{L"FingerprintBalloonCtr", 3};
inline constexpr CDwordSetting kAdminSetupBalloonCtr{L"AdminSetupBalloonCtr", 3};
inline constexpr CDwordSetting kNoDriversBalloonCtr{L"NoDriversBalloonCtr", 3};
inline constexpr CDwordSetting kPasswordManagerPriority{L"PasswordManagerPriority", 0};

// Every value of the section: keep each new setting above in this list too.
inline constexpr CAnySetting kAll[] = {
    kShowUserWizard,          kUserFPDoNotBotherAgain, kReenrollmentPromptDoNotBotherAgain,
    kSaveFeedbackIconX,       kSaveFeedbackIconY,      kRegistrationBalloonCtr,
    kFingerprintBalloonCtr,   kAdminSetupBalloonCtr,   kNoDriversBalloonCtr,
    kPasswordManagerPriority,
};
}  // namespace Agent

// Named policies, read through GPO or a section read (defaults belong to their readers).
namespace Policies {
inline constexpr const wchar_t* kCredentialsSelfEnrollment = L"CredentialsSelfEnrollment";
inline constexpr const wchar_t* kDisableRegistrationAtLogon = L"DisableRegistrationAtLogon";
inline constexpr const wchar_t* kStandaloneMode = L"StandaloneMode";
inline constexpr const wchar_t* kMsWinbioCompatibility = L"MS_WINBIO_Compatibility";
inline constexpr const wchar_t* kAdminNaggingPeriodReminder =
    L"Applications\\{5ED04F3F-AC3E-4BE0-A157-782B204E2B8C}\\LogonPolicyAdminNaggingPeriodReminder";
inline constexpr const wchar_t* kUserNaggingPeriodReminder =
    L"Applications\\{5ED04F3F-AC3E-4BE0-A157-782B204E2B8C}\\LogonPolicyUserNaggingPeriodReminder";
inline constexpr const wchar_t* kLockUponSmartcardRemoval = L"LockUponSmartcardRemoval";
inline constexpr const wchar_t* kDisableApps =
    L"CommonSettings\\{42F9948B-B690-4325-A073-63A8BF31FF32}\\DisableApps";
// Section "QuickActions": the policy status values and the policy action values.
inline constexpr const wchar_t* kQuickActionsSection = L"QuickActions";
inline constexpr const wchar_t* kQaFingerStatus = L"QuickActions\\QA_Finger";
inline constexpr const wchar_t* kQaCtrlStatus = L"QuickActions\\QA_F+Ctrl";
inline constexpr const wchar_t* kQaShiftStatus = L"QuickActions\\QA_F+Shift";
inline constexpr const wchar_t* kQaFingerAction = L"QuickActions\\Finger";
inline constexpr const wchar_t* kQaCtrlAction = L"QuickActions\\F+Ctrl";
inline constexpr const wchar_t* kQaShiftAction = L"QuickActions\\F+Shift";

// How the agent reads a named policy.
enum class PolicyRead {
  Library,        // the library's query alone (GPO::get): types 1, 3 and 4
  LibraryUInt32,  // the library's query alone, only type 4 counts
  Section,        // the layered read of section "QuickActions"
  // The library's query; when the query itself fails, HKLM "SOFTWARE\Veridane\VDHost"
  // "WBFDevice" (support/settings/host_settings.h), else 0.
  LibraryElseWbfDevice,
};
struct CPolicyEntry {
  CAnySetting setting;  // the default is the one its reader takes
  PolicyRead read;
};
// Every named policy the agent reads: keep each new one above in this list too.
inline constexpr CPolicyEntry kAll[] = {
    {{kCredentialsSelfEnrollment, SettingType::Bool, 1, nullptr}, PolicyRead::LibraryUInt32},
    {{kDisableRegistrationAtLogon, SettingType::Bool, 0, nullptr}, PolicyRead::Library},
    {{kStandaloneMode, SettingType::Bool, 0, nullptr}, PolicyRead::Library},
    {{kMsWinbioCompatibility, SettingType::Dword, 1, nullptr}, PolicyRead::LibraryElseWbfDevice},
    {{kAdminNaggingPeriodReminder, SettingType::Dword, 1, nullptr}, PolicyRead::Library},
    {{kUserNaggingPeriodReminder, SettingType::Dword, 1, nullptr}, PolicyRead::Library},
    {{kLockUponSmartcardRemoval, SettingType::Dword, 0, nullptr}, PolicyRead::Library},
    {{kDisableApps, SettingType::Bool, 0, nullptr}, PolicyRead::Library},
    {{kQaFingerStatus, SettingType::Dword, 2, nullptr}, PolicyRead::Section},
    {{kQaCtrlStatus, SettingType::Dword, 2, nullptr}, PolicyRead::Section},
    {{kQaShiftStatus, SettingType::Dword, 2, nullptr}, PolicyRead::Section},
    {{kQaFingerAction, SettingType::String, 0, L""}, PolicyRead::Section},
    {{kQaCtrlAction, SettingType::String, 0, L""}, PolicyRead::Section},
    {{kQaShiftAction, SettingType::String, 0, L""}, PolicyRead::Section},
};
}  // namespace Policies

}  // namespace SettingNames
