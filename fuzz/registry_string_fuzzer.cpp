// libFuzzer target for the agent's registry string readers: any value another program may
// have stored (any type, any size, odd byte counts, no terminator, zeros inside, far too
// long) read by each of them on the simulated machine. A plain model says what each must
// give: a string is the characters before the first zero of what the registry returned,
// as every Windows caller of the value sees it; a reader with a length limit refuses more;
// a DWORD is exactly four bytes of REG_DWORD. ASan watches that no reader goes past the
// returned data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/agent_registration.h"
#include "kiosk/unlock_script.h"
#include "platform/handles.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "policy/ux_environment.h"
#include "support/registry_read.h"
#include "support/trace/trace.h"
#include "support/trace/trace_config.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr const wchar_t* kPath = L"SOFTWARE\\Veridane\\Fuzz";
constexpr const wchar_t* kName = L"Value";
constexpr const wchar_t* kImageKey = L"SOFTWARE\\Hewlett-Packard\\HP Image";
constexpr DWORD kMaxStateChars = 260;
constexpr const wchar_t* kLumeraPolicies = L"SOFTWARE\\Policies\\Veridane\\Lumera";

const DWORD kTypes[] = {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY, REG_NONE};

// One machine for the whole run: building one per input would leave no time to fuzz.
struct Rig {
  sim::Machine machine;
  std::unique_ptr<sim::Process> process = machine.CreateProcess({.sessionId = 1});
  sim::CurrentProcessScope scope{process.get()};
  Rig() { VDTraceNS::Bind(nullptr); }
};

bool IsString(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// The whole characters of the stored bytes, as far as the first zero.
struct Model {
  std::wstring text;    // before the first zero
  bool terminated;      // a zero within the whole characters
  std::size_t units;    // whole characters stored
};

Model Decode(const std::vector<BYTE>& bytes) {
  Model m;
  m.units = bytes.size() / sizeof(wchar_t);
  std::vector<wchar_t> chars(m.units);
  if (m.units) std::memcpy(chars.data(), bytes.data(), m.units * sizeof(wchar_t));
  std::size_t len = 0;
  while (len < m.units && chars[len] != L'\0') ++len;
  m.text.assign(chars.data(), len);
  m.terminated = len < m.units;
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Rig rig;
  if (size < 2) return 0;
  const DWORD type = kTypes[data[0] % (sizeof(kTypes) / sizeof(kTypes[0]))];
  const DWORD maxChars = data[1] % 64;
  const std::vector<BYTE> bytes(data + 2, data + size);
  const Model model = Decode(bytes);

  auto& store = rig.machine.Registry();
  store.SetValue(std::wstring(L"HKLM\\") + kPath, kName, type, bytes);
  store.SetValue(std::wstring(L"HKLM\\") + VDTraceNS::kTracingKey, L"FuzzValue", type, bytes);
  store.SetValue(std::wstring(L"HKLM\\") + kImageKey, L"StateName", type, bytes);
  store.SetValue(std::wstring(L"HKLM\\") + VDTraceNS::kTracingKey, L"Verbosity", type, bytes);
  store.SetValue(std::wstring(L"HKLM\\") + kLumeraPolicies, L"KioskUnlockScript", type, bytes);
  platform::IRegistry& reg = rig.process->Registry();
  const REGSAM view = support::SuiteView(reg);

  // The helper with a length limit: the string, or nothing when it is longer than the limit.
  const auto limited = support::ReadString(reg, HKEY_LOCAL_MACHINE, kPath, kName, view, maxChars);
  const bool fits = bytes.size() <= (maxChars + 1) * sizeof(wchar_t) && model.text.size() <= maxChars;
  Check(limited.has_value() == (IsString(type) && fits));
  if (limited) Check(*limited == model.text);

  const auto dword = support::ReadDword(reg, HKEY_LOCAL_MACHINE, kPath, kName, view);
  Check(dword.has_value() == (type == REG_DWORD && bytes.size() == sizeof(DWORD)));
  if (dword) {
    DWORD expected;
    std::memcpy(&expected, bytes.data(), sizeof expected);
    Check(*dword == expected);
  }

  // The registration's reader takes any length.
  {
    platform::UniqueHKey key(reg);
    Check(reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPath, 0, KEY_READ | view, key.put()) ==
          ERROR_SUCCESS);
    for (const bool expand : {false, true}) {
      std::wstring out;
      const auto st = registration::ReadString(reg, key.get(), kName, &out, expand);
      const bool accepted = type == REG_SZ || (expand && type == REG_EXPAND_SZ);
      Check((st == registration::StringRead::Ok) == accepted);
      if (accepted) Check(out == model.text);
      if (!accepted) Check(st == registration::StringRead::WrongType && out.empty());
    }
  }

  // The tracing settings: REG_SZ as stored (REG_EXPAND_SZ is expanded, so only its safety
  // is checked here).
  const std::wstring traced = VDTraceNS::ReadTraceString(*rig.process, L"FuzzValue");
  if (type == REG_SZ) Check(traced == model.text);
  if (!IsString(type)) Check(traced.empty());

  // The trace verbosity: a DWORD or nothing (0).
  const auto verbosity =
      static_cast<DWORD>(VDTraceNS::ReadTraceFilter(*rig.process, L"VdAgent").verbosity);
  Check(verbosity == dword.value_or(0));

  // The kiosk unlock script: only a non-empty string of at most its limit, and any such
  // string stored with its terminator is taken.
  const auto script = KIOSK::GetUnlockScript(*rig.process);
  if (script) Check(IsString(type) && *script == model.text && !script->empty() &&
                    script->size() <= KIOSK::kMaxUnlockScriptChars);
  if (IsString(type) && model.terminated && !model.text.empty() &&
      bytes.size() <= (KIOSK::kMaxUnlockScriptChars + 1) * sizeof(wchar_t))
    Check(script.has_value());

  // The image state: complete only for a terminated REG_SZ that says so, within its limit
  // (the comparison, without case, is the machine's).
  const bool complete =
      type == REG_SZ && model.terminated && bytes.size() % sizeof(wchar_t) == 0 &&
      bytes.size() <= (kMaxStateChars + 1) * sizeof(wchar_t) &&
      rig.process->Kernel().CompareStringOrdinal(model.text.c_str(), -1, L"IMAGE_STATE_COMPLETE",
                                                 -1, TRUE) == CSTR_EQUAL;
  Check(ux_env::IsHPImageReady(*rig.process) == (complete ? 2 : 1));
  return 0;
}
