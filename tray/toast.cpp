#include "tray/toast.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "support/result_error.h"
#include "support/trace/trace.h"

namespace {

// Items the toast library holds, until its completion hands them back. A process that ends
// with toasts on show still reaches them from here; a completion with a context that is not
// (or no longer) listed is refused rather than deleting what is not ours.
std::mutex& OutstandingLock() {
  static std::mutex lock;
  return lock;
}
std::set<const CToastItem*>& Outstanding() {
  static auto* items = new std::set<const CToastItem*>();
  return *items;
}
void Hold(const CToastItem* item) {
  std::lock_guard lk(OutstandingLock());
  Outstanding().insert(item);
}
bool Release(const CToastItem* item) {
  std::lock_guard lk(OutstandingLock());
  return Outstanding().erase(item) != 0;
}

// An automation string of the process, freed through the same ICom whatever happens.
class CBstr {
 public:
  CBstr(platform::ICom& com, const wchar_t* text) : m_com(com) {
    if (!text) return;
    m_bstr = com.SysAllocString(text);
    if (!m_bstr) throw CResultError(E_OUTOFMEMORY);
  }
  ~CBstr() { m_com.SysFreeString(m_bstr); }
  CBstr(const CBstr&) = delete;
  CBstr& operator=(const CBstr&) = delete;
  BSTR get() const { return m_bstr; }
  UINT Length() const { return m_com.SysStringLen(m_bstr); }

 private:
  platform::ICom& m_com;
  BSTR m_bstr = nullptr;
};

const wchar_t* OrNull(const wchar_t* s) { return s ? s : L"(null)"; }

}  // namespace

// ---- CToastParameters ----

CToastParameters::CToastParameters(std::wstring title, std::wstring message, DWORD flags,
                                   std::optional<std::wstring> param, UINT id, IUnknown* callback)
    : m_title(std::move(title)),
      m_message(std::move(message)),
      m_flags(flags),
      m_param(std::move(param)),
      m_id(id) {
  if (callback) {
    callback->AddRef();
    m_callback.reset(callback);
  }
}

HRESULT CToastParameters::DisplayToast(const CToastEnvironment& env) const {
  VDTraceNS::CScope ts("CToastParameters::DisplayToast");
  const wchar_t* param = m_param ? m_param->c_str() : nullptr;
  HRESULT hr = S_OK;
  try {
    auto item = std::make_unique<CToastItem>(m_title.c_str(), m_message.c_str(), m_flags, param,
                                             m_id, m_callback.get());
    hr = CToastItem::Display(std::move(item), env, m_title.c_str(), m_message.c_str(), m_flags,
                             param);
  } catch (const CResultError& e) {
    hr = e.Result();
  } catch (...) {
    hr = E_UNEXPECTED;  // only result errors are raised on the way; anything else is a fault
  }
  return ts.Result("Displaying toast", hr);
}

// ---- CToastItem ----

CToastItem::CToastItem(const wchar_t* title, const wchar_t* message, DWORD flags,
                       const wchar_t* param, UINT id, IUnknown* callback)
    : m_id(id) {
  VDTraceNS::CScope ts("CToastItem::CToastItem");
  ts.Msg(L"title: %ls", OrNull(title));
  ts.Msg(L"message: %ls", OrNull(message));
  ts.Msg("flags: 0x%08X", static_cast<unsigned>(flags));
  ts.Msg(L"param: %ls", OrNull(param));
  ts.Msg("id: 0x%08X", id);
  ts.Msg("callback: 0x%X", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(callback)));
  if (callback) {
    callback->AddRef();
    m_callback.reset(callback);
  }
}

