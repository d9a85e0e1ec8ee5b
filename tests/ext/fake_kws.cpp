#include "tests/ext/fake_kws.h"

#include "platform/sim/module_table.h"
#include "platform/sim/registry_store.h"
#include "support/guid_string.h"

namespace kws_test {

namespace {

template <typename F>
FARPROC Proc(F f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

HRESULT WINAPI FakeInit(HWND hWnd, UINT uMsg) {
  ++FillIn().inits;
  FillIn().initWindow = hWnd;
  FillIn().initMessage = uMsg;
  return S_OK;
}
HRESULT WINAPI FakeCommand(DWORD cmd, ULONG_PTR param, DWORD* result) {
  FillIn().commands.push_back({cmd, param});
  *result = FillIn().commandOut;
  return FillIn().commandResult;
}
void WINAPI FakeTerminate() { ++FillIn().terminates; }

class FakePm : public IVDPasswordManager {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IVDPasswordManager) {
      AddRef();
      *ppv = this;
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    ++Pm().live;
    return static_cast<ULONG>(++m_refs);
  }
  ULONG STDMETHODCALLTYPE Release() override {
    --Pm().live;
    const int left = --m_refs;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved6() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ShowMiniDashboard(BYTE trained) override {
    Pm().shows.push_back(trained);
    return Pm().showResult;
  }
  HRESULT STDMETHODCALLTYPE InitUserTrainingTool() override {
    ++Pm().trainingInits;
    return S_OK;
  }

 private:
  virtual ~FakePm() = default;
  int m_refs = 0;
};

class FakeFactory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
    if (Pm().factoryGivesNull) {
      *ppv = nullptr;
      return S_OK;
    }
    ++Pm().created;
    auto* pm = new FakePm;
    pm->AddRef();
    const HRESULT hr = pm->QueryInterface(riid, ppv);
    pm->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

HRESULT STDAPICALLTYPE FakeGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
  static FakeFactory factory;
  if (clsid != CLSID_VDPasswordManager) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, ppv);
}

}  // namespace

FillInCalls& FillIn() {
  static FillInCalls calls;
  return calls;
}

PasswordManagerCalls& Pm() {
  static PasswordManagerCalls calls;
  return calls;
}

void InstallFillIn(sim::Machine& m, const std::string& missing) {
  sim::ModuleTable::Exports exports{{"VDKWSInit", Proc(&FakeInit)},
                                    {"VDKWSCommand", Proc(&FakeCommand)},
                                    {"VDKWSTerminate", Proc(&FakeTerminate)}};
  exports.erase(missing);
  m.Modules().Install(kComponentPath, std::move(exports));
  m.Registry().SetString(kPluginKey32, L"", kComponentPath);
}

void InstallPasswordManager(sim::Machine& m) {
  m.Modules().Install(kServerPath, {{"DllGetClassObject", Proc(&FakeGetClassObject)}});
  m.Registry().SetString(L"HKCR\\Wow6432Node\\CLSID\\" +
                             support::GuidToString(CLSID_VDPasswordManager) + L"\\InprocServer32",
                         L"", kServerPath);
}

}  // namespace kws_test
