// libFuzzer target for the machine description: the JSON the stand-ins of the authentication
// library, the card library, the tray plug-ins, the suite and the toasts read their machine
// from. On any text each reader gives a description or refuses with its own error and a short
// message; nothing else escapes (a json exception, an out_of_range). What is accepted keeps
// the documented ranges and is accepted again the same way. The text helpers the readers
// share are checked against plain models: UTF-8 in and out is the identity on valid UTF-8,
// and a GUID read from text prints back as that text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cwctype>
#include <string>

#include "standins/plugins/description.h"
#include "standins/suite/description.h"
#include "standins/toast/description.h"
#include "standins/vdfpapi/description.h"
#include "standins/vdscapi/description.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// A refusal says what is wrong, in a message bounded by the input: a reader that printed
// the offending value at each level of its nesting would grow it far beyond. The JSON
// library's own message repeats the token it stopped at, each control character spelt
// "<U+0009>": eight characters a byte at most.
void CheckMessage(const std::exception& e, std::size_t inputSize) {
  const std::string what = e.what();
  Check(!what.empty());
  Check(what.size() <= 8 * inputSize + 512);
}

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF): the only text
// for which decoding and encoding again must give the same bytes.
bool ValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n;
    char32_t cp, min;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      n = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      n = 4, cp = c & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k) {
      const unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
    i += n;
  }
  return true;
}

void CheckVdfp(const std::string& text) {
  using namespace vdfp_standin;
  VdfpDescription d;
  try {
    d = VdfpDescription::FromJson(text);
  } catch (const DescriptionError& e) {
    CheckMessage(e, text.size());
    return;
  }
  Check(d.asyncReplyDelayMs <= 24ull * 60 * 60 * 1000);
  for (const auto& u : d.users) {
    Check(u.session <= 65535);
    // Every name format but the agent's own is filled in after parsing.
    for (DWORD format = 1; format <= 8; ++format) Check(u.names.count(format) == 1);
  }
  for (const auto& t : d.tokens) Check(GuidFromString(GuidToString(t.guid)).has_value());
  // Accepted again the same way.
  const VdfpDescription again = VdfpDescription::FromJson(text);
  Check(again.users.size() == d.users.size() && again.tokens.size() == d.tokens.size() &&
        again.readers.size() == d.readers.size() &&
        again.policySettings.size() == d.policySettings.size() &&
        again.protectedData.size() == d.protectedData.size());
  for (std::size_t i = 0; i < d.users.size(); ++i)
    Check(again.users[i].sid == d.users[i].sid && again.users[i].names == d.users[i].names &&
          again.users[i].enrolled == d.users[i].enrolled);
}

template <typename Description, typename Error>
void CheckReader(const std::string& text) {
  try {
    Description::FromJson(text);
  } catch (const Error& e) {
    CheckMessage(e, text.size());
  }
}

void CheckTextHelpers(const std::string& bytes) {
  using namespace vdfp_standin;
  const std::wstring wide = Utf8ToWide(bytes);
  if (ValidUtf8(bytes)) Check(WideToUtf8(wide) == bytes);
  const auto guid = GuidFromString(wide);
  if (guid) {
    const std::wstring printed = GuidToString(*guid);
    const std::wstring braced = wide.size() == 38 ? wide : L"{" + wide + L"}";
    Check(printed.size() == braced.size());
    for (std::size_t i = 0; i < printed.size(); ++i)
      Check(printed[i] == static_cast<wchar_t>(std::towupper(static_cast<wint_t>(braced[i]))));
    const auto back = GuidFromString(printed);
    Check(back && back->Data1 == guid->Data1 && back->Data2 == guid->Data2 &&
          back->Data3 == guid->Data3);
    for (int i = 0; i < 8; ++i) Check(back->Data4[i] == guid->Data4[i]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // Only the readers' own errors may come out; anything else ends the run as a finding.
  CheckVdfp(text);
  CheckReader<vdsc_standin::CardsDescription, vdfp_standin::DescriptionError>(text);
  CheckReader<plugin_standin::TrayPluginsDescription, plugin_standin::TrayPluginsDescriptionError>(
      text);
  CheckReader<suite_standin::SuiteDescription, suite_standin::SuiteDescriptionError>(text);
  CheckReader<toast_standin::ToastStandInsDescription, toast_standin::ToastDescriptionError>(text);
  CheckTextHelpers(text);
  return 0;
}
