// The icon itself: the reliable shell call, the record, the flash frames and the colour rule.
#include <cstddef>

#include "tests/tray/tray_fixture.h"

namespace traytest {
namespace {

constexpr DWORD kBusy = ERROR_TIMEOUT;
constexpr DWORD kRefused = ERROR_ACCESS_DENIED;
constexpr UINT kShow = NIF_MESSAGE | NIF_ICON | NIF_TIP;

struct Expected {
  DWORD message;
  UINT flags;
};

void ExpectCalls(const std::vector<ShellCall>& calls, const std::vector<Expected>& want) {
  for (size_t i = 0; i < std::max(calls.size(), want.size()); ++i) {
    SCOPED_TRACE("call " + std::to_string(i));
    ASSERT_LT(i, calls.size()) << "missing, expected message " << want[i].message;
    ASSERT_LT(i, want.size()) << "extra message " << calls[i].message;
    EXPECT_EQ(calls[i].message, want[i].message);
    EXPECT_EQ(calls[i].flags, want[i].flags);
  }
}

// ---- Reliable call, as tables: (shell answers) -> (calls made, result, sleeps) ----

struct ReliableCase {
  const char* name;
  DWORD message;
  UINT flags;
  std::vector<DWORD> script;
  std::vector<Expected> calls;
  bool result;
  size_t sleeps;
};

TEST_F(TrayTest, ReliableCallRetriesOnlyWhileBusyThenAddsThenDeletesAndAdds) {
  const std::vector<ReliableCase> cases = {
      {"busy twice",
       NIM_MODIFY,
       NIF_ICON,
       {kBusy, kBusy, 0},
       {{NIM_MODIFY, NIF_ICON}, {NIM_MODIFY, NIF_ICON}, {NIM_MODIFY, NIF_ICON}},
       true,
       2},
      {"busy five times, add works",
       NIM_MODIFY,
       NIF_ICON,
       {kBusy, kBusy, kBusy, kBusy, kBusy, 0},
       {{NIM_MODIFY, NIF_ICON},
        {NIM_MODIFY, NIF_ICON},
        {NIM_MODIFY, NIF_ICON},
        {NIM_MODIFY, NIF_ICON},
        {NIM_MODIFY, NIF_ICON},
        {NIM_ADD, kShow}},
       true,
       5},
      // A refusal ends the retries at once: one modify, then the fallbacks, each add
      // carrying the callback and tooltip whatever the modify carried.
      {"refused, add refused, delete-and-add works",
       NIM_MODIFY,
       NIF_ICON,
       {kRefused, kRefused, kRefused, 0},
       {{NIM_MODIFY, NIF_ICON}, {NIM_ADD, kShow}, {NIM_DELETE, kShow}, {NIM_ADD, kShow}},
       true,
       3},
      {"refused throughout",
       NIM_MODIFY,
       NIF_ICON,
       {kRefused, kRefused, kRefused, kRefused, kRefused, kRefused},
       {{NIM_MODIFY, NIF_ICON},
        {NIM_ADD, kShow},
        {NIM_DELETE, kShow},
        {NIM_ADD, kShow},
        {NIM_DELETE, kShow},
        {NIM_ADD, kShow}},
       false,
       4},
      {"add refused, delete-and-add",
       NIM_ADD,
       kShow,
       {kRefused, 0, 0},
       {{NIM_ADD, kShow}, {NIM_DELETE, kShow}, {NIM_ADD, kShow}},
       true,
       1},
      {"delete refused: nothing is added", NIM_DELETE, 0, {kRefused}, {{NIM_DELETE, 0}}, false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    plat.shell.Forget();
    plat.kernel.sleeps.clear();
    plat.shell.Script(c.script);
    NOTIFYICONDATAW record{};
    record.uFlags = c.flags;
    EXPECT_EQ(Icon().More_Reliable_Shell_NotifyIcon(c.message, record), c.result);
    ExpectCalls(plat.shell.Calls(), c.calls);
    EXPECT_EQ(plat.kernel.sleeps, std::vector<DWORD>(c.sleeps, 10));
  }
}

TEST_F(TrayTest, RecordHasTheShortSizeVersionWindowAndTruncatedTexts) {
  host.strings[131] = std::wstring(300, L't');
  Logic().OnCreate();
  auto calls = plat.shell.Calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0].message, NIM_SETVERSION);
  EXPECT_EQ(calls[0].cbSize, offsetof(NOTIFYICONDATAW, guidItem));
  EXPECT_EQ(calls[0].timeout, static_cast<UINT>(NOTIFYICON_VERSION));  // shares the union
  EXPECT_EQ(calls[1].message, NIM_ADD);
  EXPECT_EQ(calls[1].tip, std::wstring(127, L't'));
  EXPECT_EQ(calls[1].icon, Icon().Image(0));

