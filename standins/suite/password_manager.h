// The stand-in password-manager object: an in-process COM server whose DllGetClassObject
// hands out a class factory for CLSID_VDPasswordManager, whose objects implement
// IVDPasswordManager. Each call is recorded ("mini dashboard trained 1", "training tool");
// the mini dashboard stays open for the described time (IPasswordManagerSite::StayOpen),
// during which the caller's messages keep running, as they do during a COM call.
//
//   CPasswordManagerServer pm(desc.passwordManager, site);
//   IClassFactory* f;  pm.GetClassObject(CLSID_VDPasswordManager, IID_IClassFactory, (void**)&f);
//   ... f->CreateInstance(nullptr, IID_IVDPasswordManager, ...)->ShowMiniDashboard(1) ...
//
// Objects it hands out stay usable after the server goes; they then record nothing. Free of
// any platform.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "standins/suite/description.h"
#include "support/suite_components.h"

namespace suite_standin {

class IPasswordManagerSite {
 public:
  virtual ~IPasswordManagerSite() = default;
  virtual void Record(const std::wstring& text) = 0;
  // The dashboard is open on the calling thread for `ms`.
  virtual void StayOpen(ULONGLONG ms) = 0;
};

class CPasswordManagerServer {
 public:
  CPasswordManagerServer(PasswordManagerDesc desc, std::shared_ptr<IPasswordManagerSite> site);
  ~CPasswordManagerServer();
  CPasswordManagerServer(const CPasswordManagerServer&) = delete;
  CPasswordManagerServer& operator=(const CPasswordManagerServer&) = delete;

  // DllGetClassObject: IClassFactory (or IUnknown) of CLSID_VDPasswordManager, else
  // CLASS_E_CLASSNOTAVAILABLE.
  HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);

  // ---- Looking in and steering ----
  std::vector<std::wstring> Records() const;
  // COM objects handed out and not yet released for the last time.
  long LiveObjects() const;
  // Dashboards open right now (more than one means a caller opened it re-entrantly).
  long OpenDashboards() const;
  void SetDashboardOpenMs(ULONGLONG ms);

  struct State;

 private:
  std::shared_ptr<State> m_state;
};

}  // namespace suite_standin
