// The per-process memory of edition answers. Each answer about an edition is a tri-state
// (unknown, no, yes): filled on first use and never invalidated, so a process keeps seeing
// the edition that was installed when it first asked.
//
//   EDITIONS::TriState cache = process.EditionCache.Get(
//       EDITIONS::CEditionCaches::kIsInstalledProduct, key);   // unknown the first time
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace EDITIONS {

// Unknown (empty), false or true.
using TriState = std::optional<bool>;

// Safe to use from any thread: the window thread asks most, but launcher threads may too.
class CEditionCaches {
 public:
  enum Question { kIsInstalledProduct, kIsInstalled };

  // The cached answer for the edition key (compared without regard to case), or unknown.
  TriState Get(Question question, const std::wstring& editionKey) const;
  // Remembers an answer; the first answer stays when two threads race to store one.
  void Set(Question question, const std::wstring& editionKey, bool answer);

 private:
  mutable std::mutex m_mu;
  std::map<std::pair<Question, std::wstring>, bool> m_answers;
};

}  // namespace EDITIONS
