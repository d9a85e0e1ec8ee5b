// VDEvtLog.dll: the suite's event-log component as an in-process COM server, standing in for
// machines (and Wine prefixes) without the suite. Register it under
// HKLM\SOFTWARE\Classes\CLSID\{337779A6-4848-428E-BE47-5C1C951794A7}\InprocServer32 (in the
// registry view of the agent's bitness). Every event written becomes one line of VDEvtLog.log
// beside the DLL, in the text the simulated machine shows on its desktop:
//   {FB4CA59D-...}: event 0x41101305 (information, category 0x1300) "alice"
#include <windows.h>

#include <new>

#include "standins/eventlog/component.h"
#include "standins/win32/beside_log.h"

namespace {

class CBesideLogSite final : public eventlog_standin::IEventLogSite {
 public:
  void EventWritten(const eventlog_standin::EventRecord& e) override {
    standins::AppendBesideLog(L"VDEvtLog.log", eventlog_standin::RenderEvent(e));
  }
};

eventlog_standin::CEventLogComponent* Component() {
  // Lives until the process ends: writers handed out may outlive any unload we could see.
  static eventlog_standin::CEventLogComponent* component =
      new eventlog_standin::CEventLogComponent(new CBesideLogSite);
  return component;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  DWORD session = 0;
  ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
  try {
    return Component()->GetClassObject(rclsid, riid, ppv, ::GetCurrentProcessId(), session);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// The component keeps its records for the process's life: never unloaded under a live object.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }
