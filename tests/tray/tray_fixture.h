// One agent process on the simulated machine with the tray doubles of tray_test_platform.h,
// the tray logic and a window-side host whose task queue runs on a virtual clock.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/agent_process.h"
#include "platform/sim/module_table.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "tests/tray/tray_test_platform.h"
#include "tray/tray_icon_logic.h"
#include "tray/tray_menu.h"

namespace traytest {

inline const HWND kWindow = Fake<HWND>(0x3A1);

// The window's side: posted tasks wait for RunPosted, scheduled ones for Advance.
class FakeHost : public ITrayHost {
 public:
  explicit FakeHost(platform::IUi& ui) : m_ui(ui) {}

  HWND TrayWindow() override { return kWindow; }
  void PostTrayTask(std::function<void()> task) override { posted.push_back(std::move(task)); }
  UINT ScheduleTrayTask(UINT delayMs, std::function<bool(UINT)> task) override {
    const UINT id = ++m_lastId;
    scheduled[id] = {now + delayMs, std::move(task)};
    return id;
  }
  void CancelTrayTask(UINT id) override {
    cancelled.push_back(id);
    scheduled.erase(id);
  }
  HINSTANCE TrayResourceModule() override { return Fake<HINSTANCE>(0x400000); }
  std::wstring TrayString(UINT id) override {
    auto it = strings.find(id);
    return it != strings.end() ? it->second : L"text " + std::to_wstring(id);
  }
  HMENU BuildTrayMenu() override {
    if (menuFails) throw std::runtime_error("menu");
    tray::TrayMenuParts parts;
    parts.text = [this](UINT id) { return TrayString(id); };
    UINT first = 0, last = 0;
    return tray::BuildTrayMenu(m_ui, parts, first, last);
  }
  void LaunchConsole() override { ++consoleLaunches; }

  // Runs what was posted, and what that posts, until nothing is left.
  void RunPosted() {
    while (!posted.empty()) {
      auto task = std::move(posted.front());
      posted.erase(posted.begin());
      task();
    }
  }
  // Moves the virtual clock, running scheduled tasks as they fall due, then posted ones.
  void Advance(ULONGLONG ms) {
    const ULONGLONG end = now + ms;
    for (;;) {
      auto due = scheduled.end();
      for (auto it = scheduled.begin(); it != scheduled.end(); ++it)
        if (it->second.due <= end && (due == scheduled.end() || it->second.due < due->second.due))
          due = it;
      if (due == scheduled.end()) break;
      now = due->second.due;
      const UINT id = due->first;
      auto task = due->second.task;
      if (task(id)) scheduled.erase(id);
      RunPosted();
    }
    now = end;
    RunPosted();
  }

  struct Scheduled {
    ULONGLONG due;
    std::function<bool(UINT)> task;
  };
  ULONGLONG now = 0;
  std::vector<std::function<void()>> posted;
  std::map<UINT, Scheduled> scheduled;
  std::vector<UINT> cancelled;
  std::map<UINT, std::wstring> strings;
  bool menuFails = false;
  int consoleLaunches = 0;

 private:
  platform::IUi& m_ui;
  UINT m_lastId = 9999;
};

class TrayTest : public ::testing::Test {
 protected:
  TrayTest()
      : proc(machine.CreateProcess({})),
        scope(proc.get()),
        plat(*proc),
        agent(plat, nullptr),
        host(plat.ui) {
    VDTraceNS::Bind(proc.get());
    // Visual styles are there; the drawing double decides whether a theme is active.
    machine.Modules().Install(L"C:\\Windows\\system32\\uxtheme.dll", {});
  }
  ~TrayTest() override {
    logic.reset();
    VDTraceNS::Bind(nullptr);
  }

  CTrayIconLogic& Logic() {
    if (!logic) logic = std::make_unique<CTrayIconLogic>(agent, host);
    return *logic;
  }
  CTrayIcon& Icon() { return Logic().Icon(); }
  // The icon added with resting image `base`, the shell's record of it forgotten.
  void ShowIcon(UINT base = 0) {
    Logic().OnCreate();
    Logic().Show(base);
    ASSERT_TRUE(Icon().OnTray());
    plat.shell.Forget();
  }
  std::wstring KwAppSettingsKey() {
    return L"HKU\\" + machine.Sessions().UserSid(1) +
           L"\\SOFTWARE\\Veridane\\Applications\\KwAppSettings";
  }
  bool Traced(const std::string& text) { return sink.Contains('U', text); }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  std::unique_ptr<sim::Process> proc;
  sim::CurrentProcessScope scope;
  TrayPlatform plat;
  core::CAgentProcess agent;
  FakeHost host;
  std::unique_ptr<CTrayIconLogic> logic;
};

}  // namespace traytest
