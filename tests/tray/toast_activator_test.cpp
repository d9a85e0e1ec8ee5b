// The toast activator: what a click on a toast hands the agent, and the COM rules of the
// class object and of aggregation.
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "support/result_error.h"
#include "tray/toast_activator.h"

namespace {

class ToastActivatorTest : public ::testing::Test {
 protected:
  void SetUp() override { live = CToastActivator::LiveObjects(); }
  void TearDown() override { EXPECT_EQ(CToastActivator::LiveObjects(), live) << "a leak"; }

  platform::ComPtr<INotificationActivationCallback> Make() {
    auto factory = CToastActivator::CreateFactory([this](const std::wstring& command) {
      commands.push_back(command);
      if (throws) throw CResultError(E_ACCESSDENIED);
      return command == L"OpenConsole";
    });
    platform::ComPtr<INotificationActivationCallback> activator;
    EXPECT_EQ(
        factory->CreateInstance(nullptr, IID_INotificationActivationCallback, activator.put_void()),
        S_OK);
    return activator;
  }

  long live = 0;
  bool throws = false;
  std::vector<std::wstring> commands;
};

TEST_F(ToastActivatorTest, TheArgumentsAreACommandAndTheAnswerSaysWhetherItRan) {
  auto a = Make();
  const NOTIFICATION_USER_INPUT_DATA input[] = {{L"reply", L"ignored"}};
  EXPECT_EQ(a->Activate(L"Veridane.Dashboard", nullptr, nullptr, 0), S_FALSE);
  EXPECT_TRUE(commands.empty()) << "no arguments: nothing to run";
  EXPECT_EQ(a->Activate(L"Veridane.Dashboard", L"", input, 1), S_FALSE);
  EXPECT_EQ(a->Activate(nullptr, L"OpenConsole", input, 1), S_OK);
  EXPECT_EQ(a->Activate(L"Veridane.Dashboard", L"NoSuchCommand", nullptr, 0), S_FALSE);
  EXPECT_EQ(commands, (std::vector<std::wstring>{L"", L"OpenConsole", L"NoSuchCommand"}));
  throws = true;
  EXPECT_EQ(a->Activate(L"Veridane.Dashboard", L"OpenConsole", nullptr, 0), E_ACCESSDENIED);
}

// An outer object that counts the references its inner object forwards to it.
struct Outer : IUnknown {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  std::atomic<ULONG> refs{1};
};

TEST_F(ToastActivatorTest, AnAggregateGetsTheInnerUnknownAndOwnsTheReferences) {
  auto factory = CToastActivator::CreateFactory([](const std::wstring&) { return true; });
  Outer outer;
  void* p = nullptr;
  EXPECT_EQ(factory->CreateInstance(&outer, IID_INotificationActivationCallback, &p),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);

  platform::ComPtr<IUnknown> inner;
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, inner.put_void()), S_OK);
  platform::ComPtr<INotificationActivationCallback> activator;
  ASSERT_EQ(inner->QueryInterface(IID_INotificationActivationCallback, activator.put_void()), S_OK);
  EXPECT_EQ(outer.refs, 2u) << "the interface's reference is the outer object's";
  EXPECT_EQ(activator->Activate(nullptr, L"x", nullptr, 0), S_OK);
  void* none = nullptr;
  EXPECT_EQ(activator->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE)
      << "asked of the outer object";
  activator.reset();
  EXPECT_EQ(outer.refs, 1u);
}

TEST_F(ToastActivatorTest, TheClassObjectAnswersOnlyForItsInterfaces) {
  auto factory = CToastActivator::CreateFactory(nullptr);
  platform::ComPtr<IUnknown> unk;
  EXPECT_EQ(factory->QueryInterface(IID_IUnknown, unk.put_void()), S_OK);
  void* p = nullptr;
  EXPECT_EQ(factory->QueryInterface(IID_INotificationActivationCallback, &p), E_NOINTERFACE);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  // Without a handler nothing runs.
  platform::ComPtr<INotificationActivationCallback> a;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_INotificationActivationCallback, a.put_void()),
            S_OK);
  EXPECT_EQ(a->Activate(nullptr, L"OpenConsole", nullptr, 0), S_FALSE);
}

}  // namespace
