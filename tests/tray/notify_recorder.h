// A requester's callback object for tests: counted like any COM object, it records every
// (code, id) it is told and can run a reaction meanwhile (re-entering the queue, say).
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/com.h"
#include "support/toast_contract.h"

namespace traytest {

class CRecordingCallback final : public IVDNXTrayNotifyCallback {
 public:
  using Told = std::vector<std::pair<UINT, UINT>>;

  // The caller holds the one reference.
  static platform::ComPtr<CRecordingCallback> Create(HRESULT result = S_OK) {
    platform::ComPtr<CRecordingCallback> p;
    *p.put_void() = new CRecordingCallback(result);
    return p;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (refuseNotify && riid == IID_IVDNXTrayNotifyCallback) return E_NOINTERFACE;
    if (!(riid == IID_IUnknown) && !(riid == IID_IVDNXTrayNotifyCallback)) return E_NOINTERFACE;
    *ppv = static_cast<IVDNXTrayNotifyCallback*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE OnTrayNotify(UINT code, UINT id) override {
    {
      std::lock_guard lk(m_mu);
      m_told.push_back({code, id});
    }
    if (reaction) reaction(code, id);
    return m_result;
  }

  Told TellsSoFar() {
    std::lock_guard lk(m_mu);
    return m_told;
  }
  // References held by others than the test's own.
  ULONG OtherReferences() const { return m_refs.load() - 1; }

  std::function<void(UINT, UINT)> reaction;
  bool refuseNotify = false;

 private:
  explicit CRecordingCallback(HRESULT result) : m_result(result) {}
  ~CRecordingCallback() = default;

  HRESULT m_result;
  std::atomic<ULONG> m_refs{1};
  std::mutex m_mu;
  Told m_told;
};

}  // namespace traytest
