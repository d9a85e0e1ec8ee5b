#include "standins/eventlog/component.h"

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <mutex>

namespace eventlog_standin {

struct CEventLogComponent::State {
  mutable std::mutex mu;
  IEventLogSite* site = nullptr;  // null once the component is gone
  std::vector<EventRecord> records;
  HRESULT reportResult = S_OK;
  HRESULT createResult = S_OK;
  std::atomic<long> live{0};
};

namespace {

using State = CEventLogComponent::State;

// Reference counting shared by the two classes; the object counts itself as live.
template <typename Derived, typename Interface>
class CRefCounted : public Interface {
 public:
  explicit CRefCounted(std::shared_ptr<State> state) : m_state(std::move(state)) {
    ++m_state->live;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_refs;
    if (left == 0) {
      --m_state->live;
      delete static_cast<Derived*>(this);
    }
    return left;
  }

 protected:
  ~CRefCounted() = default;
  std::shared_ptr<State> m_state;

 private:
  std::atomic<ULONG> m_refs{1};
};

class CWriter final : public CRefCounted<CWriter, IVDEventLog> {
 public:
  CWriter(std::shared_ptr<State> state, DWORD pid, DWORD session)
      : CRefCounted(std::move(state)), m_pid(pid), m_session(session) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(riid == IID_IUnknown) && !(riid == IID_IVDEventLog)) return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IVDEventLog*>(this);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE ReportEvent(LPCWSTR pwszSource, DWORD dwLevel, DWORD dwType,
                                        DWORD dwCategory, DWORD dwEventId, DWORD cStrings,
                                        LPCWSTR* ppwszStrings, DWORD cbRawData,
                                        LPVOID pvRawData) override {
    // The system log takes at most 0xFFFF insertion strings, each a real string.
    if (!pwszSource || !*pwszSource || cStrings > 0xFFFF) return E_INVALIDARG;
    if (cStrings && !ppwszStrings) return E_POINTER;
    if (cbRawData && !pvRawData) return E_POINTER;
    EventRecord e;
    e.processId = m_pid;
    e.sessionId = m_session;
    e.source = pwszSource;
    e.level = dwLevel;
    e.type = dwType;
    e.category = dwCategory;
    e.eventId = dwEventId;
    e.stringArrayGiven = ppwszStrings != nullptr;
    e.rawDataSize = cbRawData;
    e.rawDataGiven = pvRawData != nullptr;
    for (DWORD i = 0; i < cStrings; ++i) {
      if (!ppwszStrings[i]) return E_POINTER;
      e.strings.emplace_back(ppwszStrings[i]);
    }
    IEventLogSite* site = nullptr;
    {
      std::lock_guard lk(m_state->mu);
      if (FAILED(m_state->reportResult)) return m_state->reportResult;
      m_state->records.push_back(e);
      site = m_state->site;
    }
    if (site) site->EventWritten(e);
    return S_OK;
  }

 private:
  DWORD m_pid;
  DWORD m_session;
};

class CFactory final : public CRefCounted<CFactory, IClassFactory> {
 public:
  CFactory(std::shared_ptr<State> state, DWORD pid, DWORD session)
      : CRefCounted(std::move(state)), m_pid(pid), m_session(session) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(riid == IID_IUnknown) && !(riid == IID_IClassFactory)) return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    {
      std::lock_guard lk(m_state->mu);
      if (FAILED(m_state->createResult)) return m_state->createResult;
    }
    auto* writer = new CWriter(m_state, m_pid, m_session);
    const HRESULT hr = writer->QueryInterface(riid, ppv);
    writer->Release();  // the caller's reference, if any, keeps it
    return hr;
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  DWORD m_pid;
  DWORD m_session;
};

const wchar_t* TypeText(DWORD type) {
  switch (type) {
    case 0:
      return L"success";
    case 1:
      return L"error";
    case 2:
      return L"warning";
    case 4:
      return L"information";
    default:
      return L"type ?";
  }
}

}  // namespace

std::wstring RenderEvent(const EventRecord& e) {
  wchar_t head[96];
  std::swprintf(head, sizeof(head) / sizeof(head[0]), L": event 0x%08X (%ls, category 0x%04X)",
                static_cast<unsigned>(e.eventId), TypeText(e.type),
                static_cast<unsigned>(e.category));
  std::wstring text = e.source + head;
  for (std::size_t i = 0; i < e.strings.size(); ++i)
    text += (i ? L", \"" : L" \"") + e.strings[i] + L"\"";
  return text;
}

CEventLogComponent::CEventLogComponent(IEventLogSite* site) : m_state(std::make_shared<State>()) {
  m_state->site = site;
}

CEventLogComponent::~CEventLogComponent() {
  std::lock_guard lk(m_state->mu);
  m_state->site = nullptr;
}

HRESULT CEventLogComponent::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv,
                                           DWORD processId, DWORD sessionId) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!(rclsid == CLSID_VDEventLog)) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new CFactory(m_state, processId, sessionId);
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

std::vector<EventRecord> CEventLogComponent::Records() const {
  std::lock_guard lk(m_state->mu);
  return m_state->records;
}

long CEventLogComponent::LiveObjects() const { return m_state->live.load(); }

void CEventLogComponent::SetReportResult(HRESULT hr) {
  std::lock_guard lk(m_state->mu);
  m_state->reportResult = hr;
}

void CEventLogComponent::SetCreateInstanceResult(HRESULT hr) {
  std::lock_guard lk(m_state->mu);
  m_state->createResult = hr;
}

}  // namespace eventlog_standin
