// The stand-in event-log component: the suite's in-process COM server that writes events to
// the system log, here keeping them as structured records instead. Free of any platform;
// sim_install.h puts it on the simulated machine.
//
//   CEventLogComponent log(site);
//   IClassFactory* f;  log.GetClassObject(CLSID_VDEventLog, IID_IClassFactory, (void**)&f, pid, 1);
//   ... f->CreateInstance(nullptr, IID_IVDEventLog, ...)->ReportEvent(...) ...
//   log.Records()[0].eventId == 0x41101305
//
// Objects it hands out stay usable after the component goes; what they write then reaches
// nobody.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/vdeventlog_types.h"

namespace eventlog_standin {

// One event as the component received it.
struct EventRecord {
  DWORD processId = 0;  // the process the writer object lives in
  DWORD sessionId = 0;
  std::wstring source;
  DWORD level = 0;
  DWORD type = 0;
  DWORD category = 0;
  DWORD eventId = 0;
  std::vector<std::wstring> strings;
  bool stringArrayGiven = false;  // the array pointer was not null
  DWORD rawDataSize = 0;
  bool rawDataGiven = false;  // the raw-data pointer was not null

  bool operator==(const EventRecord&) const = default;
};

// "<source>: event 0x41101305 (information, category 0x1300) "alice"".
std::wstring RenderEvent(const EventRecord& e);

// Told of every event written, outside the component's lock.
class IEventLogSite {
 public:
  virtual ~IEventLogSite() = default;
  virtual void EventWritten(const EventRecord& e) = 0;
};

class CEventLogComponent {
 public:
  explicit CEventLogComponent(IEventLogSite* site = nullptr);
  ~CEventLogComponent();
  CEventLogComponent(const CEventLogComponent&) = delete;
  CEventLogComponent& operator=(const CEventLogComponent&) = delete;

  // The component's DllGetClassObject, for a caller in process `processId` of `sessionId`:
  // IClassFactory (or IUnknown) of CLSID_VDEventLog, else CLASS_E_CLASSNOTAVAILABLE.
  HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv, DWORD processId,
                         DWORD sessionId);

  // ---- Looking in and steering (tests) ----
  std::vector<EventRecord> Records() const;
  // COM objects handed out and not yet released for the last time.
  long LiveObjects() const;
  // What ReportEvent answers after accepting its arguments (S_OK by default): a failure
  // writes nothing.
  void SetReportResult(HRESULT hr);
  // What CreateInstance answers for the writer interface (S_OK by default).
  void SetCreateInstanceResult(HRESULT hr);

  struct State;

 private:
  std::shared_ptr<State> m_state;
};

}  // namespace eventlog_standin
