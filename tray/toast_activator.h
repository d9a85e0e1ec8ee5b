// The toast activator: the COM class the shell calls when the user clicks one of the
// agent's toasts, also later from the action center. The toast's command (its activation
// arguments) is carried out as a command-line command.
//
//   platform::ComPtr<IClassFactory> factory = CToastActivator::CreateFactory(
//       [&](const std::wstring& command) { return CLI::Handle(process, command); });
//   com.CoRegisterClassObject(CLSID_ToastActivator, factory.get(), CLSCTX_LOCAL_SERVER,
//                             REGCLS_MULTIPLEUSE, &cookie);
//
// Free-threaded: Activate runs on a COM thread of the local server.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "platform/com.h"
#include "support/toast_contract.h"

class CToastActivator final : public INotificationActivationCallback {
 public:
  // True when the command was carried out.
  using CommandHandler = std::function<bool(const std::wstring&)>;

  // A new object (aggregated in `outer` when given: then `riid` must be IID_IUnknown and
  // the inner unknown is handed out).
  static HRESULT CreateInstance(CommandHandler handler, IUnknown* outer, REFIID riid, void** ppv);
  // The class object, holding one reference for the caller.
  static platform::ComPtr<IClassFactory> CreateFactory(CommandHandler handler);
  // Objects and class objects alive in the process, for tests.
  static long LiveObjects();

  // Delegating IUnknown: to the outer object when aggregated.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // Null arguments: S_FALSE. Anything else, empty too, goes to the command handler: S_OK
  // when it carried the command out, S_FALSE otherwise. User input is ignored.
  HRESULT STDMETHODCALLTYPE Activate(LPCWSTR appUserModelId, LPCWSTR invokedArgs,
                                     const NOTIFICATION_USER_INPUT_DATA* data,
                                     ULONG count) override;

 private:
  // The object's own IUnknown, which owns its life.
  struct CInner final : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    CToastActivator* self = nullptr;
    std::atomic<ULONG> refs{1};
  };

  CToastActivator(CommandHandler handler, IUnknown* outer);
  ~CToastActivator();

  CommandHandler m_handler;
  CInner m_inner;
  IUnknown* m_outer;  // the controlling unknown: the aggregate, or m_inner
};
