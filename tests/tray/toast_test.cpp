// Toasts on Windows 8 and later: requests wait in the tray's queue for the window's wake-up,
// the toast library gets the fields and the automation strings are freed on every path,
// results come back as the balloon codes, and a click on the agent's own callback posts its
// action to the window.
#include "support/result_error.h"
#include "tests/tray/fake_toast_library.h"
#include "tests/tray/notify_recorder.h"
#include "tests/tray/tray_fixture.h"
#include "tray/balloon.h"

namespace traytest {
namespace {

class ToastTest : public TrayTest {
 protected:
  void SetUp() override {
    ShowIcon();
    plat.ui.toastWindow = kWindow;
    ASSERT_TRUE(Logic().Balloons().UsesToasts());
  }
  bool Notify(const std::wstring& title, const wchar_t* param, IUnknown* cb, DWORD flags = 0,
              UINT id = 0x2A) {
    return Logic().Notify(title, L"the text", param, cb, flags, 0, id);
  }
  size_t BalloonsShown() {
    size_t n = 0;
    for (const auto& c : plat.shell.Calls()) n += c.flags == NIF_INFO && !c.title.empty();
    return n;
  }

  // Some record of any type holding `part`.
  bool TracedPart(const std::string& part) {
    for (const auto& r : sink.Records())
      if (r.text.find(part) != std::string::npos) return true;
    return false;
  }