  plat.shell.Forget();
  EXPECT_TRUE(Logic().Notify(std::wstring(100, L'h'), std::wstring(400, L'm'), 0, nullptr,
                             NIIF_INFO, 0, 1));
  calls = plat.shell.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].flags, static_cast<UINT>(NIF_INFO));
  EXPECT_EQ(calls[0].title, std::wstring(63, L'h'));
  EXPECT_EQ(calls[0].info, std::wstring(255, L'm'));
  EXPECT_EQ(calls[0].timeout, 25000u);  // 0 asks for the default
}

TEST_F(TrayTest, ShowingNeedsTwoImagesAndResetAddsAnew) {
  plat.gdi.available = {131};
  Logic().OnCreate();
  EXPECT_FALSE(Icon().OnTray());
  EXPECT_EQ(plat.shell.Messages(), std::vector<DWORD>({NIM_SETVERSION}));
  EXPECT_TRUE(Traced("no icons loaded"));

  plat.gdi.available = {131, 132};
  Logic().OnAmbientChange();
  Logic().Show(1);
  EXPECT_TRUE(Icon().OnTray());
  plat.shell.Forget();
  Logic().OnTaskbarCreated();  // the shell restarted: the flag still says on tray
  ExpectCalls(plat.shell.Calls(), {{NIM_ADD, kShow}});
  EXPECT_EQ(plat.shell.Calls()[0].icon, Icon().Image(1));
}

TEST_F(TrayTest, AFailedRemovalKeepsTheIconOnTheTray) {
  ShowIcon();
  plat.shell.Script({kRefused});
  Logic().Hide();
  EXPECT_TRUE(Icon().OnTray());
  EXPECT_TRUE(Traced("Failed to remove tray icon."));
  Logic().Hide();
  EXPECT_FALSE(Icon().OnTray());
}

// ---- Flash: frames on the machine's timer queue, 75 ms apart ----

std::vector<HICON> ModifiedIcons(FakeShell& shell) {
  std::vector<HICON> out;
  for (auto& c : shell.Calls())
    if (c.message == NIM_MODIFY) out.push_back(c.icon);
  return out;
}

TEST_F(TrayTest, FlashShowsTheFiveFramesThenTheRestingImageOfEitherBase) {
  plat.gdi.available = {131, 132, 133, 134, 135, 136};
  for (UINT base : {0u, 1u}) {
    SCOPED_TRACE(base);
    ShowIcon(base);
    ASSERT_EQ(Icon().ImageCount(), 7u);
    ASSERT_TRUE(Icon().StartFlash());
    machine.RunUntilIdle();
    EXPECT_EQ(ModifiedIcons(plat.shell), std::vector<HICON>({Icon().Image(2)}));  // due at once
    machine.AdvanceBy(74);
    EXPECT_EQ(ModifiedIcons(plat.shell).size(), 1u);
    machine.AdvanceBy(1);
    EXPECT_EQ(ModifiedIcons(plat.shell).size(), 2u);
    machine.AdvanceBy(75 * 4);
    EXPECT_EQ(ModifiedIcons(plat.shell),
              std::vector<HICON>({Icon().Image(2), Icon().Image(3), Icon().Image(4),
                                  Icon().Image(5), Icon().Image(6), Icon().Image(base)}));
    for (auto& c : plat.shell.Calls()) EXPECT_EQ(c.flags, static_cast<UINT>(NIF_ICON));
    machine.AdvanceBy(1000);  // parked
    EXPECT_EQ(ModifiedIcons(plat.shell).size(), 6u);
    EXPECT_EQ(Icon().CurrentIndex(), static_cast<int>(base));
    logic.reset();
  }
}

