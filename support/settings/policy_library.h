// What the named-policy reads need of the authentication client library: the policy query
// and its buffer functions. Both bindings of the library fit, the process's `CVDFPApi` and
// the settings reader's own `CVDFPApiWr`:
//
//   auto lib = GPO::PolicyLibrary(process.AuthLibrary());
//   GPO::CPolicySettings batch(lib);
//
// The library hands strings, blobs and arrays back as its own blocks; whatever read them
// gives them back through BufferFree (CVDVariant::Clear does it).
#pragma once

#include "support/vdfp/vdfpapi_types.h"

namespace GPO {

class IPolicyLibrary {
 public:
  virtual ~IPolicyLibrary() = default;
  // VDFPGetPolicySettingsEx; E_NOTIMPL when the library or the entry point is missing.
  virtual HRESULT GetPolicySettingsEx(DWORD cItems, VDFP_POLICY_ITEM* pItems) = 0;
  // A zero-filled block; null when the library, the entry point or the memory is missing.
  virtual LPVOID BufferAlloc(SIZE_T cb) = 0;
  // Null is accepted.
  virtual void BufferFree(LPVOID pv) = 0;
};

// Adapts a binding that names its operations after the library's entry points.
template <typename Api>
class CPolicyLibrary final : public IPolicyLibrary {
 public:
  explicit CPolicyLibrary(Api& api) : m_api(&api) {}
  HRESULT GetPolicySettingsEx(DWORD cItems, VDFP_POLICY_ITEM* pItems) override {
    return m_api->VDFPGetPolicySettingsEx(cItems, pItems);
  }
  LPVOID BufferAlloc(SIZE_T cb) override { return m_api->VDFPBufferAlloc(cb); }
  void BufferFree(LPVOID pv) override { m_api->VDFPBufferFree(pv); }

 private:
  Api* m_api;
};

template <typename Api>
CPolicyLibrary<Api> PolicyLibrary(Api& api) {
  return CPolicyLibrary<Api>(api);
}

}  // namespace GPO
