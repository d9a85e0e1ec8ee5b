#include "support/editions/edition_cache.h"

#include <cwctype>

namespace EDITIONS {

namespace {
std::wstring Folded(const std::wstring& s) {
  std::wstring out(s);
  for (auto& c : out) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return out;
}
}  // namespace

TriState CEditionCaches::Get(Question question, const std::wstring& editionKey) const {
  std::lock_guard lk(m_mu);
  auto it = m_answers.find({question, Folded(editionKey)});
  if (it == m_answers.end()) return std::nullopt;
  return it->second;
}

void CEditionCaches::Set(Question question, const std::wstring& editionKey, bool answer) {
  std::lock_guard lk(m_mu);
  m_answers.emplace(std::make_pair(question, Folded(editionKey)), answer);
}

}  // namespace EDITIONS
