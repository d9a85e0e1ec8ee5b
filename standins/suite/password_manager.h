// The stand-in password-manager object: an in-process COM server whose DllGetClassObject
// hands out a class factory for CLSID_VDPasswordManager, whose objects implement
// IVDPasswordManager. Each call is recorded ("mini dashboard opened trained 1", "mini dashboard
// closed", "training tool"); each can be made to fail (showResult: the dashboard does not open,
// "mini dashboard failed 0x80070005"; trainingResult). The mini dashboard stays open until it
// is closed (CloseDashboard) or its described time has passed (IPasswordManagerSite::StayOpen),
// and the caller's messages keep running meanwhile, as they do inside a modal window.
//
//   CPasswordManagerServer pm(desc.passwordManager, site);
//   IClassFactory* f;  pm.GetClassObject(CLSID_VDPasswordManager, IID_IClassFactory, (void**)&f);
//   ... f->CreateInstance(nullptr, IID_IVDPasswordManager, ...)->ShowMiniDashboard(1) ...
//   ... meanwhile, from a timer or a message the caller runs: pm.CloseDashboard() ...
//
// Objects it hands out stay usable after the server goes; they then record nothing. Free of
// any platform.
#pragma once

#include <functional>
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
  // The dashboard is open on the calling thread: returns after `ms`, or earlier once
  // `closed()` is true (it becomes true only while the caller's messages run or time moves).
  virtual void StayOpen(ULONGLONG ms, const std::function<bool()>& closed) = 0;
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
  // Closes every dashboard open right now, as its user would; false when none is open (a
  // dashboard opened later is not affected).
  bool CloseDashboard();
  void SetDashboardOpenMs(ULONGLONG ms);
  void SetShowResult(HRESULT hr);
  void SetTrainingResult(HRESULT hr);

  struct State;

 private:
  std::shared_ptr<State> m_state;
};

}  // namespace suite_standin