  FakeToastLibrary library{machine};
};

TEST_F(ToastTest, ARequestWaitsForTheWindowThenGoesToTheLibraryWithItsFields) {
  auto cb = CRecordingCallback::Create();
  const long strings = sim::ProcessCom::LiveStrings();
  ASSERT_TRUE(Notify(L"Title", L"ManageCredentials", cb.get(), 0x10000 | NIIF_WARNING));
  // The wake-up carries nothing; the record waits in the tray's queue.
  EXPECT_EQ(plat.ui.toastWakeups, (std::vector<std::pair<WPARAM, LPARAM>>{{0, 0}}));
  EXPECT_EQ(Logic().Balloons().PendingToasts(), 1u);
  EXPECT_TRUE(library.Calls().empty());
  EXPECT_EQ(Logic().Balloons().QueueSize(), 0u) << "nothing queued as a balloon";

  Logic().OnShowToast();
  ASSERT_EQ(library.Calls().size(), 1u);
  const ToastCall c = library.Calls()[0];
  EXPECT_EQ(c.id, 0x2Au);
  EXPECT_EQ(c.title, L"Title");
  EXPECT_EQ(c.message, L"the text");
  EXPECT_TRUE(c.reservedNull);
  EXPECT_EQ(c.button, std::nullopt);
  EXPECT_EQ(c.idText, L"0000002A");
  EXPECT_EQ(c.flags, 0x10000u | NIIF_WARNING);
  EXPECT_EQ(c.param, L"ManageCredentials");
  EXPECT_EQ(c.liveStrings, strings + 4) << "title, message, id text and param";
  EXPECT_EQ(sim::ProcessCom::LiveStrings(), strings) << "all freed after the call";
  EXPECT_EQ(Logic().Balloons().PendingToasts(), 0u);
  EXPECT_EQ(BalloonsShown(), 0u);
  EXPECT_EQ(cb->OtherReferences(), 1u) << "held by the toast on show";
  EXPECT_TRUE(Traced("param: ManageCredentials"));
  EXPECT_TRUE(Traced("id: 0x0000002A"));

  Logic().OnShowToast();  // a second wake-up finds nothing
  EXPECT_EQ(library.Calls().size(), 1u);
}

TEST_F(ToastTest, AnEmptyTitleShowsTheProductNameAndTheButtonFlagAddsItsText) {
  host.strings[131] = L"Veridane Agent";
  host.strings[620] = L"Set up now";
  const long strings = sim::ProcessCom::LiveStrings();
  ASSERT_TRUE(Notify(L"", nullptr, nullptr, 0x20000));
  Logic().OnShowToast();
  ASSERT_EQ(library.Calls().size(), 1u);
  const ToastCall c = library.Calls()[0];
  EXPECT_EQ(c.title, L"Veridane Agent");
  EXPECT_EQ(c.button, L"Set up now");
  EXPECT_EQ(c.param, std::nullopt) << "no command stays null";
  EXPECT_EQ(c.flags, 0x20000u);
  EXPECT_EQ(sim::ProcessCom::LiveStrings(), strings);
  EXPECT_TRUE(Traced("param: (null)"));
  EXPECT_TRUE(Traced("callback: 0x0"));
}

TEST_F(ToastTest, ResultsReachTheCallbackAsBalloonCodesAndReleaseIt) {
  const std::vector<std::pair<INT32, UINT>> table = {
      {0, NIN_BALLOONUSERCLICK}, {3, NIN_BALLOONTIMEOUT}, {5, kTrayNotifyToastButton},
      {1, NIN_BALLOONHIDE},      {2, NIN_BALLOONHIDE},    {-1, NIN_BALLOONHIDE}};
  for (size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(table[i].first);
    auto cb = CRecordingCallback::Create(i == 1 ? E_FAIL : S_OK);
    ASSERT_TRUE(Notify(L"t", nullptr, cb.get(), 0, static_cast<UINT>(i)));
    Logic().OnShowToast();
    EXPECT_EQ(library.Complete(i, table[i].first), i == 1 ? E_FAIL : S_OK);
    EXPECT_EQ(cb->TellsSoFar(), (CRecordingCallback::Told{{table[i].second, UINT(i)}}));
    EXPECT_EQ(cb->OtherReferences(), 0u);
  }
  EXPECT_TRUE(Traced("toastResult = 5"));
}

TEST_F(ToastTest, AToastWithoutCallbackOrWithADeafOneEndsWithItsResult) {
  auto deaf = CRecordingCallback::Create();
  deaf->refuseNotify = true;
  Notify(L"t", nullptr, nullptr);
  Notify(L"t", nullptr, deaf.get());
  Logic().OnShowToast();
  EXPECT_EQ(library.Complete(0, 0), E_INVALIDARG);
  EXPECT_EQ(library.Complete(1, 0), E_NOINTERFACE);
  EXPECT_EQ(deaf->OtherReferences(), 0u);
}

TEST_F(ToastTest, AFailedDisplayTellsNobodyReleasesTheCallbackAndShowsNoBalloon) {
  library.result = E_ACCESSDENIED;
  auto cb = CRecordingCallback::Create();
  const long strings = sim::ProcessCom::LiveStrings();
  Notify(L"t", L"OpenConsole", cb.get(), 0x20000);
  Logic().OnShowToast();
  ASSERT_EQ(library.Calls().size(), 1u);
  EXPECT_EQ(cb->OtherReferences(), 0u);
  EXPECT_TRUE(cb->TellsSoFar().empty());
  EXPECT_EQ(sim::ProcessCom::LiveStrings(), strings);
  EXPECT_EQ(BalloonsShown(), 0u);
  EXPECT_TRUE(TracedPart("WinRT_DisplayToast")) << "traced with its result";
}

TEST_F(ToastTest, WithoutTheLibraryTheToastIsDroppedAndTheCallbackReleased) {
  machine.Modules().Uninstall(FakeToastLibrary::kPath);
  auto cb = CRecordingCallback::Create();
  Notify(L"t", nullptr, cb.get());
  Logic().OnShowToast();
  EXPECT_EQ(cb->OtherReferences(), 0u);
  EXPECT_TRUE(TracedPart("Cannot load VDWinRTUtils.dll, 0x8007007E"));
}

TEST_F(ToastTest, WithoutAWindowTheRequestBecomesABalloon) {
  auto cb = CRecordingCallback::Create();
  plat.ui.toastPostSucceeds = FALSE;
  ASSERT_TRUE(Notify(L"one", nullptr, cb.get()));
  EXPECT_EQ(Logic().Balloons().PendingToasts(), 0u) << "the record was taken back";
  EXPECT_EQ(BalloonsShown(), 1u);
  EXPECT_EQ(cb->OtherReferences(), 1u) << "the balloon's reference only";

  plat.ui.toastWindow = nullptr;
  ASSERT_TRUE(Notify(L"two", nullptr, nullptr));
  EXPECT_EQ(plat.ui.toastWakeups.size(), 1u) << "no window: nothing posted";
  EXPECT_EQ(Logic().Balloons().QueueSize(), 2u);
  Logic().OnShowToast();
  EXPECT_TRUE(library.Calls().empty());
}

TEST_F(ToastTest, RequestsLeftAtDestroyAreReleasedUntold) {
  auto cb = CRecordingCallback::Create();
  Notify(L"t", nullptr, cb.get());
  Notify(L"t", nullptr, cb.get());
  EXPECT_EQ(cb->OtherReferences(), 2u);
  Logic().OnDestroy();
  EXPECT_EQ(cb->OtherReferences(), 0u);
  Logic().OnShowToast();
  EXPECT_TRUE(library.Calls().empty());
  EXPECT_TRUE(cb->TellsSoFar().empty());
}

TEST_F(ToastTest, AToastOnShowOutlivesTheTrayAndStillEnds) {
  auto cb = CRecordingCallback::Create();
  Notify(L"t", nullptr, cb.get());
  Logic().OnShowToast();
  Logic().OnDestroy();
  logic.reset();
  // The library is still loaded for the completion to come.
  EXPECT_EQ(library.Complete(0, 3), S_OK);
  EXPECT_EQ(cb->TellsSoFar(), (CRecordingCallback::Told{{NIN_BALLOONTIMEOUT, 0x2A}}));
  EXPECT_EQ(cb->OtherReferences(), 0u);
}

// ---- The agent's own callback ----

class BalloonCallbackTest : public ::testing::Test {
 protected:
  TrayTaskPoster Poster() {
    return [this](std::function<void()> task) {
      if (!windowAlive) return false;
      posted.push_back(std::move(task));
      return true;
    };
  }
  platform::ComPtr<IVDNXTrayNotifyCallback> Make(std::function<HRESULT()> action) {
    platform::ComPtr<IUnknown> unk = CBalloon::Create(Poster(), std::move(action));
    platform::ComPtr<IVDNXTrayNotifyCallback> cb;
    EXPECT_EQ(unk->QueryInterface(IID_IVDNXTrayNotifyCallback, cb.put_void()), S_OK);
    return cb;
  }

