// A stand-in for the toast library, installed in the simulated machine's module table: it
// records each WinRT_DisplayToast call (strings copied, since the caller frees them right
// after) and keeps the completion so that the test decides when and how the toast ends.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process_com.h"
#include "support/toast_contract.h"

namespace traytest {

struct ToastCall {
  UINT32 id = 0;
  std::optional<std::wstring> title, message, button, idText, param;
  bool reservedNull = true;
  UINT32 flags = 0;
  PFN_ToastCompletion completion = nullptr;
  void* context = nullptr;
  long liveStrings = 0;  // automation strings alive during the call
};

class FakeToastLibrary {
 public:
  static constexpr const wchar_t* kPath = L"C:\\Windows\\system32\\VDWinRTUtils.dll";

  explicit FakeToastLibrary(sim::Machine& machine) {
    s_current = this;
    machine.Modules().Install(
        kPath, {{kWinRTDisplayToastExport,
                 reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&DisplayToast))}});
  }
  ~FakeToastLibrary() { s_current = nullptr; }

  std::vector<ToastCall> Calls() {
    std::lock_guard lk(m_mu);
    return m_calls;
  }
  // Ends toast `index` the way the library does, once.
  HRESULT Complete(size_t index, INT32 result) {
    const ToastCall c = Calls().at(index);
    return c.completion(c.context, result);
  }

  HRESULT result = S_OK;  // what the next displays answer

 private:
  static std::optional<std::wstring> Copy(BSTR b) {
    return b ? std::optional<std::wstring>(std::wstring(b)) : std::nullopt;
  }
  static HRESULT WINAPI DisplayToast(UINT32 id, BSTR title, BSTR message, void* reserved,
                                     BSTR button, BSTR idText, UINT32 flags, BSTR param,
                                     PFN_ToastCompletion completion, void* context) {
    FakeToastLibrary& self = *s_current;
    ToastCall c;
    c.id = id;
    c.title = Copy(title);
    c.message = Copy(message);
    c.reservedNull = reserved == nullptr;
    c.button = Copy(button);
    c.idText = Copy(idText);
    c.flags = flags;
    c.param = Copy(param);
    c.liveStrings = sim::ProcessCom::LiveStrings();
    if (SUCCEEDED(self.result)) {
      c.completion = completion;
      c.context = context;
    }
    std::lock_guard lk(self.m_mu);
    self.m_calls.push_back(c);
    return self.result;
  }

  static inline FakeToastLibrary* s_current = nullptr;
  std::mutex m_mu;
  std::vector<ToastCall> m_calls;
};

}  // namespace traytest
