#include "standins/suite/fill_in.h"

#include <cwchar>

namespace suite_standin {

std::wstring CommandText(DWORD code, ULONG_PTR param) {
  wchar_t buf[64];
  std::swprintf(buf, sizeof(buf) / sizeof(buf[0]), L"command %lu param 0x%llX",
                static_cast<unsigned long>(code), static_cast<unsigned long long>(param));
  return buf;
}

CFillInComponent::CFillInComponent(FillInDesc desc, std::shared_ptr<IFillInSite> site)
    : m_site(std::move(site)), m_desc(std::move(desc)) {}

void CFillInComponent::Record(std::wstring text) {
  {
    std::lock_guard lk(m_mu);
    m_records.push_back(text);
  }
  m_site->Record(text);
}

HRESULT CFillInComponent::Init(HWND hWnd, UINT replyMessage) {
  if (!hWnd) return E_INVALIDARG;
  {
    std::lock_guard lk(m_mu);
    m_window = hWnd;
    m_message = replyMessage;
    ++m_generation;
  }
  Record(L"init message " + std::to_wstring(replyMessage));
  return S_OK;
}

HRESULT CFillInComponent::Command(DWORD code, ULONG_PTR param, DWORD* result) {
  if (!result) return E_POINTER;
  *result = 0;
  Record(CommandText(code, param));
  FillInCommandDesc answer;
  HWND window = nullptr;
  UINT message = 0;
  unsigned generation = 0;
  {
    std::lock_guard lk(m_mu);
    if (auto it = m_desc.commands.find(code); it != m_desc.commands.end()) answer = it->second;
    window = m_window;
    message = m_message;
    generation = m_generation;
    if (code == kFillInCommandWithAuthentication && param) ++m_handlesReceived;
  }
  // The handle is ours once delivered, whatever the command answers: keeping it would leak
  // the library's operation, and the agent must not destroy it a second time.
  if (code == kFillInCommandWithAuthentication && param) {
    const HRESULT released = m_site->ReleaseAuthentication(param);
    if (SUCCEEDED(released)) {
      std::lock_guard lk(m_mu);
      ++m_handlesReleased;
    }
  }
  if (SUCCEEDED(answer.hr)) *result = answer.result;
  if (answer.reply && window) {
    const FillInReply r = *answer.reply;
    if (r.afterMs == 0) {
      m_site->PostMessageW(window, message, r.kind, r.value);
    } else {
      std::weak_ptr<CFillInComponent> self = weak_from_this();
      m_site->RunLater(r.afterMs, [self, generation, r] {
        auto me = self.lock();
        if (!me) return;
        HWND w = nullptr;
        UINT m = 0;
        {
          std::lock_guard lk(me->m_mu);
          if (me->m_generation != generation || !me->m_window) return;  // terminated meanwhile
          w = me->m_window;
          m = me->m_message;
        }
        me->m_site->PostMessageW(w, m, r.kind, r.value);
      });
    }
  }
  return answer.hr;
}

void CFillInComponent::Terminate() {
  {
    std::lock_guard lk(m_mu);
    m_window = nullptr;
    m_message = 0;
    ++m_generation;
  }
  Record(L"terminate");
}

bool CFillInComponent::PostReply(WPARAM kind, LPARAM value) {
  HWND w = nullptr;
  UINT m = 0;
  {
    std::lock_guard lk(m_mu);
    w = m_window;
    m = m_message;
  }
  return w && m_site->PostMessageW(w, m, kind, value);
}

void CFillInComponent::SetCommand(DWORD code, FillInCommandDesc command) {
  std::lock_guard lk(m_mu);
  m_desc.commands[code] = std::move(command);
}

HWND CFillInComponent::Window() const {
  std::lock_guard lk(m_mu);
  return m_window;
}

std::vector<std::wstring> CFillInComponent::Records() const {
  std::lock_guard lk(m_mu);
  return m_records;
}

unsigned CFillInComponent::HandlesReceived() const {
  std::lock_guard lk(m_mu);
  return m_handlesReceived;
}

unsigned CFillInComponent::HandlesReleased() const {
  std::lock_guard lk(m_mu);
  return m_handlesReleased;
}

}  // namespace suite_standin