  bool windowAlive = true;
  std::vector<std::function<void()>> posted;
};

TEST_F(BalloonCallbackTest, OnlyAClickPostsTheActionAndOnlyOnce) {
  const long live = CBalloonItemBase::LiveObjects();
  int ran = 0;
  {
    auto cb = Make([&] { return ++ran, S_OK; });
    EXPECT_EQ(CBalloonItemBase::LiveObjects(), live + 1);
    for (UINT code : {UINT{NIN_BALLOONHIDE}, UINT{NIN_BALLOONTIMEOUT}, kTrayNotifyToastButton})
      EXPECT_EQ(cb->OnTrayNotify(code, 1), S_OK);
    EXPECT_TRUE(posted.empty());
    EXPECT_EQ(cb->OnTrayNotify(NIN_BALLOONUSERCLICK, 1), S_OK);
    EXPECT_EQ(ran, 0) << "not on the caller's thread";
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(cb->OnTrayNotify(NIN_BALLOONUSERCLICK, 1), S_OK);
    EXPECT_EQ(posted.size(), 1u);
    void* other = nullptr;
    EXPECT_EQ(cb->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
  }
  EXPECT_EQ(CBalloonItemBase::LiveObjects(), live) << "the last release deletes it";
  posted[0]();
  EXPECT_EQ(ran, 1) << "the task keeps the action alive on its own";
}

TEST_F(BalloonCallbackTest, WithTheWindowGoneTheActionIsOnlyReleased) {
  auto held = std::make_shared<int>(0);
  auto cb = Make([held] { return ++*held, S_OK; });
  EXPECT_EQ(held.use_count(), 2);
  windowAlive = false;
  EXPECT_EQ(cb->OnTrayNotify(NIN_BALLOONUSERCLICK, 1), S_FALSE);
  EXPECT_EQ(held.use_count(), 1);
  EXPECT_EQ(*held, 0);
}

TEST_F(BalloonCallbackTest, AnActionThatThrowsStaysInItsTask) {
  auto cb = Make([]() -> HRESULT { throw CResultError(E_ACCESSDENIED); });
  cb->OnTrayNotify(NIN_BALLOONUSERCLICK, 1);
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_NO_THROW(posted[0]());
}

TEST_F(ToastTest, TheTraysPosterStopsWithTheWindow) {
  int ran = 0;
  auto unk = CBalloon::Create(Logic().TaskPoster(), [&] { return ++ran, S_OK; });
  ASSERT_TRUE(Notify(L"t", nullptr, unk.get()));
  Logic().OnShowToast();
  // The library's thread reports the click; the action waits for the window's thread.
  EXPECT_EQ(library.Complete(0, 0), S_OK);
  EXPECT_EQ(ran, 0);
  host.RunPosted();
  EXPECT_EQ(ran, 1);

  auto late = CBalloon::Create(Logic().TaskPoster(), [&] { return ++ran, S_OK; });
  Logic().OnDestroy();
  platform::ComPtr<IVDNXTrayNotifyCallback> cb;
  late->QueryInterface(IID_IVDNXTrayNotifyCallback, cb.put_void());
  EXPECT_EQ(cb->OnTrayNotify(NIN_BALLOONUSERCLICK, 0), S_FALSE);
  EXPECT_TRUE(host.posted.empty());
}

}  // namespace
}  // namespace traytest

namespace {

// A completion whose context the library never got from us (or got back already) is refused
// without touching it: deleting it would free what is not ours.
TEST(ToastCompletionTest, AContextThatIsNotAPendingToastIsRefused) {
  int notAnItem = 7;
  EXPECT_EQ(CToastItem::ToastCallback(&notAnItem, 0), E_INVALIDARG);
  EXPECT_EQ(CToastItem::ToastCallback(nullptr, 0), E_INVALIDARG);
  EXPECT_EQ(notAnItem, 7);
}

}  // namespace