HRESULT CToastItem::Display(std::unique_ptr<CToastItem> item, const CToastEnvironment& env,
                            const wchar_t* title, const wchar_t* message, DWORD flags,
                            const wchar_t* param) {
  VDTraceNS::CScope ts("CToastItem::Display");
  if (!env.library) return ts.Result("No toast library", E_UNEXPECTED);
  item->m_library = env.library;
  const UINT id = item->m_id;
  wchar_t idText[16] = {};
  std::swprintf(idText, 16, L"%08X", id);

  // Every string is freed on the way out, shown or not.
  CBstr bstrTitle(env.com, title ? title : L"");
  std::unique_ptr<CBstr> ownTitle;
  BSTR shownTitle = bstrTitle.get();
  if (bstrTitle.Length() == 0) {
    const std::wstring text =
        env.strings ? env.strings(CToastParameters::kDefaultTitleString) : std::wstring();
    ownTitle = std::make_unique<CBstr>(env.com, text.c_str());
    shownTitle = ownTitle->get();
  }
  std::unique_ptr<CBstr> button;
  if (flags & CToastParameters::kButtonFlag) {
    const std::wstring text =
        env.strings ? env.strings(CToastParameters::kButtonString) : std::wstring();
    button = std::make_unique<CBstr>(env.com, text.c_str());
  }
  CBstr bstrParam(env.com, param);
  CBstr bstrId(env.com, idText);
  CBstr bstrMessage(env.com, message ? message : L"");

  CToastItem* context = item.get();
  Hold(context);  // before the call: the completion may come before it returns
  const HRESULT hr = env.library->Guard([&]() -> HRESULT {
    auto show = env.library->Resolve<PFN_WinRT_DisplayToast>(kWinRTDisplayToastExport, 0);
    return show(id, shownTitle, bstrMessage.get(), nullptr, button ? button->get() : nullptr,
                bstrId.get(), flags, bstrParam.get(), &CToastItem::ToastCallback, context);
  });
  // From here on `context` may be gone already: the library owns it once it said yes.
  if (SUCCEEDED(hr))
    item.release();
  else
    Release(context);
  return ts.Result("WinRT_DisplayToast", hr);
}

UINT CToastItem::CodeForResult(INT32 toastResult) {
  switch (toastResult) {
    case kToastResultActivated:
      return NIN_BALLOONUSERCLICK;
    case kToastResultTimedOut:
      return NIN_BALLOONTIMEOUT;
    case kToastResultButton:
      return kTrayNotifyToastButton;
    default:
      return NIN_BALLOONHIDE;
  }
}

HRESULT WINAPI CToastItem::ToastCallback(void* context, INT32 toastResult) {
  VDTraceNS::CScope ts("CToastItem::ToastCallback");
  ts.Msg("toastResult = %d", static_cast<int>(toastResult));
  if (!context || !Release(static_cast<CToastItem*>(context)))
    return ts.Result("No toast item", E_INVALIDARG);
  // Deleted whatever the callback does: the library calls exactly once.
  std::unique_ptr<CToastItem> item(static_cast<CToastItem*>(context));
  HRESULT hr = E_INVALIDARG;
  try {
    if (item->m_callback) {
      platform::ComPtr<IVDNXTrayNotifyCallback> callback;
      hr = item->m_callback->QueryInterface(IID_IVDNXTrayNotifyCallback, callback.put_void());
      if (SUCCEEDED(hr) && callback)
        hr = callback->OnTrayNotify(CodeForResult(toastResult), item->m_id);
    }
  } catch (const CResultError& e) {
    hr = e.Result();
  } catch (...) {
    hr = E_UNEXPECTED;  // a requester's fault never reaches the library's thread
  }
  item->m_callback.reset();
  KeepLibraryPastItsCallback(std::move(item->m_library));
  return ts.Result("OnTrayNotify", hr);
}

void CToastItem::KeepLibraryPastItsCallback(std::shared_ptr<CDelayLoadLibrary> library) {
  // Unloading the library from inside its own completion would return into unmapped code.
  // When the tray is gone and this was the last toast, the library stays loaded for the
  // process's remaining life instead (held from a static, so it is not a leak).
  if (!library || library.use_count() > 1) return;
  static std::mutex lock;
  static auto* kept = new std::vector<std::shared_ptr<CDelayLoadLibrary>>();
  std::lock_guard lk(lock);
  kept->push_back(std::move(library));
}

// ---- CToastQueue ----

void CToastQueue::Push(std::unique_ptr<CToastParameters> request) {
  std::lock_guard lk(m_lock);
  m_queue.push_back(std::move(request));
}

std::unique_ptr<CToastParameters> CToastQueue::Withdraw(const CToastParameters* request) {
  std::lock_guard lk(m_lock);
  auto it = std::find_if(m_queue.begin(), m_queue.end(),
                         [&](const auto& r) { return r.get() == request; });
  if (it == m_queue.end()) return nullptr;
  auto taken = std::move(*it);
  m_queue.erase(it);
  return taken;
}

std::deque<std::unique_ptr<CToastParameters>> CToastQueue::TakeAll() {
  std::lock_guard lk(m_lock);
  return std::exchange(m_queue, {});
}

size_t CToastQueue::Size() const {
  std::lock_guard lk(m_lock);
  return m_queue.size();
}