TEST_F(TrayTest, AFrameTheShellRefusesIsNotRetried) {
  ShowIcon();
  plat.kernel.sleeps.clear();
  plat.shell.Script({kBusy});
  ASSERT_TRUE(Icon().StartFlash());
  machine.RunUntilIdle();  // the first frame is due at once, on the timer thread
  machine.AdvanceBy(75);
  EXPECT_EQ(ModifiedIcons(plat.shell), std::vector<HICON>({Icon().Image(2), Icon().Image(3)}));
  EXPECT_TRUE(plat.kernel.sleeps.empty());
}

TEST_F(TrayTest, HidingDuringAFlashEndsItAndTheIconStaysAway) {
  ShowIcon();
  ASSERT_TRUE(Icon().StartFlash());
  machine.AdvanceBy(75);
  Logic().Hide();
  plat.shell.Forget();
  machine.AdvanceBy(1000);
  EXPECT_TRUE(plat.shell.Calls().empty());
  EXPECT_FALSE(Icon().OnTray());
}

TEST_F(TrayTest, NoFlashOffTheTrayOrWithFewerThanThreeImages) {
  Logic().OnCreate();
  Logic().Hide();
  EXPECT_FALSE(Icon().StartFlash());
  plat.gdi.available = {131, 132};
  Logic().OnAmbientChange();
  Logic().Show(0);
  EXPECT_FALSE(Icon().StartFlash());
}

TEST_F(TrayTest, AReloadAfterAFlashShowsTheRestingImageNotOnePastTheArray) {
  ShowIcon(1);
  ASSERT_TRUE(Icon().StartFlash());
  machine.AdvanceBy(75 * 3);  // mid-flash: the cursor is at frame 5
  plat.gdi.available = {131, 132, 136};
  Logic().OnAmbientChange();
  auto calls = plat.shell.Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().icon, Icon().Image(1));
  EXPECT_NE(calls.back().icon, nullptr);
  machine.AdvanceBy(1000);
  EXPECT_EQ(Icon().CurrentIndex(), 1);
}

// ---- Colour rule ----

struct ColourCase {
  COLORREF taskbar;
  COLORREF icons;
  bool converted;
};

TEST_F(TrayTest, IconsGoOnABlueTileOnlyWhenTaskbarAndIconsAreBothLight) {
  const std::vector<ColourCase> cases = {
      {RGB(169, 169, 169), RGB(169, 169, 169), true},
      {RGB(255, 168, 255), RGB(200, 200, 200), false},
      {RGB(200, 200, 200), RGB(200, 200, 168), false},
      {RGB(168, 168, 168), RGB(168, 168, 168), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.taskbar << " " << c.icons);
    plat.gdi.themeColour = c.taskbar;
    plat.gdi.iconColour = c.icons;
    Logic().OnCreate();
    ASSERT_EQ(Icon().ImageCount(), 7u);
    for (size_t i = 0; i < 7; ++i)
      EXPECT_EQ(plat.gdi.IconColour(Icon().Image(i)),
                c.converted ? RGB(0x1E, 0x78, 0xD4) : c.icons);
    logic.reset();
  }
}

TEST_F(TrayTest, WithoutAThemeTheFaceColourDecides) {
  plat.gdi.theme = false;
  plat.gdi.iconColour = RGB(250, 250, 250);
  plat.ui.faceColour = RGB(100, 100, 100);
  Logic().OnCreate();
  EXPECT_EQ(plat.gdi.IconColour(Icon().Image(0)), RGB(250, 250, 250));
  plat.ui.faceColour = RGB(240, 240, 240);
  Logic().OnAmbientChange();
  EXPECT_EQ(plat.gdi.IconColour(Icon().Image(0)), RGB(0x1E, 0x78, 0xD4));
}

TEST_F(TrayTest, ReloadsLeakNoHandles) {
  plat.gdi.iconColour = RGB(220, 220, 220);  // converted at every reload
  Logic().OnCreate();
  const size_t live = plat.gdi.LiveHandles();
  EXPECT_EQ(live, 7u);  // the images and nothing else
  for (int i = 0; i < 20; ++i) Logic().OnAmbientChange();
  EXPECT_EQ(plat.gdi.LiveHandles(), live);
  EXPECT_EQ(plat.gdi.openedThemes, 21);
  logic.reset();
  EXPECT_EQ(plat.gdi.LiveHandles(), 0u);
}

}  // namespace
}  // namespace traytest
